#include "platform/posix/FaultInjection.h"

#include <atomic>

namespace platform::posix {
namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_count{0};
std::atomic<std::uint64_t> g_failAt{0};

}  // namespace

void StartOperationCount(std::uint64_t failAt) {
    g_count = 0;
    g_failAt = failAt;
    g_counting = true;
}

std::uint64_t StopOperationCount() {
    g_counting = false;
    return g_count;
}

bool OperationFails() {
    if (!g_counting) return false;
    const std::uint64_t number = ++g_count;
    return number == g_failAt;
}

}  // namespace platform::posix
