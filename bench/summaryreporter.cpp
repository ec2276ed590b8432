#include "summaryreporter.h"

#include <cstdio>

namespace {

double CounterValue(const benchmark::BenchmarkReporter::Run& run, const char* name) {
    const auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : found->second.value;
}

template <class... Values> std::string Format(const char* format, Values... values) {
    char text[1024];
    std::snprintf(text, sizeof text, format, values...);
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
        {"BaselineKeystreamXor", "1a the earlier kernel, same buffer"},
        {"KeystreamGenerate", "1b keystream stored instead of XORed, same buffer"},
        {"LimitNoHazard", "L1 same loads and stores, no table hazard"},
        {"LimitPortsOnly", "L2 same loads and stores, no hazard, no j chain"},
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
    const auto cycles = [&](const char* name) {
        const auto found = Rows.find(name);
        return found == Rows.end() ? 0.0 : found->second.cyclesPerByte;
    };
    struct Ratio {
        const char* label;
        const char* top;
        const char* bottom;
        const char* goal;
    };
    static constexpr Ratio ratios[] = {
        {"1/1a (keystream XOR / earlier kernel)", "KeystreamXor", "BaselineKeystreamXor", " (goal >= 1.15)"},
        {"1/2 (keystream XOR / OpenSSL RC4)", "KeystreamXor", "OpenSslRc4", " (goal >= 2.00)"},
        {"4/1 (file pass / keystream XOR)", "FilePass", "KeystreamXor", " (goal >= 0.95)"},
        {"1/3 (keystream XOR / memcpy)", "KeystreamXor", "Memcpy", ""},
    };
    for (const Ratio& ratio : ratios)
        if (rate(ratio.top) > 0 && rate(ratio.bottom) > 0)
            out << "  ratio " << ratio.label << ": " << Format("%.2f", rate(ratio.top) / rate(ratio.bottom))
                << ratio.goal << "\n";

    // What bounds the keystream, from the rows above. The hazard is inherent: which step's i meets
    // which earlier j is decided by the key, so no order of the steps avoids it.
    const double keystream = cycles("KeystreamXor");
    const double noHazard = cycles("LimitNoHazard");
    const double portsOnly = cycles("LimitPortsOnly");
    if (keystream > 0 && noHazard > 0 && portsOnly > 0) {
        out << "\nWhere the keystream's limit lies (cycles per byte):\n"
               "  A step is three table loads (S[i], S[j], S[t]) and two stores (the swap); every eight steps\n"
               "  add one 8-byte load and store of the data: 3.1 loads and 2.1 stores per byte.\n"
            << Format("  - %.2f: exactly these, with nothing depending on anything (L2): the load/store ports and\n"
                      "    the core's issue width, the ceiling of this instruction sequence.\n",
                      portsOnly)
            << Format("  - %.2f: the chain through j added (j += S[i], L1); one add per step, so the chain\n"
                      "    hides behind the ports.\n",
                      noHazard)
            << Format("  - %.2f: the keystream itself. The difference, %.2f per byte, is the table hazard: when\n"
                      "    the i of a step equals the j of one of the steps just before it, the S[i] it loaded\n"
                      "    early is stale; the core notices when that store's address is known and replays\n"
                      "    from the load (some 40 cycles). Letting the loads run far ahead makes this more\n"
                      "    frequent, holding them back behind j stalls the chain; the kernel ties them to j\n"
                      "    from eight to fifteen steps back, the best trade measured.\n",
                      keystream, keystream - noHazard)
            << Format("  The hazard-free %.2f is out of reach: which step's i meets which earlier j is decided\n"
                      "  by the key, so no order of the steps avoids the replays, only their cost can be traded.\n"
                      "  The kernel is %.0f %% above that bound.\n",
                      noHazard, (keystream / noHazard - 1.0) * 100.0);
    }
    return complete;
}
