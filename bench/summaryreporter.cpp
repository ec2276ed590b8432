#include "summaryreporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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

struct CoreName {
    std::string Description; // model name, family and model, as /proc/cpuinfo gives them
    bool Zen3 = false;
};

// The core the benchmark runs on, so that a reader of the summary knows which figures it meets.
CoreName ThisCore() {
    // The fields of the first processor, which end at the first blank line.
    std::map<std::string, std::string> fields{{"model name", "unknown"}, {"cpu family", "-1"}, {"model", "-1"}};
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line) && line.find_first_not_of(" \t") != std::string::npos;) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        fields[key] = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    }
    const std::string& vendor = fields["vendor_id"];
    const int family = std::atoi(fields["cpu family"].c_str());
    const int model = std::atoi(fields["model"].c_str());
    CoreName core;
    core.Description = fields["model name"] + ", family " + std::to_string(family) + " model " + std::to_string(model);
    // AMD's family 25 is Zen 3 (and Zen 4 from model 0x10 on); 26 is Zen 5.
    core.Zen3 = vendor == "AuthenticAMD" && family == 25 && (model < 0x10 || (model >= 0x20 && model < 0x60));
    if (vendor == "AuthenticAMD" && family == 25)
        core.Description += core.Zen3 ? " (Zen 3)" : " (Zen 4)";
    else if (vendor == "AuthenticAMD" && family == 26)
        core.Description += " (Zen 5)";
    return core;
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

