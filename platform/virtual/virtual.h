// Control of the headless backend: the deterministic virtual clock and
// display, the scripted dialog and keys, shots, the trace and failure
// injection. Used by velkor-capture and the tests, never by the show.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int64_t kVtTicksPerSecond = 10000000;

// Virtual display rate in frames per second (default 60).
void vtSetDisplayRate(int fps);

// Dialog script, one action a word, run in order when the dialog opens:
// "click:ID" (a click on the control with that id), "tab", "space", "enter",
// "escape", "close". Default: {"click:103"} (Launch! in full screen).
void vtSetDialogScript(const std::vector<std::string>& actions);
// The dialog as it looks when it opens goes to this PNG file.
void vtSetDialogShot(const std::string& path);

// A key press (virtual key code) or the close box at a virtual time.
void vtScheduleKey(double seconds, int virtualKey);
void vtScheduleClose(double seconds);

// Ends the run at that virtual time: ExitProcess(0) from the scheduler.
void vtEndAt(double seconds);

// Called at every vertical blank with the virtual time and the picture the
// display shows (0x00RRGGBB, rows width * 4 bytes apart): 640 x 480 times the
// render scale.
void vtSetFrameHook(std::function<void(int64_t ticks, const uint32_t* pixels, int width, int height)> hook);

// Full-screen 3D is drawn this many times larger than 640 x 480 (1 to 4.5:
// 2.25 for 1440 x 1080, 4.5 for 2880 x 2160), and the display is that large:
// 2D pictures are enlarged smoothly.
void vtSetRenderScale(double scale);
// 2: full-screen 3D is drawn with smooth edges (four coverage samples a pixel); 1: not.
void vtSetRenderSamples(int samples);

// Called once when the process ends, before it exits, with the exit code.
void vtSetExitHook(std::function<void(int code)> hook);

// Ends the run at the scheduler's next turn with ExitProcess(code), as
// vtEndAt does. Safe in a signal handler (it only sets an atomic word).
void vtRequestExit(int code);

// An output file was not written (each writer says why on stderr): a run
// that ends with code 0 then exits with status 1. The trace still says
// "exit 0".
void vtOutputFailed();

// Output files: a name that stands for a regular file, or for none yet, is
// written under a private temporary name beside the file it stands for
// (symlinks followed) and renamed onto that file once complete. Anything else
// (a device, a pipe) is written to directly, and is never replaced or removed.
struct VtOutput {
    std::string target;     // the file renamed onto
    std::string temporary;  // empty when written directly
    int fd = -1;
};
// Opens `path` for writing; false with the reason in `why`.
bool vtOutputOpen(const std::string& path, VtOutput& out, std::string& why);
// After the writer closed out.fd: renames the temporary file onto the target
// when `complete`, else removes it. False (with `why` when the rename failed)
// when the file was not written.
bool vtOutputEnd(VtOutput& out, bool complete, std::string& why);
// The file a name stands for: symlinks followed (to a file not made yet,
// too) and its folder absolute. For telling whether two names are one file.
std::string vtOutputTarget(const std::string& path);

// Trace lines go to this file (nothing when empty), through a temporary file
// renamed in when the trace is closed (another path, or the end). False (with
// a message) when it cannot be written.
bool vtSetTraceFile(const std::string& path);

// Makes a step fail (see hookShouldFail in platform/hooks/hooks.h). "Lock:lost" makes
// the next lock answer "surface lost" once.
void vtFailStep(const std::string& step);

// Mixed audio, 44,100 Hz stereo 16-bit, handed over in time order as the
// virtual clock moves on.
void vtSetAudioSink(std::function<void(const int16_t* frames, int count)> sink);

// Current virtual time in ticks, and the number of show passes so far
// (PeekMessageA calls that found no message).
int64_t vtNow();
int64_t vtPassCount();

// Messages the show put in message boxes, in order (the virtual box is
// answered at once).
const std::vector<std::string>& vtMessageBoxes();
