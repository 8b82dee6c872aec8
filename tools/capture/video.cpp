// Video capture. TEMPORARY: the encoder comes with the capture-to-video
// change; until then --out is refused and the hooks do nothing.
#include <cstdio>

#include "tools/capture/capture.h"

bool captureStart(const CaptureOptions& options) {
    fprintf(stderr, "velkor-capture: %s: writing video is not available in this build yet\n", options.out.c_str());
    return false;
}

void captureFrame(int64_t, const uint32_t*) {}
void captureAudio(const int16_t*, int) {}
void captureFinish(int) {}
