// Throughput of the in-place pass and its parts beside their references, in one run:
//   1. the keystream XOR as the pass applies it (64 KiB blocks, each starting at step index 0, j
//      carried from block to block), over a 64 MiB buffer, with the kernel the first use picked and
//      with each kernel of the build forced; beside it the stream stored instead of XORed;
//   L. the core's own limits (bench/machinelimits.h): the fewest instructions of a step with
//      nothing depending on anything, the latency of a load and of store-to-load forwarding;
//   2. OpenSSL's RC4 over the same buffer, the hand-tuned member of the cipher family;
//   3. memcpy of the same buffer, the ceiling set by memory bandwidth;
//   4. the whole in-place pass through the current-file handle, progress figures included, over a
//      256 MiB file that sits in the page cache (in $TMPDIR, or /tmp): with the keystream from the
//      source the rule picks (keystreamsource.h), and on one thread only (the source forced to kept);
//      both again with a busy loop running on another thread; then with each other source forced;
//      beside them the keystream XOR timed the same way. Each row counts the blocks each source gave
//      a pass;
//   5. the pass over the same file when it is not in the page cache (written back and dropped
//      before each pass), beside reading it cold (what `cat FILE > /dev/null` does), also with
//      the kernel told that the reads are sequential.
// Each pass is a fresh run: the first bytes of the run's stream are made anew every time.
// A summary with MB/s, cycles per byte and the ratios follows the usual report. The keystream rows
// are per second of the thread's CPU time, which a busy shared machine disturbs far less than
// wall-clock time; the passes use a second thread, so they and their reference are timed by the
// wall clock.

#include "machinelimits.h"
#include "summaryreporter.h"

#include "engine/blockpass.h"
#include "engine/engineunit.h"
#include "engine/filesequences.h"
#include "engine/keystream.h"
#include "engine/keystreamsource.h"
#include "engine/progressdisplay.h"

// RC4 is deprecated in OpenSSL 3; it is here only as the reference to measure against.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace veltrane {

