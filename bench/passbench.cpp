// Throughput of the in-place pass and its parts beside their references, in one run:
//   1. the keystream XOR as the pass applies it (64 KiB blocks, each starting at step index 0, j
//      carried from block to block), over a 64 MiB buffer; beside it the kernel the engine used
//      before (bench/baselinekernel.cpp) and the kernel that stores the stream instead of XORing it;
//   2. OpenSSL's RC4 over the same buffer, the hand-tuned member of the cipher family;
//   3. memcpy of the same buffer, the ceiling set by memory bandwidth;
//   4. the whole in-place pass through the current-file handle, progress figures included, over a
//      256 MiB file that sits in the page cache (in $TMPDIR, or /tmp).
// A summary with MB/s, cycles per byte and the ratios 1/2 and 4/1 follows the usual report. Rates
// are per second of the thread's CPU time (system time of the file pass included), which a busy
// shared machine disturbs far less than wall-clock time.

#include "baselinekernel.h"
#include "cyclecounter.h"
#include "limitkernels.h"
#include "summaryreporter.h"

#include "main/engine/blockpass.h"
#include "main/engine/engineunit.h"
#include "main/engine/keystream.h"
#include "main/engine/progressdisplay.h"

// RC4 is deprecated in OpenSSL 3; it is here only as the reference to measure against.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t BufferSize = std::size_t{64} << 20;
constexpr std::size_t FileSize = std::size_t{256} << 20;
constexpr unsigned char Key[] = "benchmark key 16";
constexpr std::size_t KeyLength = sizeof Key - 1;

const CycleCounter& Cycles() {
    static const CycleCounter counter;
    return counter;
}

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t seed = 12345;
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

std::vector<std::uint8_t>& SharedBuffer() {
    static std::vector<std::uint8_t> buffer = Pattern(BufferSize);
    return buffer;
}

// Records the figures as a real display would receive them, at the cost of a virtual call each.
class CountingDisplay : public veltrane::ProgressDisplay {
public:
    void MakeVisible() override { ++Shown; }
    void SetProgress(int figure) override {
        Last = figure;
        ++Figures;
    }
    int Shown = 0;
    int Last = 0;
    long Figures = 0;
};

// Counts cycles from construction to Finish() and reports them per byte.
class CycleSpan {
public:
    CycleSpan() : Start(Cycles().now()) {}
    void Finish(benchmark::State& state, std::size_t bytesPerIteration) {
        const std::uint64_t spent = Cycles().now() - Start;
        const double bytes = static_cast<double>(bytesPerIteration) * static_cast<double>(state.iterations());
        state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
        if (bytes > 0)
            state.counters["cycles_per_byte"] = static_cast<double>(spent) / bytes;
    }

private:
    std::uint64_t Start;
};

