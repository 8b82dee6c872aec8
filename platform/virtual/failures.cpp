// Failure injection: steps the tests make fail (vtFailStep), asked by the
// platform layers through sysShouldFail.
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/sys.h"
#include "platform/virtual/virtual.h"

namespace {

std::mutex g_failLock;
std::multiset<std::string> g_failSteps;

}  // namespace

void vtFailStep(const std::string& step) {
    std::lock_guard<std::mutex> guard(g_failLock);
    g_failSteps.insert(step);
}

bool sysShouldFail(const char* step) {
    std::lock_guard<std::mutex> guard(g_failLock);
    auto it = g_failSteps.find(step);
    if (it == g_failSteps.end()) return false;
    if (strcmp(step, "Lock:lost") == 0) g_failSteps.erase(it);  // lost once, then restored
    return true;
}