namespace {

constexpr std::size_t BufferSize = std::size_t{64} << 20;
constexpr std::size_t FileSize = std::size_t{256} << 20;
constexpr unsigned char Key[] = "benchmark key 16";
constexpr std::size_t KeyLength = sizeof Key - 1;

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

// CPU cycles spent by this thread: the processor's own cycle counter when the kernel lets us read
// it, otherwise the thread's CPU time multiplied by a measured core clock (virtual machines often
// hide the counters, and the time-stamp counter ticks at a fixed rate, not the core clock).
class CycleCounter {
public:
    CycleCounter() {
        perf_event_attr attr{};
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
    ~CycleCounter() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CycleCounter(const CycleCounter&) = delete;
    CycleCounter& operator=(const CycleCounter&) = delete;

    // What now() counts, in words for the report.
    std::string source() const {
        if (m_fd >= 0)
            return m_userOnly ? "core cycles counted in user space only" : "core cycles counted by the processor";
        char text[120];
        std::snprintf(text, sizeof text, "thread CPU time x core clock %.2f GHz (no cycle counter readable here)",
                      m_clockHz / 1e9);
        return text;
    }

    std::uint64_t now() const {
        if (m_fd >= 0) {
            std::uint64_t count = 0;
            return ::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) ? count : 0;
        }
        return static_cast<std::uint64_t>(ThreadSeconds() * m_clockHz);
    }

private:
    int m_fd = -1;
    bool m_userOnly = false;
    double m_clockHz = 0; // when counting by CPU time
};

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

// Counts the figures as a real display would receive them, at the cost of a virtual call each.
class CountingDisplay : public veltrane::ProgressDisplay {
public:
    void MakeVisible() override {}
    void SetProgress(int /*figure*/) override { ++Figures; }
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

// The keystream over the shared buffer in the pass's blocks, j carried across them: XOR-ed into the
// buffer, or (`Generate`) written over it.
template <bool Generate> void Keystream(benchmark::State& state) {
    std::vector<std::uint8_t>& buffer = SharedBuffer();
    const std::vector<std::uint8_t> key(Key, Key + KeyLength);
    veltrane::KeystreamGenerator generator;
    CycleSpan cycles;
    for (auto _ : state) {
        generator.ScheduleKey(key);
        for (std::size_t offset = 0; offset < buffer.size(); offset += veltrane::BlockSize) {
            const std::span block(buffer.data() + offset, std::min(veltrane::BlockSize, buffer.size() - offset));
            if (Generate)
                generator.GenerateBlock(block);
            else
                generator.XorBlock(block);
        }
        benchmark::ClobberMemory();
    }
    cycles.Finish(state, buffer.size());
}

// Row 1 with `kernel` forced.
void KeystreamXorWith(benchmark::State& state, veltrane::KeystreamKernel kernel) {
    const veltrane::KeystreamKernel chosen = veltrane::ActiveKeystreamKernel();
    if (!veltrane::UseKeystreamKernel(kernel)) {
        state.SkipWithError("this build lacks the kernel");
        return;
    }
    Keystream<false>(state);
    veltrane::UseKeystreamKernel(chosen);
}

// One of the core's limits: cycles per unit that `run` counts (a step, or a link of a chain).
template <std::uint64_t (*Run)(std::uint64_t)> void MachineLimit(benchmark::State& state) {
    if (!MachineLimitsAvailable()) {
        state.SkipWithError("the core's limits are measured on x86-64 only");
        return;
    }
    constexpr std::uint64_t rounds = 1 << 20;
    std::uint64_t units = 0;
    const std::uint64_t start = Cycles().now();
    for (auto _ : state)
        units += Run(rounds);
    const std::uint64_t spent = Cycles().now() - start;
    if (units > 0)
        state.counters["cycles_per_byte"] = static_cast<double>(spent) / static_cast<double>(units);
    state.SetBytesProcessed(static_cast<std::int64_t>(units));
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

// The path of the 256 MiB file, once it is written.
std::string FilePath;

// Writes the 256 MiB file once; having just been written, it is in the page cache.
bool MakeCachedFile() {
    if (!FilePath.empty())
        return true;
    std::string pattern = (std::filesystem::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    FilePath = pattern;
    const std::vector<std::uint8_t> chunk = Pattern(BufferSize);
    bool written = true;
    for (std::size_t done = 0; done < FileSize && written; done += chunk.size())
        written = ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
    ::close(fd);
    return written;
}

// A thread that keeps a processor busy for as long as it lives, as another program would.
class BusyLoop {
public:
    BusyLoop()
        : Thread([this] {
              std::uint64_t sum = 0;
              while (!Stop.load(std::memory_order_relaxed))
                  benchmark::DoNotOptimize(sum += 1);
          }) {}
    ~BusyLoop() {
        Stop = true;
        Thread.join();
    }

private:
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

// Writes the file back and drops it from the page cache, so that the next pass reads it from disk.
bool DropFromCache() {
    const int fd = ::open(FilePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool dropped = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return dropped;
}

enum class Cache { Warm, Cold };

// The pass with the keystream source `source` forced (none: the rule picks), the file in the page
// cache or not, a busy loop on another thread or not.
void Pass(benchmark::State& state, std::optional<veltrane::KeystreamSourceKind> source, Cache where, bool busyLoop) {
    if (!MakeCachedFile()) {
        state.SkipWithError("cannot write the test file in the temporary folder");
        return;
    }
    veltrane::EngineUnit unit;
    unit.KeyText.assign(Key, Key + KeyLength);
    unit.CurrentFileName = FilePath;
    unit.StreamSource = source;
    unit.Durable = false;
    unit.Hints.SetEnabled(false);
    long commands = 0;
    CountingDisplay display;
    veltrane::KeystreamSourceFigures figures;
    std::optional<BusyLoop> busy;
    if (busyLoop)
        busy.emplace();
    for (auto _ : state) {
        if (where == Cache::Cold) {
            state.PauseTiming();
            const bool dropped = DropFromCache();
            state.ResumeTiming();
            if (!dropped) {
                state.SkipWithError("cannot drop the test file from the page cache");
                return;
            }
        }
        unit.EndRunKeystream();
        // A command without syncs, the way the tool's --no-sync runs it: encryptions and decryptions
        // in turn, each one pass over the file with its part-way state kept.
        const bool encrypting = ++commands % 2 == 1;
        if ((encrypting ? veltrane::EncryptFile(unit, display) : veltrane::DecryptFile(unit, display)).Outcome !=
            (encrypting ? veltrane::FileOutcome::Encrypted : veltrane::FileOutcome::Decrypted)) {
            state.SkipWithError("the command did not do what it should on the test file");
            return;
        }
        for (std::size_t kind = 0; kind < figures.Blocks.size(); ++kind)
            figures.Blocks[kind] += unit.LastStreamSources.Blocks[kind];
        figures.FromThread += unit.LastStreamSources.FromThread;
        figures.FellBack += unit.LastStreamSources.FellBack;
    }
    if (commands % 2 == 1) {
        unit.CurrentFileName = FilePath;
        veltrane::DecryptFile(unit, display);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(FileSize) * state.iterations());
    const auto passes = static_cast<double>(state.iterations());
    state.counters["figures_per_pass"] = static_cast<double>(display.Figures) / passes;
    for (const auto kind : {veltrane::KeystreamSourceKind::Kept, veltrane::KeystreamSourceKind::InPlace,
                            veltrane::KeystreamSourceKind::Ahead})
        state.counters[std::string(veltrane::KeystreamSourceName(kind)) + "_per_pass"] =
            static_cast<double>(figures.Blocks[static_cast<std::size_t>(kind)]) / passes;
    state.counters["thread_per_pass"] = static_cast<double>(figures.FromThread) / passes;
    state.counters["fell_back"] = static_cast<double>(figures.FellBack) / passes;
}

// What `cat FILE > /dev/null` does with the file when it is not in the page cache; with
// POSIX_FADV_SEQUENTIAL, the kernel reads twice as far ahead.
template <bool Sequential> void Read(benchmark::State& state) {
    if (!MakeCachedFile()) {
        state.SkipWithError("cannot write the test file in the temporary folder");
        return;
    }
    std::vector<std::uint8_t> buffer(128 * 1024);
    for (auto _ : state) {
        state.PauseTiming();
        const bool dropped = DropFromCache();
        state.ResumeTiming();
        const int fd = ::open(FilePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (!dropped || fd < 0) {
            state.SkipWithError("cannot read the test file cold");
            return;
        }
        if (Sequential)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(FileSize) * state.iterations());
}

// The rows in the order they run, under the names the summary looks for. KeystreamXorWall is
// KeystreamXor timed by the wall clock like the passes.
void RegisterBenchmarks() {
    const auto add = [](const char* name, void (*run)(benchmark::State&), bool wallClock) {
        benchmark::internal::Benchmark* row = benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMillisecond);
        if (wallClock)
            row->UseRealTime();
    };
    add("KeystreamXor", Keystream<false>, false);
    add("KeystreamXorWall", Keystream<false>, true);
    add("KeystreamGenerate", Keystream<true>, false);
    for (const veltrane::KeystreamKernel kernel : veltrane::BuiltKeystreamKernels())
        benchmark::RegisterBenchmark(
            (std::string(SummaryReporter::KernelRowPrefix) + veltrane::KeystreamKernelName(kernel)).c_str(),
            KeystreamXorWith, kernel)
            ->Unit(benchmark::kMillisecond);
    add("MachineStepMix", MachineLimit<StepMixRounds>, false);
    add("MachineLoadLatency", MachineLimit<LoadLatencyRounds>, false);
    add("MachineForwarding", MachineLimit<ForwardingRounds>, false);
    add("OpenSslRc4", OpenSslRc4, false);
    add("Memcpy", Memcpy, false);
    const auto pass = [](const char* name, std::optional<veltrane::KeystreamSourceKind> source, Cache where,
                         bool busy) {
        benchmark::RegisterBenchmark(name, Pass, source, where, busy)->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    const auto oneThread = veltrane::KeystreamSourceKind::Kept;
    pass("FilePass", std::nullopt, Cache::Warm, false);
    pass("FilePassOneThread", oneThread, Cache::Warm, false);
    pass("FilePassBusy", std::nullopt, Cache::Warm, true);
    pass("FilePassOneThreadBusy", oneThread, Cache::Warm, true);
    pass("FilePassInPlace", veltrane::KeystreamSourceKind::InPlace, Cache::Warm, false);
    pass("FilePassAhead", veltrane::KeystreamSourceKind::Ahead, Cache::Warm, false);
    add("ColdRead", Read<false>, true);
    add("ColdReadSequential", Read<true>, true);
    pass("FilePassCold", std::nullopt, Cache::Cold, false);
    pass("FilePassColdOneThread", oneThread, Cache::Cold, false);
}

} // namespace

} // namespace veltrane

int main(int argc, char** argv) {
    using namespace veltrane;
    // Five repetitions summarised by their medians unless the command line says otherwise.
    std::vector<char*> arguments(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    static char aggregates[] = "--benchmark_display_aggregates_only=true";
    if (std::none_of(argv + 1, argv + argc,
                     [](std::string_view argument) { return argument.starts_with("--benchmark_repetitions"); }))
        arguments.insert(arguments.end(), {repetitions, aggregates});
    int count = static_cast<int>(arguments.size());
    RegisterBenchmarks();
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 2;

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const veltrane::KeystreamKernelChoice& choice = veltrane::FirstUseKeystreamKernel();
    reporter.PrintSummary(std::cout, Cycles().source(),
                          std::string(veltrane::KeystreamKernelName(choice.Kernel)) + ": " + choice.Reason);
    if (!FilePath.empty())
        std::filesystem::remove(FilePath);
    benchmark::Shutdown();
    return 0;
}
