#include "summaryreporter.h"

#include <cstdio>

namespace {

double CounterValue(const benchmark::BenchmarkReporter::Run& run, const char* name) {
    const auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : found->second.value;
}

std::string Format(const char* format, double a, double b = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        if (run.error_occurred)
            continue;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration;
        if (!median && !single)
            continue;
        Figures& row = Rows[run.run_name.function_name];
        // A median, once there, wins over the single repetitions it summarises.
        if (single && row.fromMedian)
            continue;
        row.bytesPerSecond = CounterValue(run, "bytes_per_second");
        row.cyclesPerByte = CounterValue(run, "cycles_per_byte");
        row.fromMedian = median;
    }
}

bool SummaryReporter::PrintSummary(std::ostream& out, const std::string& cycleSource) const {
    struct Line {
        const char* name;
        const char* what;
    };
    static constexpr Line lines[] = {
        {"KeystreamXor", "1 keystream XOR, 64 KiB blocks, 64 MiB buffer"},
        {"OpenSslRc4", "2 OpenSSL RC4, same buffer"},
        {"Memcpy", "3 memcpy, same buffer"},
        {"FilePass", "4 in-place pass, 256 MiB cached file"},
    };
    out << "\nSummary (" << (Rows.empty() || Rows.begin()->second.fromMedian ? "medians" : "single runs")
        << "; cycles per byte as " << cycleSource << "):\n";
    bool complete = true;
    for (const Line& line : lines) {
        const auto found = Rows.find(line.name);
        if (found == Rows.end()) {
            out << "  " << line.what << ": not run\n";
            complete = false;
            continue;
        }
        out << "  " << line.what << ": "
            << Format("%.1f MB/s, %.2f cycles/byte", found->second.bytesPerSecond / 1e6, found->second.cyclesPerByte)
            << "\n";
    }
    const auto rate = [&](const char* name) {
        const auto found = Rows.find(name);
        return found == Rows.end() ? 0.0 : found->second.bytesPerSecond;
    };
    if (rate("KeystreamXor") > 0 && rate("OpenSslRc4") > 0)
        out << "  ratio 1/2 (keystream XOR / OpenSSL RC4): "
            << Format("%.2f (goal >= 1.00, aim 1.25)", rate("KeystreamXor") / rate("OpenSslRc4")) << "\n";
    if (rate("FilePass") > 0 && rate("KeystreamXor") > 0)
        out << "  ratio 4/1 (file pass / keystream XOR): "
            << Format("%.2f (goal >= 0.90)", rate("FilePass") / rate("KeystreamXor")) << "\n";
    if (rate("KeystreamXor") > 0 && rate("Memcpy") > 0)
        out << "  ratio 1/3 (keystream XOR / memcpy): " << Format("%.3f", rate("KeystreamXor") / rate("Memcpy"))
            << "\n";
    return complete;
}
