#pragma once
// The console report of Google Benchmark, followed by a summary of the four rows the benchmark is
// about: MB/s and cycles per byte of each, and the ratios between them with their goals.

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>

namespace veltrane {

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override;

    // `cycleSource` says what the cycle counter counted. Returns false when a row is missing.
    bool PrintSummary(std::ostream& out, const std::string& cycleSource) const;

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
