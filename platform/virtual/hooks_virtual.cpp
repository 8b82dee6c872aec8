// The headless backend's hooks: failure injection (steps the tests make fail
// with vtFailStep) and the trace, one line per event, each with the virtual
// time in milliseconds and the number of show passes so far.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/hooks/hooks.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

std::mutex g_failLock;
std::multiset<std::string> g_failSteps;

FILE* g_trace = nullptr;
std::mutex g_traceLock;

void writeLine(const char* text) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (!g_trace) return;
    int64_t now = vtNow();
    fprintf(g_trace, "%lld.%04lld %lld %s\n", (long long)(now / 10000), (long long)(now % 10000),
            (long long)vtPassCount(), text);
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
    if (g_trace) fclose(g_trace);
    g_trace = nullptr;
}

void vtSetTraceFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_traceLock);
    if (g_trace) fclose(g_trace);
    g_trace = path.empty() ? nullptr : fopen(path.c_str(), "w");
    if (!path.empty() && !g_trace) fprintf(stderr, "%s: cannot write the trace file\n", path.c_str());
}
