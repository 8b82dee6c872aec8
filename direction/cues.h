// The positions of the timeline's 27 cues in the music, in bytes of decoded
// 16-bit stereo at 44,100 Hz (176,400 a second).
#pragma once
#include <cstdint>

constexpr uint32_t kCuePositions[27] = {
    46076,    488884,   965036,   1453660,  1922412,  2873392,  3800968,  4747584,  4800000,
    5220928,  5270000,  5610000,  5691256,  7625968,  9526380,  11436032, 13341332, 14064293,
    14304870, 15026601, 15238296, 15958798, 16199375, 16907768, 17142472, 19030000, 20800000,
};

// How much music the show plays: up to the last cue, then the finale, which
// slows the music to a stop over 441 passes (at 60 passes a second it plays
// under four seconds of it; eight leave room for slower displays).
constexpr uint32_t kShowMusicBytes = kCuePositions[26] + 8 * 176400;
