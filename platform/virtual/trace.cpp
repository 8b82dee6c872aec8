// The headless backend's trace: one line per event, each with the virtual
// time in milliseconds and the number of show passes so far.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/sys.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

FILE* g_trace = nullptr;
std::mutex g_traceLock;

}  // namespace

void vtTrace(const char* format, ...) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (!g_trace) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    int64_t now = vtNow();
    fprintf(g_trace, "%lld.%04lld %lld %s\n", (long long)(now / 10000), (long long)(now % 10000),
            (long long)vtPassCount(), text);
}

void vtCloseTrace() {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (g_trace) fclose(g_trace);
    g_trace = nullptr;
}

void vtSetTraceFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (g_trace) fclose(g_trace);
    g_trace = path.empty() ? nullptr : fopen(path.c_str(), "w");
    if (!path.empty() && !g_trace) fprintf(stderr, "%s: cannot write the trace file\n", path.c_str());
}

void sysTrace(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    vtTrace("%s", text);
}
