// The hooks of a program without tests or a trace: nothing fails on purpose
// and nothing is traced.
#include "platform/hooks/hooks.h"

bool hookShouldFail(const char*) { return false; }

void hookTrace(const char*, ...) {}
