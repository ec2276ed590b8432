#include "cyclecounter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace veltrane {

namespace {

double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The core clock while busy: a chain of dependent register-to-register adds takes one cycle each.
// (Adds of an immediate will not do: newer cores fold chains of them at renaming, several to a
// cycle.) Elsewhere, the nominal clock that the benchmark library reports.
double MeasureClockHz() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        constexpr unsigned long loops = 50'000'000;
        unsigned long x = 0;
        unsigned long one = 1;
        asm volatile("" : "+r"(one));
        const double start = ThreadSeconds();
        for (unsigned long n = 0; n < loops; ++n)
            asm volatile("add %1, %0\n\tadd %1, %0\n\tadd %1, %0\n\tadd %1, %0" : "+r"(x) : "r"(one));
        const double seconds = ThreadSeconds() - start;
        if (seconds > 0 && 4.0 * loops / seconds > best)
            best = 4.0 * loops / seconds;
    }
    return best;
#else
    return benchmark::CPUInfo::Get().cycles_per_second;
#endif
}

} // namespace

CycleCounter::CycleCounter() {
    perf_event_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.type = PERF_TYPE_HARDWARE;
    attr.size = sizeof attr;
    attr.config = PERF_COUNT_HW_CPU_CYCLES;
    attr.exclude_hv = 1;
    m_fd = static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    if (m_fd < 0) {
        // Unprivileged processes may often count user-space cycles only.
        attr.exclude_kernel = 1;
        m_fd = static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
        m_userOnly = true;
    }
    if (m_fd < 0)
        m_clockHz = MeasureClockHz();
}

CycleCounter::~CycleCounter() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CycleCounter::source() const {
    if (m_fd >= 0)
        return m_userOnly ? "core cycles counted in user space only" : "core cycles counted by the processor";
    char text[120];
    std::snprintf(text, sizeof text, "thread CPU time x core clock %.2f GHz (no cycle counter readable here)",
                  m_clockHz / 1e9);
    return text;
}

std::uint64_t CycleCounter::now() const {
    if (m_fd >= 0) {
        std::uint64_t count = 0;
        return ::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) ? count : 0;
    }
    return static_cast<std::uint64_t>(ThreadSeconds() * m_clockHz);
}

} // namespace veltrane