void SummaryReporter::PrintSummary(std::ostream& out, const std::string& cycleSource, const std::string& kernel) const {
    struct Line {
        std::string name;
        std::string what;
    };
    std::vector<Line> lines = {{"KeystreamXor", "1 keystream XOR, the kernel in use, 64 KiB blocks, 64 MiB buffer"}};
    for (const auto& [name, figures] : Rows) {
        if (name.starts_with(KernelRowPrefix)) {
            const std::string kernelName = name.substr(std::string(KernelRowPrefix).size());
            lines.push_back({name, "1-" + kernelName + " as 1 with the " + kernelName + " kernel"});
        }
    }
    const Line fixed[] = {
        {"KeystreamGenerate", "1b keystream stored instead of XORed, same buffer"},
        {"OpenSslRc4", "2 OpenSSL RC4, same buffer"},
        {"Memcpy", "3 memcpy, same buffer"},
        {"MachineStepMix", "L1 the core: a step's fewest instructions, nothing depending on anything"},
        {"KeystreamXorWall", "1w keystream XOR as in 1, timed by the wall clock"},
        {"FilePass", "4 in-place pass, 256 MiB cached file, stream from the source the rule picks"},
        {"FilePassOneThread", "4a the same pass on one thread (source forced: kept)"},
        {"FilePassBusy", "4b as 4, a busy loop on another thread"},
        {"FilePassOneThreadBusy", "4c as 4a, a busy loop on another thread"},
        {"FilePassInPlace", "4i as 4, source forced: inplace"},
        {"FilePassAhead", "4h as 4, source forced: ahead"},
        {"ColdRead", "5r reading the file from disk (cat FILE > /dev/null)"},
        {"ColdReadSequential", "5s the same read, the kernel told it is sequential"},
        {"FilePassCold", "5 in-place pass, the file not in the page cache"},
        {"FilePassColdOneThread", "5a the same on one thread"},
    };
    lines.insert(lines.end(), std::begin(fixed), std::end(fixed));

    const CoreName core = ThisCore();
    out << "\nSummary (" << (Rows.empty() || Rows.begin()->second.fromMedian ? "medians" : "single runs")
        << "; cycles per byte as " << cycleSource << "):\n"
        << "  core: " << core.Description << "\n"
        << "  kernel in use: " << kernel << "\n";
    for (const Line& line : lines) {
        const auto found = Rows.find(line.name);
        if (found == Rows.end()) {
            out << "  " << line.what << ": not run\n";
            continue;
        }
        out << "  " << line.what << ": " << Format("%.1f MB/s", found->second.bytesPerSecond / 1e6);
        // Rows timed by the wall clock over two threads have no cycles of one thread to show.
        if (found->second.cyclesPerByte > 0)
            out << Format(", %.2f cycles/byte", found->second.cyclesPerByte);
        out << "\n";
    }
    // A row's figures; zeros for a row that did not run.
    const auto row = [&](const std::string& name) {
        const auto found = Rows.find(name);
        return found == Rows.end() ? Figures{} : found->second;
    };
    const auto rate = [&](const char* name) { return row(name).bytesPerSecond; };

    // The goal against OpenSSL's RC4 holds on every core; on Zen 3 it is higher.
    const double goal = core.Zen3 ? 1.20 : 1.00;
    if (rate("KeystreamXor") > 0 && rate("OpenSslRc4") > 0) {
        const double ratio = rate("KeystreamXor") / rate("OpenSslRc4");
        out << "  ratio 1/2 (keystream XOR / OpenSSL RC4): " << Format("%.2f", ratio)
            << Format(" (goal >= %.2f on this core: ", goal) << (ratio >= goal ? "holds" : "NOT MET")
            << "; >= 1.00 on every core, >= 1.20 on Zen 3)\n";
    }
    struct Ratio {
        const char* label;
        const char* top;
        const char* bottom;
        const char* goal;
    };
    static constexpr Ratio ratios[] = {
        {"4/1w (file pass / keystream XOR, wall clock)", "FilePass", "KeystreamXorWall", " (goal >= 0.95)"},
        {"4a/1w (one-thread pass / keystream XOR, wall clock)", "FilePassOneThread", "KeystreamXorWall", ""},
        {"4/4a (stream made ahead / one thread)", "FilePass", "FilePassOneThread", " (goal >= 1.00)"},
        {"4b/4c (the same with a busy loop)", "FilePassBusy", "FilePassOneThreadBusy", " (goal >= 1.00)"},
        {"4/4h (the rule / made ahead forced)", "FilePass", "FilePassAhead", ""},
        {"4a/4i (kept forced / in place forced)", "FilePassOneThread", "FilePassInPlace", ""},
        {"5/5a (cold: made ahead / one thread)", "FilePassCold", "FilePassColdOneThread", ""},
        {"5/5r (cold pass / cold read)", "FilePassCold", "ColdRead", ""},
        {"1/3 (keystream XOR / memcpy)", "KeystreamXor", "Memcpy", ""},
    };
    for (const Ratio& ratio : ratios)
        if (rate(ratio.top) > 0 && rate(ratio.bottom) > 0)
            out << "  ratio " << ratio.label << ": " << Format("%.2f", rate(ratio.top) / rate(ratio.bottom))
                << ratio.goal << "\n";

    // A cold pass against doing its two parts one after the other: reading the file from disk and
    // making its keystream. Each in milliseconds for the 256 MiB file at its row's rate.
    const auto time = [&](const char* name) { return 256.0 * 1048576.0 / rate(name) * 1e3; };
    if (rate("ColdRead") > 0 && rate("KeystreamXorWall") > 0 && rate("FilePassCold") > 0) {
        const double readTime = time("ColdRead");
        const double streamTime = time("KeystreamXorWall");
        const double passTime = time("FilePassCold");
        out << "\nWhere the time of a cold pass goes (256 MiB, milliseconds):\n"
            << Format("  reading it from disk %.0f, its keystream %.0f: %.0f one after the other, %.0f at most\n"
                      "  overlapped; the pass takes %.0f (%.2f of the sum, %.2f of the larger)",
                      readTime, streamTime, readTime + streamTime, std::max(readTime, streamTime), passTime,
                      passTime / (readTime + streamTime), passTime / std::max(readTime, streamTime));
        if (rate("FilePassColdOneThread") > 0)
            out << Format(", on one thread %.0f", time("FilePassColdOneThread"));
        out << ".\n";
    }

    // What bounds the keystream on this core, from the core's own limits rather than any kernel's.
    const double mix = row("MachineStepMix").cyclesPerByte;
    const double loadLatency = row("MachineLoadLatency").cyclesPerByte;
    const double forwarding = row("MachineForwarding").cyclesPerByte;
    std::string best;
    double bestCycles = 0;
    for (const auto& [name, figures] : Rows) {
        if (name.starts_with(KernelRowPrefix) && figures.cyclesPerByte > 0 &&
            (bestCycles == 0 || figures.cyclesPerByte < bestCycles)) {
            best = name.substr(std::string(KernelRowPrefix).size());
            bestCycles = figures.cyclesPerByte;
        }
    }
    if (mix > 0 && loadLatency > 0 && forwarding > 0 && bestCycles > 0) {
        const double bound = std::max(mix, 1.0);
        const double openssl = row("OpenSslRc4").cyclesPerByte;
        out << "\nWhere the keystream's limit lies on this core (cycles per byte):\n"
               "  A step takes at the fewest three table loads (S[i], S[j], S[t]), two stores (the swap) and\n"
               "  three register operations (j += S[i], t = S[i] + S[j], placing the output byte); every\n"
               "  eight steps add an 8-byte load, XOR and store of the data.\n"
            << Format("  - %.2f (L1): exactly these with nothing depending on anything: the core's load and store\n"
                      "    ports and its issue width. No kernel, in any order of the steps, runs faster.\n",
                      mix)
            << "  - 1.00: the chain through j, one add a step; it hides behind L1 where L1 is above it.\n"
            << Format("  - The table hazard: when the i of a step is the j of a recent one, S[i] must come from that\n"
                      "    step's store. A core that lets the load run ahead and finds out late starts again from\n"
                      "    it; one that holds such loads until the stores before them have addresses puts a load\n"
                      "    on the chain: %.1f cycles a load (L2) and the add, %.1f a byte, or %.1f where the value\n"
                      "    comes from the store (store-to-load forwarding, L3). Kernels differ in how they\n"
                      "    trade these.\n",
                      loadLatency, loadLatency + 1.0, forwarding + 1.0)
            << Format("  The machine's bound is %.2f; the best kernel measured, %s, runs at %.2f (%.2fx the bound)",
                      bound, best.c_str(), bestCycles, bestCycles / bound);
        if (openssl > 0)
            out << Format(", OpenSSL's RC4 at %.2f (%.2fx)", openssl, openssl / bound);
        out << ".\n";
    }
}

} // namespace veltrane
