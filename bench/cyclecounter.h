#pragma once
// CPU cycles spent by this thread: the processor's own cycle counter when the kernel lets us read
// it, otherwise the thread's CPU time multiplied by a measured core clock (virtual machines often
// hide the counters, and the time-stamp counter ticks at a fixed rate, not the core clock).

#include <cstdint>
#include <string>

namespace veltrane {

class CycleCounter {
public:
    CycleCounter();
    ~CycleCounter();
    CycleCounter(const CycleCounter&) = delete;
    CycleCounter& operator=(const CycleCounter&) = delete;

    // What now() counts, in words for the report.
    std::string source() const;
    std::uint64_t now() const;

private:
    int m_fd = -1;
    bool m_userOnly = false;
    double m_clockHz = 0; // when counting by CPU time
};

} // namespace veltrane
