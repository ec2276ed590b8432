#pragma once
// The threads the tool makes beside its main one (its workers, the writer of its output). Making one
// fails where the process may have no more (a limit on processes, a container's pids limit, an address
// space too small for another stack); every caller has a way on without it. Tests make that failure
// happen at will.

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

namespace veltrane {

class ToolThreads {
public:
    // A thread running `work`; throws std::system_error where none can be made.
    template <typename Work> static std::thread Start(Work&& work) {
        if (!TakeAllowance())
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "thread refused for a test");
        return std::thread(std::forward<Work>(work));
    }

    // For tests: from now on only `count` more threads can be made; -1 lifts the limit.
    static void Allow(int count) { m_allowance.store(count); }

private:
    static bool TakeAllowance() {
        int left = m_allowance.load();
        while (left > 0 && !m_allowance.compare_exchange_weak(left, left - 1)) {
        }
        return left != 0;
    }

    static inline std::atomic<int> m_allowance{-1};
};

} // namespace veltrane
