#pragma once
// The console report of Google Benchmark, followed by a summary of the rows the benchmark is about:
// the core it ran on and the kernel in use, MB/s and cycles per byte of each row, the ratios between
// them with their goals, and where the keystream's limit lies on this core.

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>

namespace veltrane {

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override;

    // Rows of the kernels forced one by one are named this prefix and the kernel's name.
    static constexpr const char* KernelRowPrefix = "Kernel_";

    // `cycleSource` says what the cycle counter counted, `kernel` which kernel the first use took
    // and why. A row that did not run is said to be missing.
    void PrintSummary(std::ostream& out, const std::string& cycleSource, const std::string& kernel) const;

private:
    struct Figures {
        double bytesPerSecond = 0;
        double cyclesPerByte = 0;
        bool fromMedian = false;
    };
    // By benchmark function name; the median over repetitions where there were several.
    std::map<std::string, Figures> Rows;
};

} // namespace veltrane
