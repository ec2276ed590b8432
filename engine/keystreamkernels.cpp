#include "engine/keystreamkernels.h"

#include "engine/kernels/chunkkernel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string.h>

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

KeystreamKernelChoice TimeCandidates() {
    std::array<const KernelEntry*, std::size(Kernels)> candidates{};
    std::size_t count = 0;
    for (const KernelEntry& entry : Kernels) {
        // The portable steps are there for machines without the others.
        if (entry.Kernel != KeystreamKernel::Portable || std::size(Kernels) == 1)
            candidates[count++] = &entry;
    }
    if (count == 1)
        return {candidates[0]->Kernel, std::string("the only kernel of this build")};

    alignas(64) std::uint8_t table[256];
    for (unsigned n = 0; n < 256; ++n)
        table[n] = static_cast<std::uint8_t>(n * 167 + 13); // a permutation: 167 is odd
    alignas(64) std::uint8_t bytes[SampleChunks * ChunkSize] = {};
    unsigned j = 0;
    std::array<std::int64_t, std::size(Kernels)> best{};
    std::array<bool, std::size(Kernels)> dropped{};
    best.fill(INT64_MAX);
    const std::int64_t began = Nanoseconds();
    // One untimed turn each: the code's first fetch and the predictors' first lessons.
    for (std::size_t c = 0; c < count; ++c)
        j = candidates[c]->Runners().Xor(table, j, bytes, SampleChunks);
    for (int turn = 0; turn < Turns; ++turn) {
        for (std::size_t step = 0; step < count; ++step) {
            const std::size_t c = (step + static_cast<std::size_t>(turn)) % count;
            if (dropped[c])
                continue;
            const ChunkRunner run = candidates[c]->Runners().Xor;
            const std::int64_t start = Nanoseconds();
            j = run(table, j, bytes, SampleChunks);
            best[c] = std::min(best[c], Nanoseconds() - start);
        }
        if (turn + 1 == EarlyTurns) {
            const std::int64_t leader = *std::min_element(best.begin(), best.begin() + static_cast<long>(count));
            for (std::size_t c = 0; c < count; ++c)
                dropped[c] = static_cast<double>(best[c]) > Behind * static_cast<double>(leader);
        }
    }
    const std::int64_t took = Nanoseconds() - began;
    std::size_t fastest = 0;
    for (std::size_t c = 1; c < count; ++c) {
        if (best[c] < best[fastest])
            fastest = c;
    }

    // Fastest first, with each one's best time for the 4 KiB and the number of turns it ran.
    std::array<std::size_t, std::size(Kernels)> order{};
    for (std::size_t c = 0; c < count; ++c)
        order[c] = c;
    std::sort(order.begin(), order.begin() + static_cast<long>(count),
              [&](std::size_t a, std::size_t b) { return best[a] < best[b]; });
    std::string reason = "the fastest of " + std::to_string(count) + " timed at first use in " +
                         std::to_string((took + 500) / 1000) + " us (best nanoseconds for " +
                         std::to_string(SampleChunks * ChunkSize / 1024) + " KiB of " + std::to_string(Turns) +
                         " turns; dropped after " + std::to_string(EarlyTurns) + " when over " +
                         std::to_string(static_cast<int>((Behind - 1.0) * 100.0 + 0.5)) + " % behind):";
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t c = order[n];
        reason += std::string(n == 0 ? " " : ", ") + KeystreamKernelName(candidates[c]->Kernel) + " " + std::to_string(best[c]) +
                  (dropped[c] ? " (dropped)" : "");
    }
    ::explicit_bzero(table, sizeof table);
    return {candidates[fastest]->Kernel, reason};
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
