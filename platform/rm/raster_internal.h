// What the rasterizer's files share: the row loops behind rasterRows.
#pragma once
#include "platform/rm/raster.h"

namespace rm::raster {

// Draws a set-up triangle's rows [s.yStart, s.yEnd] with the loops its flags
// call for.
void drawSetUpRows(const RTarget& t, const RasterSetup& s);

// The same on a target with samples (t.samples == kSamples).
void drawSampledRows(const RTarget& t, const RasterSetup& s);

}  // namespace rm::raster
