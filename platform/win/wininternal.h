// Shared between the window layers of the two backends.
#pragma once
#include "platform/win/win.h"

// The procedure of a registered class, or null.
WNDPROC winClassProcedure(const char* className);
