// The mixed sound as a WAV file (16-bit stereo at 44,100 Hz, as the output
// hears it), written with libsndfile as the virtual clock runs, through a
// temporary file renamed in once complete (VtOutput).
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/virtual/virtual.h"
#include "tools/capture/capture.h"

namespace {

struct Sound {
    std::string path;
    VtOutput output;
    SNDFILE* file = nullptr;
    long long frames = 0;
    bool failed = false;
};
Sound* g_sound = nullptr;

void fail(Sound& s, const std::string& why) {
    if (!s.failed) fprintf(stderr, "velkor-capture: %s was not written: %s\n", s.path.c_str(), why.c_str());
    s.failed = true;
    vtOutputFailed();
}

}  // namespace

bool soundStart(const std::string& path) {
    auto* s = new Sound();
    s->path = path;
    std::string why;
    if (!vtOutputOpen(path, s->output, why)) {
        fail(*s, "cannot create it (" + why + ")");
        delete s;
        return false;
    }
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    // The descriptor stays ours to close (libsndfile's last argument).
    s->file = sf_open_fd(s->output.fd, SFM_WRITE, &info, 0);
    if (!s->file) {
        fail(*s, std::string("cannot start it (") + sf_strerror(nullptr) + ")");
        close(s->output.fd);
        vtOutputEnd(s->output, false, why);
        delete s;
        return false;
    }
    g_sound = s;
    return true;
}

void soundWrite(const int16_t* frames, int count) {
    Sound* s = g_sound;
    if (!s || s->failed) return;
    if (sf_writef_short(s->file, frames, count) != count)
        return fail(*s, std::string("writing failed (") + sf_strerror(s->file) + ")");
    s->frames += count;
}

void soundFinish(bool complete) {
    Sound* s = g_sound;
    if (!s) return;
    g_sound = nullptr;
    // sf_close writes the header's sizes.
    if (sf_close(s->file) != 0 && complete) fail(*s, "writing failed (the file could not be finished)");
    if (close(s->output.fd) != 0 && complete) fail(*s, std::string("writing failed (") + strerror(errno) + ")");
    std::string why;
    if (!vtOutputEnd(s->output, complete && !s->failed, why) && complete && !s->failed)
        fail(*s, "cannot rename it in (" + why + ")");
    else if (complete && !s->failed)
        fprintf(stderr, "velkor-capture: %s: %lld frames of sound, %.2f s\n", s->path.c_str(), s->frames,
                s->frames / 44100.0);
    delete s;
}
