#include "cli/toolthreads.h"

#include <atomic>

namespace veltrane {

namespace {

std::atomic<int> g_allowance{-1};

} // namespace

void ToolThreads::Allow(int count) {
    g_allowance.store(count);
}

bool ToolThreads::TakeAllowance() {
    int left = g_allowance.load();
    while (left > 0 && !g_allowance.compare_exchange_weak(left, left - 1)) {
    }
    return left != 0;
}

} // namespace veltrane
