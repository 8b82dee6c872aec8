// Inside the audio library: decoding a sound file to 16-bit stereo 44,100 Hz.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The file name with '\' separators turned into '/'.
std::string bassNativePath(const char* file);
// Decodes a WAV or MP3 file into interleaved stereo samples; false (with one
// line on stderr naming the file) when it cannot be read or decoded.
bool bassDecodeFile(const char* file, std::vector<int16_t>& out);
