#include "engine/keystreamkernels.h"

#include "engine/kernels/chunkkernel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string.h>
#include <vector>

namespace veltrane {

namespace {

struct KernelEntry {
    KeystreamKernel Kernel;
    ChunkKernel (*Runners)();
};

constexpr KernelEntry Kernels[] = {
    {KeystreamKernel::Portable, PortableChunkKernel},
#if VELTRANE_KEYSTREAM_X86_64
    {KeystreamKernel::Unlagged, UnlaggedChunkKernel},
    {KeystreamKernel::Lagged, LaggedChunkKernel},
    {KeystreamKernel::Preloaded, PreloadedChunkKernel},
    {KeystreamKernel::Wide, WideChunkKernel},
    {KeystreamKernel::Compact, CompactChunkKernel},
#endif
};

constexpr auto BuiltList = [] {
    std::array<KeystreamKernel, std::size(Kernels)> list{};
    for (std::size_t n = 0; n < list.size(); ++n)
        list[n] = Kernels[n].Kernel;
    return list;
}();

const KernelEntry* EntryOf(KeystreamKernel kernel) {
    const auto found =
        std::find_if(std::begin(Kernels), std::end(Kernels), [&](const KernelEntry& e) { return e.Kernel == kernel; });
    return found == std::end(Kernels) ? nullptr : found;
}

// The timing: each candidate runs SampleChunks chunks at a time (about 2 to 6 microseconds), in
// turns, so that a slow moment of the machine falls on all of them alike; only the best time of
// each counts, which a preempted or disturbed turn cannot lower. After EarlyTurns, candidates
// more than Behind times the leader's best drop out; the rest go on to Turns. Over a dozen
// undisturbed turns the best times of a candidate agree within about 1 %, well below the 5 %
// between kernels worth telling apart; the whole takes some 0.2 ms.
constexpr std::size_t SampleChunks = 16;
constexpr int EarlyTurns = 4;
constexpr int Turns = 12;
constexpr double Behind = 1.25;

std::int64_t Nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The processor time of this thread: what the timing costs the run, whatever else the machine does.
std::int64_t ThreadNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct Candidate {
    const KernelEntry* Entry;
    std::int64_t Best = INT64_MAX; // nanoseconds for SampleChunks
    bool Dropped = false;
};

KeystreamKernelChoice TimeCandidates() {
    std::vector<Candidate> candidates;
    for (const KernelEntry& entry : Kernels) {
        // The portable steps are there for machines without the others.
        if (entry.Kernel != KeystreamKernel::Portable || std::size(Kernels) == 1)
            candidates.push_back({&entry});
    }
    if (candidates.size() == 1)
        return {candidates[0].Entry->Kernel, std::string("the only kernel of this build")};

    alignas(64) std::uint8_t table[256];
    for (unsigned n = 0; n < 256; ++n)
        table[n] = static_cast<std::uint8_t>(n * 167 + 13); // a permutation: 167 is odd
    alignas(64) std::uint8_t bytes[SampleChunks * ChunkSize] = {};
    unsigned j = 0;
    const std::int64_t began = ThreadNanoseconds();
    // One untimed turn each: the code's first fetch and the predictors' first lessons.
    for (const Candidate& candidate : candidates)
        j = candidate.Entry->Runners().Xor(table, j, bytes, SampleChunks);
    for (int turn = 0; turn < Turns; ++turn) {
        for (std::size_t step = 0; step < candidates.size(); ++step) {
            Candidate& candidate = candidates[(step + static_cast<std::size_t>(turn)) % candidates.size()];
            if (candidate.Dropped)
                continue;
            const ChunkRunner run = candidate.Entry->Runners().Xor;
            const std::int64_t start = Nanoseconds();
            j = run(table, j, bytes, SampleChunks);
            candidate.Best = std::min(candidate.Best, Nanoseconds() - start);
        }
        if (turn + 1 == EarlyTurns) {
            std::int64_t leader = INT64_MAX;
            for (const Candidate& candidate : candidates)
                leader = std::min(leader, candidate.Best);
            for (Candidate& candidate : candidates)
                candidate.Dropped = static_cast<double>(candidate.Best) > Behind * static_cast<double>(leader);
        }
    }
    const std::int64_t took = ThreadNanoseconds() - began;
    ::explicit_bzero(table, sizeof table);

    // Fastest first, with each one's best time.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.Best < b.Best; });
    std::string reason = "the fastest of " + std::to_string(candidates.size()) + " timed at first use in " +
                         std::to_string((took + 500) / 1000) + " us of processor time (best nanoseconds for " +
                         std::to_string(SampleChunks * ChunkSize / 1024) + " KiB of " + std::to_string(Turns) +
                         " turns; dropped after " + std::to_string(EarlyTurns) + " when over " +
                         std::to_string(static_cast<int>((Behind - 1.0) * 100.0 + 0.5)) + " % behind):";
    for (std::size_t n = 0; n < candidates.size(); ++n)
        reason += std::string(n == 0 ? " " : ", ") + KeystreamKernelName(candidates[n].Entry->Kernel) + " " +
                  std::to_string(candidates[n].Best) + (candidates[n].Dropped ? " (dropped)" : "");
    return {candidates.front().Entry->Kernel, reason};
}

std::atomic<KeystreamKernel>& ActiveKernel() {
    static std::atomic<KeystreamKernel> kernel{FirstUseKeystreamKernel().Kernel};
    return kernel;
}

} // namespace

std::span<const KeystreamKernel> BuiltKeystreamKernels() {
    return BuiltList;
}

const char* KeystreamKernelName(KeystreamKernel kernel) {
    switch (kernel) {
    case KeystreamKernel::Portable:
        return "portable";
    case KeystreamKernel::Unlagged:
        return "unlagged";
    case KeystreamKernel::Lagged:
        return "lagged";
    case KeystreamKernel::Preloaded:
        return "preloaded";
    case KeystreamKernel::Wide:
        return "wide";
    case KeystreamKernel::Compact:
        return "compact";
    }
    return "unknown";
}

std::optional<KeystreamKernel> KeystreamKernelNamed(std::string_view name) {
    for (const KeystreamKernel kernel : {KeystreamKernel::Portable, KeystreamKernel::Unlagged, KeystreamKernel::Lagged,
                                         KeystreamKernel::Preloaded, KeystreamKernel::Wide, KeystreamKernel::Compact}) {
        if (name == KeystreamKernelName(kernel))
            return kernel;
    }
    return std::nullopt;
}

KeystreamKernelChoice ChooseKeystreamKernel(const char* forced) {
    if (forced == nullptr || *forced == '\0')
        return TimeCandidates();
    const std::optional<KeystreamKernel> named = KeystreamKernelNamed(forced);
    if (named && EntryOf(*named) != nullptr)
        return {*named, std::string("named by VELTRANE_KERNEL")};
    std::string known;
    for (const KernelEntry& entry : Kernels)
        known += std::string(known.empty() ? "" : ", ") + KeystreamKernelName(entry.Kernel);
    KeystreamKernelChoice timed = TimeCandidates();
    timed.Reason = "VELTRANE_KERNEL=" + std::string(forced) + " names no kernel of this build (it has " + known +
                   "), so " + timed.Reason;
    return timed;
}

const KeystreamKernelChoice& FirstUseKeystreamKernel() {
    static const KeystreamKernelChoice choice = ChooseKeystreamKernel(std::getenv("VELTRANE_KERNEL"));
    return choice;
}

KeystreamKernel ActiveKeystreamKernel() {
    return ActiveKernel().load(std::memory_order_relaxed);
}

bool UseKeystreamKernel(KeystreamKernel kernel) {
    if (EntryOf(kernel) == nullptr)
        return false;
    ActiveKernel().store(kernel, std::memory_order_relaxed);
    return true;
}

ChunkKernel ActiveChunkKernel() {
    return EntryOf(ActiveKeystreamKernel())->Runners();
}

} // namespace veltrane