void KeystreamXor(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    const std::vector<std::uint8_t> key(Key, Key + KeyLength);
    veltrane::KeystreamGenerator generator;
    CycleSpan cycles;
    for (auto _ : state) {
        generator.ScheduleKey(key);
        for (std::size_t offset = 0; offset < buffer.size(); offset += veltrane::BlockSize) {
            const std::size_t length = std::min(veltrane::BlockSize, buffer.size() - offset);
            generator.XorBlock(std::span(buffer.data() + offset, length));
        }
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

void KeystreamGenerate(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    const std::vector<std::uint8_t> key(Key, Key + KeyLength);
    veltrane::KeystreamGenerator generator;
    CycleSpan cycles;
    for (auto _ : state) {
        generator.ScheduleKey(key);
        for (std::size_t offset = 0; offset < buffer.size(); offset += veltrane::BlockSize) {
            const std::size_t length = std::min(veltrane::BlockSize, buffer.size() - offset);
            generator.GenerateBlock(std::span(buffer.data() + offset, length));
        }
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

void BaselineKeystreamXor(benchmark::State& state) {
    if (!BaselineKernelAvailable()) {
        state.SkipWithError("the earlier kernel exists for x86-64 only");
        return;
    }
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    const std::vector<std::uint8_t> key(Key, Key + KeyLength);
    veltrane::KeystreamGenerator generator;
    CycleSpan cycles;
    for (auto _ : state) {
        generator.ScheduleKey(key);
        alignas(64) std::uint8_t table[256];
        std::memcpy(table, generator.stateTable().data(), sizeof table);
        unsigned j = generator.j();
        for (std::size_t offset = 0; offset < buffer.size(); offset += veltrane::BlockSize)
            j = BaselineXorChunks(table, j, buffer.data() + offset, veltrane::BlockSize / 256);
        benchmark::DoNotOptimize(j);
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

// The two lower bounds of bench/limitkernels.h, over the same buffer and from the same table.
template <unsigned (*Kernel)(const std::uint8_t*, std::uint8_t*, unsigned, std::uint8_t*, std::size_t)>
void Limit(benchmark::State& state) {
    if (!LimitKernelsAvailable()) {
        state.SkipWithError("the limit kernels exist for x86-64 only");
        return;
    }
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    const std::vector<std::uint8_t> key(Key, Key + KeyLength);
    veltrane::KeystreamGenerator generator;
    generator.ScheduleKey(key);
    alignas(64) std::uint8_t table[256];
    alignas(64) std::uint8_t sink[256];
    std::memcpy(table, generator.stateTable().data(), sizeof table);
    CycleSpan cycles;
    for (auto _ : state) {
        unsigned j = generator.j();
        for (std::size_t offset = 0; offset < buffer.size(); offset += veltrane::BlockSize)
            j = Kernel(table, sink, j, buffer.data() + offset, veltrane::BlockSize / 256);
        benchmark::DoNotOptimize(j);
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

void LimitNoHazard(benchmark::State& state) {
    Limit<NoHazardXorChunks>(state);
}

void LimitPortsOnly(benchmark::State& state) {
    Limit<PortsOnlyXorChunks>(state);
}

void OpenSslRc4(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    RC4_KEY key;
    CycleSpan cycles;
    for (auto _ : state) {
        RC4_set_key(&key, static_cast<int>(KeyLength), Key);
        RC4(&key, buffer.size(), buffer.data(), buffer.data());
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

void Memcpy(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    std::vector<std::uint8_t> copy(buffer.size(), 1);
    CycleSpan cycles;
    for (auto _ : state) {
        std::memcpy(copy.data(), buffer.data(), buffer.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

std::string& FilePath() {
    static std::string path;
    return path;
}

// Writes the 256 MiB file once; having just been written, it is in the page cache.
bool MakeCachedFile() {
    if (!FilePath().empty())
        return true;
    std::string pattern = (std::filesystem::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    FilePath() = pattern;
    const std::vector<std::uint8_t> chunk = Pattern(BufferSize);
    bool written = true;
    for (std::size_t done = 0; done < FileSize && written; done += chunk.size())
        written = ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
    ::close(fd);
    return written;
}

void FilePass(benchmark::State& state) {
    if (!MakeCachedFile()) {
        state.SkipWithError("cannot write the test file in the temporary folder");
        return;
    }
    veltrane::EngineUnit unit;
    unit.KeyText.assign(Key, Key + KeyLength);
    unit.CurrentFileName = FilePath();
    unit.CurrentFile.Bind(unit.CurrentFileName);
    CountingDisplay display;
    CycleSpan cycles;
    for (auto _ : state) {
        if (!veltrane::RunBlockPass(unit, &display)) {
            state.SkipWithError("the pass could not open the test file");
            return;
        }
    }
    unit.CurrentFile.Close();
    cycles.Finish(state, FileSize);
    state.counters["figures_per_pass"] = static_cast<double>(display.Figures) / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(KeystreamXor)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineKeystreamXor)->Unit(benchmark::kMillisecond);
BENCHMARK(KeystreamGenerate)->Unit(benchmark::kMillisecond);
BENCHMARK(LimitNoHazard)->Unit(benchmark::kMillisecond);
BENCHMARK(LimitPortsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslRc4)->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(FilePass)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Five repetitions summarised by their medians unless the command line says otherwise.
    std::vector<char*> arguments(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_display_aggregates_only=true";
    const bool chosen = std::any_of(argv + 1, argv + argc, [](const char* argument) {
        return std::strncmp(argument, "--benchmark_repetitions", 23) == 0;
    });
    if (!chosen) {
        arguments.push_back(repetitions.data());
        arguments.push_back(aggregates.data());
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 2;

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary(std::cout, Cycles().source());
    if (!FilePath().empty())
        std::filesystem::remove(FilePath());
    benchmark::Shutdown();
    return 0;
}
