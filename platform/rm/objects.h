// Inside the retained-mode layer: its objects, one header for them all. The
// vector maths and rigid transforms are in xform.h, the lock and the
// reference-counted base in base.h, materials, textures and mesh builders in
// mesh.h, lights, frames, wraps and animations in frame.h.
#pragma once
#include <cstring>  // still here for the files that include this one (memcpy, memcmp)

#include "platform/rm/base.h"
#include "platform/rm/frame.h"
#include "platform/rm/mesh.h"
#include "platform/rm/xform.h"
