#include "summaryreporter.h"

#include <algorithm>
#include <cstdio>

namespace veltrane {

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
        {"KeystreamXorLagged", "1c as 1 with the lagged-loads kernel"},
        {"KeystreamXorPreloaded", "1d as 1 with the preloading kernel"},
        {"LimitNoHazard", "L1 same loads and stores, no table hazard"},
        {"LimitPortsOnly", "L2 same loads and stores, no hazard, no j chain"},
        {"OpenSslRc4", "2 OpenSSL RC4, same buffer"},
        {"Memcpy", "3 memcpy, same buffer"},
        {"KeystreamXorWall", "1w keystream XOR as in 1, timed by the wall clock"},
        {"FilePass", "4 in-place pass, 256 MiB cached file, stream made ahead"},
        {"FilePassOneThread", "4a the same pass on one thread"},
        {"FilePassBusy", "4b as 4, a busy loop on another thread"},
        {"FilePassOneThreadBusy", "4c as 4a, a busy loop on another thread"},
        {"ColdRead", "5r reading the file from disk (cat FILE > /dev/null)"},
        {"ColdReadSequential", "5s the same read, the kernel told it is sequential"},
        {"FilePassCold", "5 in-place pass, the file not in the page cache"},
        {"FilePassColdOneThread", "5a the same on one thread"},
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
        out << "  " << line.what << ": " << Format("%.1f MB/s", found->second.bytesPerSecond / 1e6);
        // Rows timed by the wall clock over two threads have no cycles of one thread to show.
        if (found->second.cyclesPerByte > 0)
            out << Format(", %.2f cycles/byte", found->second.cyclesPerByte);
        out << "\n";
    }
    // A row's figures; zeros for a row that did not run.
    const auto row = [&](const char* name) {
        const auto found = Rows.find(name);
        return found == Rows.end() ? Figures{} : found->second;
    };
    const auto rate = [&](const char* name) { return row(name).bytesPerSecond; };
    struct Ratio {
        const char* label;
        const char* top;
        const char* bottom;
        const char* goal;
    };
    static constexpr Ratio ratios[] = {
        {"1/1a (keystream XOR / earlier kernel)", "KeystreamXor", "BaselineKeystreamXor", " (goal >= 1.15)"},
        {"1/2 (keystream XOR / OpenSSL RC4)", "KeystreamXor", "OpenSslRc4", " (goal >= 2.00)"},
        {"4/1w (file pass / keystream XOR, wall clock)", "FilePass", "KeystreamXorWall", " (goal >= 0.95)"},
        {"4a/1w (one-thread pass / keystream XOR, wall clock)", "FilePassOneThread", "KeystreamXorWall", ""},
        {"4/4a (stream made ahead / one thread)", "FilePass", "FilePassOneThread", " (goal >= 1.00)"},
        {"4b/4c (the same with a busy loop)", "FilePassBusy", "FilePassOneThreadBusy", " (goal >= 1.00)"},
        {"5/5a (cold: made ahead / one thread)", "FilePassCold", "FilePassColdOneThread", ""},
        {"5/5r (cold pass / cold read)", "FilePassCold", "ColdRead", ""},
        {"1/3 (keystream XOR / memcpy)", "KeystreamXor", "Memcpy", ""},
    };
    for (const Ratio& ratio : ratios)
        if (rate(ratio.top) > 0 && rate(ratio.bottom) > 0)
            out << "  ratio " << ratio.label << ": " << Format("%.2f", rate(ratio.top) / rate(ratio.bottom))
                << ratio.goal << "\n";

    // A cold pass against doing its two parts one after the other: reading the file from disk and
    // making its keystream.
    const double coldRead = rate("ColdRead");
    const double wallKeystream = rate("KeystreamXorWall");
    const double coldPass = rate("FilePassCold");
    if (coldRead > 0 && wallKeystream > 0 && coldPass > 0) {
        const double bytes = 256.0 * 1048576.0;
        const double readTime = bytes / coldRead * 1e3;
        const double streamTime = bytes / wallKeystream * 1e3;
        const double passTime = bytes / coldPass * 1e3;
        const double oneThread = rate("FilePassColdOneThread");
        out << "\nWhere the time of a cold pass goes (256 MiB, milliseconds):\n"
            << Format("  reading it from disk %.0f, its keystream %.0f: %.0f one after the other, %.0f at most\n"
                      "  overlapped; the pass takes %.0f (%.2f of the sum, %.2f of the larger)",
                      readTime, streamTime, readTime + streamTime, std::max(readTime, streamTime), passTime,
                      passTime / (readTime + streamTime), passTime / std::max(readTime, streamTime));
        if (oneThread > 0)
            out << Format(", on one thread %.0f", bytes / oneThread * 1e3);
        out << ".\n";
    }

    // What bounds the keystream, from the rows above. The hazard is inherent: which step's i meets
    // which earlier j is decided by the key, so every order of the steps pays for it somehow.
    const double keystream = row("KeystreamXor").cyclesPerByte;
    const double noHazard = row("LimitNoHazard").cyclesPerByte;
    const double portsOnly = row("LimitPortsOnly").cyclesPerByte;
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
                      "    the i of a step equals the j of one of the steps just before it, a load of S[i] issued\n"
                      "    before that step's store is stale. The lagged-loads kernel (1c) lets the loads run up\n"
                      "    to fifteen steps ahead and pays some 40 cycles for each replay; cores that predict\n"
                      "    such replays hold every such load back until the stores before it have addresses,\n"
                      "    which puts a load on the chain through j each step. The preloading kernel (1d) reads\n"
                      "    S[i] two steps early, before any store that could change it, and checks the two swaps\n"
                      "    in between with a compare and a conditional move each: nothing to replay, two more\n"
                      "    instructions a step. Each processor gets the kernel that suits its kind.\n",
                      keystream, keystream - noHazard)
            << Format("  The hazard-free %.2f is out of reach: which step's i meets which earlier j is decided\n"
                      "  by the key, so some work is spent on it in any order of the steps.\n"
                      "  The kernel is %.0f %% above that bound.\n",
                      noHazard, (keystream / noHazard - 1.0) * 100.0);
    }
    return complete;
}

} // namespace veltrane
