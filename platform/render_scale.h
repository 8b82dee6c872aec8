// The largest render scale (full-screen 3D drawn this many times 640 x 480):
// 4.5 is 2880 x 2160, the 4:3 part of a 3840 x 2160 screen. VELKOR_SCALE,
// velkor-capture's --scale and the page's ?scale= take 1 to this, and the
// size chosen from the display goes no higher.
#pragma once

constexpr double kMaxRenderScale = 4.5;
