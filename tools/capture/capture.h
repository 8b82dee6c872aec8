// Writing the show to a video file as the virtual clock runs.
#pragma once
#include <cstdint>
#include <string>

struct CaptureOptions {
    std::string out;     // empty: no video
    bool lossless = false;
    double scale = 1;    // the display's size: 640 x 480 times this
    int fps = 60;
    double until = -1;   // seconds, or -1 for the whole show
};

// Opens the file (a temporary one beside it) and the encoders; false (with
// a message) when it cannot.
bool captureStart(const CaptureOptions& options);
// One video frame at a vertical blank; nothing when no video is written.
void captureFrame(int64_t ticks, const uint32_t* pixels, int width, int height);
// Mixed audio in time order.
void captureAudio(const int16_t* frames, int count);
// At the end of the run: the file finished and renamed in (`complete`), or,
// for a run cut short, its temporary file removed. A file not written says
// why and makes the run end with status 1 (vtOutputFailed).
void captureFinish(bool complete);

// The mixed sound alone, as a WAV file (--audio): opened before the show
// starts (false, with a message, when it cannot be), written in time order,
// and finished (renamed in) or, for a run cut short, removed.
bool soundStart(const std::string& path);
void soundWrite(const int16_t* frames, int count);
void soundFinish(bool complete);
