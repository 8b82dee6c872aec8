// The headless backend's hooks: failure injection (steps the tests make fail
// with vtFailStep) and the trace, one line per event, each with the virtual
// time in milliseconds and the number of show passes so far.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>

#include "platform/hooks/hooks.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

std::mutex g_failLock;
std::multiset<std::string> g_failSteps;

// The trace goes to a temporary file (VtOutput) renamed in when it is
// closed whole; the first write error is kept for the message.
FILE* g_trace = nullptr;
VtOutput g_traceOutput;
std::string g_tracePath;
int g_traceError = 0;
std::mutex g_traceLock;

void writeLine(const char* text) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (!g_trace) return;
    int64_t now = vtNow();
    if (fprintf(g_trace, "%lld.%04lld %lld %s\n", (long long)(now / 10000), (long long)(now % 10000),
                (long long)vtPassCount(), text) < 0 && !g_traceError)
        g_traceError = errno;
}

void traceFailed(const std::string& why) {
    fprintf(stderr, "%s: cannot write the trace (%s)\n", g_tracePath.c_str(), why.c_str());
    vtOutputFailed();
}

void closeTrace() {
    if (!g_trace) return;
    if (fflush(g_trace) != 0 && !g_traceError) g_traceError = errno;
    if (fclose(g_trace) != 0 && !g_traceError) g_traceError = errno;
    g_trace = nullptr;
    std::string why = g_traceError ? strerror(g_traceError) : "";
    if (!vtOutputEnd(g_traceOutput, g_traceError == 0, why)) traceFailed(why);
}

}  // namespace

void vtFailStep(const std::string& step) {
    std::lock_guard<std::mutex> guard(g_failLock);
    g_failSteps.insert(step);
}

bool hookShouldFail(const char* step) {
    std::lock_guard<std::mutex> guard(g_failLock);
    auto it = g_failSteps.find(step);
    if (it == g_failSteps.end()) return false;
    if (strcmp(step, "Lock:lost") == 0) g_failSteps.erase(it);  // lost once, then restored
    return true;
}

void hookTrace(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    writeLine(text);
}

void vtCloseTrace() {
    std::lock_guard<std::mutex> guard(g_traceLock);
    closeTrace();
}

bool vtSetTraceFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    closeTrace();
    g_tracePath = path;
    g_traceError = 0;
    if (path.empty()) return true;
    std::string why;
    if (vtOutputOpen(path, g_traceOutput, why) && !(g_trace = fdopen(g_traceOutput.fd, "w"))) {
        why = strerror(errno);
        close(g_traceOutput.fd);
        vtOutputEnd(g_traceOutput, false, why);
    }
    if (!g_trace) traceFailed(why);
    return g_trace != nullptr;
}
