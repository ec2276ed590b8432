#include "engine/keystream.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <ctime>
#include <utility>

namespace veltrane {

namespace {

// The pass hands the kernels whole blocks that start at step index 0, so in every 256-byte chunk
// the step index of byte c is simply c: the chunk code below is unrolled over all 256 positions
// with the index a compile-time constant, leaving j as the only running state. The chain through j
// (j += S[i]) is what every generator of this family waits on; the rest is loads and stores.
constexpr std::size_t ChunkSize = 256;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(VELTRANE_PORTABLE_KEYSTREAM)
#define VELTRANE_KEYSTREAM_X86_64 1
#else
#define VELTRANE_KEYSTREAM_X86_64 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VELTRANE_INLINE inline __attribute__((always_inline))
#else
#define VELTRANE_INLINE inline
#endif

// What a kernel does with eight keystream bytes: XOR them into the data, or store them.
enum class Output { Xor, Store };

#if VELTRANE_KEYSTREAM_X86_64

// x86-64: j lives in a 64-bit register whose upper bits stay zero, so an 8-bit add keeps it
// reduced mod 256 and it indexes the table directly; the same holds for t = S[i] + S[j]. The
// compiler cannot express that, and without it every step pays two zero-extensions and an address
// add, about a fifth of the time.
//
// Two further measures, worth about 1.2x together on the machines measured (see bench/):
// - The load of S[i] takes its address through `lag`, a register that is always zero but is
//   computed from j eight to fifteen steps earlier. Nothing else makes these loads wait, so the
//   core would otherwise issue them far ahead of the swaps' stores into S[j]; each time such a
//   store turns out to hit an S[i] that was already loaded (i meets an earlier j), the core throws
//   away its work and starts again from that load, some 40 cycles. Tying the loads to a recent j
//   keeps them close enough behind the stores that most such meetings are forwarded instead.
// - A short unconditional jump to the next 16-byte boundary after every second step. It splits
//   the long straight-line chunk into small fetch blocks, which the core's front end feeds faster.
//   The jump costs nothing on cores without the effect.
using RunningJ = std::uint64_t;

// A zero that the core cannot know is zero before j is known.
VELTRANE_INLINE std::uint64_t ZeroAfter(std::uint64_t j) {
    std::uint64_t zero;
    asm("movl %k[j], %k[z]\n\t"
        "shrl $8, %k[z]"
        : [z] "=r"(zero)
        : [j] "r"(j));
    return zero;
}

#define VELTRANE_STEP_BODY                                                                                             \
    "movzbl %c[i](%[s],%[lag]), %k[si]\n\t"                                                                            \
    "addb %b[si], %b[j]\n\t"                                                                                           \
    "movzbl (%[s],%[j]), %k[sj]\n\t"                                                                                   \
    "movb %b[sj], %c[i](%[s])\n\t"                                                                                     \
    "movb %b[si], (%[s],%[j])\n\t"                                                                                     \
    "addb %b[sj], %b[si]\n\t"                                                                                          \
    "movzbl (%[s],%[si]), %k[k]\n\t"

// One output step with the constant step index `Index`; the keystream byte lands at bit `Shift`.
template <unsigned Index, unsigned Shift>
VELTRANE_INLINE void ChunkStep(std::uint8_t* table, RunningJ& j, std::uint64_t lag, std::uint64_t& word) {
    std::uint64_t si;
    std::uint64_t sj;
    std::uint64_t k;
    if constexpr (Index % 2 == 1)
        asm(VELTRANE_STEP_BODY "jmp 1f\n\t"
                               ".p2align 4\n"
                               "1:\n\t"
            : [j] "+r"(j), [si] "=&r"(si), [sj] "=&r"(sj), [k] "=r"(k)
            : [s] "r"(table), [lag] "r"(lag), [i] "i"(Index)
            : "memory", "cc");
    else
        asm(VELTRANE_STEP_BODY
            : [j] "+r"(j), [si] "=&r"(si), [sj] "=&r"(sj), [k] "=r"(k)
            : [s] "r"(table), [lag] "r"(lag), [i] "i"(Index)
            : "memory", "cc");
    if constexpr (Shift == 0)
        word = k;
    else
        word |= k << Shift;
}

#undef VELTRANE_STEP_BODY

// The steps for cores that stall on a load of S[i] issued while an earlier store into S[j] has no
// address yet (on the Intel cores measured, the lagged steps above ran no faster than OpenSSL's
// RC4, 8 cycles a byte, against 2.2 without the table hazard; these run at about 4). Here S[i] is
// read two steps early, before the swaps that could still change it, so no load runs ahead of a
// store it depends on; the swaps of those two steps are then checked against it: when the j of
// one of them is i, the value that swap stored is taken instead. Each check is a compare and a
// conditional move, and no branch depends on the key. The stream bytes are stored one by one into
// a buffer of the chunk's and XORed into the data 16 at a time, which takes fewer instructions
// than assembling 8-byte words. The first use times both kernels and keeps the faster.
constexpr unsigned PreloadDistance = 2;

// S[i] of the steps in hand, in registers taken in turn: the one of step m holds the early read of
// S[m] until the step corrects it into S[m] itself, which the swap then stores into S[j] and the
// next step compares with. Four registers, so that the early read for step m + 2 never takes the
// register step m or m - 1 still needs; a multiple of four steps makes a chunk.
constexpr unsigned PreloadRegisters = 4;
struct Preloaded {
    std::uint64_t Value[PreloadRegisters];
};

template <unsigned Index>
VELTRANE_INLINE void PreloadedStep(std::uint8_t* table, RunningJ& j, Preloaded& pre, std::uint8_t* stream) {
    std::uint64_t& si = pre.Value[Index % PreloadRegisters];
    const std::uint64_t& stored = pre.Value[(Index + PreloadRegisters - 1) % PreloadRegisters];
    std::uint64_t& later = pre.Value[(Index + PreloadDistance) % PreloadRegisters];
    std::uint64_t sj;
    std::uint64_t k;
    // S[i] is the early read unless the swap of the step before had i as its j.
    asm("cmpb %[i], %b[j]\n\t"
        "cmove %k[stored], %k[si]\n\t"
        "addb %b[si], %b[j]\n\t"
        : [si] "+r"(si), [j] "+r"(j)
        : [stored] "r"(stored), [i] "i"(static_cast<std::int8_t>(Index))
        : "cc");
    // The early read of S[i + 2] goes before this step's swap, which may change it: then it takes
    // the value the swap stores.
    asm("movzbl (%[s],%[j]), %k[sj]\n\t"
        "movzbl %c[next](%[s]), %k[later]\n\t"
        "movb %b[sj], %c[i](%[s])\n\t"
        "movb %b[si], (%[s],%[j])\n\t"
        "cmpb %[nextIndex], %b[j]\n\t"
        "cmove %k[si], %k[later]\n\t"
        : [sj] "=&r"(sj), [later] "=&r"(later)
        : [s] "r"(table), [j] "r"(j), [si] "r"(si), [i] "i"(Index), [next] "i"((Index + PreloadDistance) % ChunkSize),
          [nextIndex] "i"(static_cast<std::int8_t>((Index + PreloadDistance) % ChunkSize))
        : "memory", "cc");
    // Volatile: it has no output the compiler sees used.
    asm volatile("addb %b[si], %b[sj]\n\t"
                 "movzbl (%[s],%[sj]), %k[k]\n\t"
                 "movb %b[k], %c[i](%[out])\n\t"
                 : [sj] "+r"(sj), [k] "=&r"(k)
                 : [si] "r"(si), [s] "r"(table), [out] "r"(stream), [i] "i"(Index)
                 : "memory", "cc");
}

template <Output Mode, unsigned... Index>
VELTRANE_INLINE void PreloadedChunk(std::uint8_t* table, RunningJ& j, Preloaded& pre, std::uint8_t* bytes,
                                    std::integer_sequence<unsigned, Index...>) {
    // The stream bytes go one by one to a buffer of the chunk's, then into the data 16 at a time.
    alignas(64) std::uint8_t stream[ChunkSize];
    (PreloadedStep<Index>(table, j, pre, stream), ...);
    using Vector = std::uint64_t __attribute__((vector_size(16)));
    for (std::size_t n = 0; n < ChunkSize; n += sizeof(Vector)) {
        Vector part;
        std::memcpy(&part, stream + n, sizeof part);
        if constexpr (Mode == Output::Xor) {
            Vector data;
            std::memcpy(&data, bytes + n, sizeof data);
            part ^= data;
        }
        std::memcpy(bytes + n, &part, sizeof part);
    }
}

static_assert(ChunkSize % PreloadRegisters == 0, "the registers' turns repeat with every chunk");

template <Output Mode>
unsigned RunPreloadedChunks(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    RunningJ j = static_cast<RunningJ>(startJ & 0xFF);
    Preloaded pre{};
    for (unsigned n = 0; n < PreloadDistance; ++n)
        pre.Value[n] = table[n];
    // No swap has stored anything yet: where j is 0 to begin with, the check takes S[0] either way.
    pre.Value[PreloadRegisters - 1] = table[0];
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize)
        PreloadedChunk<Mode>(table, j, pre, bytes, std::make_integer_sequence<unsigned, ChunkSize>{});
    return static_cast<unsigned>(j);
}

#else

// Elsewhere the same steps in plain C++, with j as a byte so that the reduction costs nothing
// where the machine has byte arithmetic.
using RunningJ = std::uint8_t;

VELTRANE_INLINE std::uint64_t ZeroAfter(RunningJ) {
    return 0;
}

template <unsigned Index, unsigned Shift>
VELTRANE_INLINE void ChunkStep(std::uint8_t* table, RunningJ& j, std::uint64_t, std::uint64_t& word) {
    const std::uint8_t si = table[Index];
    j = static_cast<std::uint8_t>(j + si);
    const std::uint8_t sj = table[j];
    table[Index] = sj;
    table[j] = si;
    const std::uint64_t k = table[static_cast<std::uint8_t>(si + sj)];
    // Keystream byte n must meet data byte n whatever the machine's byte order.
    constexpr unsigned place = std::endian::native == std::endian::little ? Shift : 56 - Shift;
    if constexpr (Shift == 0)
        word = k << place;
    else
        word |= k << place;
}

#endif

// Eight steps, then one 8-byte XOR into the data or store of the stream. `lag` comes from the j
// before the previous word and is replaced by one from the j before this word.
template <Output Mode, unsigned First>
VELTRANE_INLINE void ChunkWord(std::uint8_t* table, RunningJ& j, std::uint64_t& lag, std::uint8_t* bytes) {
    const std::uint64_t nextLag = ZeroAfter(j);
    std::uint64_t stream;
    ChunkStep<First + 0, 0>(table, j, lag, stream);
    ChunkStep<First + 1, 8>(table, j, lag, stream);
    ChunkStep<First + 2, 16>(table, j, lag, stream);
    ChunkStep<First + 3, 24>(table, j, lag, stream);
    ChunkStep<First + 4, 32>(table, j, lag, stream);
    ChunkStep<First + 5, 40>(table, j, lag, stream);
    ChunkStep<First + 6, 48>(table, j, lag, stream);
    ChunkStep<First + 7, 56>(table, j, lag, stream);
    if constexpr (Mode == Output::Xor) {
        std::uint64_t data;
        std::memcpy(&data, bytes + First, sizeof data);
        stream ^= data;
    }
    std::memcpy(bytes + First, &stream, sizeof stream);
    lag = nextLag;
}

template <Output Mode, unsigned... Word>
VELTRANE_INLINE void Chunk(std::uint8_t* table, RunningJ& j, std::uint64_t& lag, std::uint8_t* bytes,
                           std::integer_sequence<unsigned, Word...>) {
    (ChunkWord<Mode, Word * 8>(table, j, lag, bytes), ...);
}

// Runs `chunks` whole chunks over `bytes` with `table`, which must not overlap them; returns j.
template <Output Mode>
unsigned RunChunks(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    RunningJ j = static_cast<RunningJ>(startJ & 0xFF);
    std::uint64_t lag = 0;
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize)
        Chunk<Mode>(table, j, lag, bytes, std::make_integer_sequence<unsigned, ChunkSize / 8>{});
    return static_cast<unsigned>(j);
}

#if VELTRANE_KEYSTREAM_X86_64
double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Which x86-64 kernel is faster depends on the core (see above): each is timed here on a few
// chunks, in turns, and the faster one taken. Timed by the thread's processor time, so that
// another program taking the processor away does not count; the best of three turns each.
KeystreamKernel NativeKernel() {
    alignas(64) std::uint8_t table[256];
    for (unsigned n = 0; n < 256; ++n)
        table[n] = static_cast<std::uint8_t>(n * 167 + 13); // a permutation: 167 is odd
    alignas(64) std::uint8_t bytes[16 * ChunkSize] = {};
    double lagged = 1e9;
    double preloaded = 1e9;
    unsigned j = 0;
    for (int turn = 0; turn < 3; ++turn) {
        double start = ThreadSeconds();
        j = RunChunks<Output::Xor>(table, j, bytes, sizeof bytes / ChunkSize);
        lagged = std::min(lagged, ThreadSeconds() - start);
        start = ThreadSeconds();
        j = RunPreloadedChunks<Output::Xor>(table, j, bytes, sizeof bytes / ChunkSize);
        preloaded = std::min(preloaded, ThreadSeconds() - start);
    }
    return preloaded < lagged ? KeystreamKernel::Preloaded : KeystreamKernel::LaggedLoads;
}
#else
KeystreamKernel NativeKernel() {
    return KeystreamKernel::Portable;
}
#endif

std::atomic<KeystreamKernel>& ChosenKernel() {
    static std::atomic<KeystreamKernel> kernel{NativeKernel()};
    return kernel;
}

template <Output Mode>
unsigned RunKernel(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
#if VELTRANE_KEYSTREAM_X86_64
    if (ChosenKernel().load(std::memory_order_relaxed) == KeystreamKernel::Preloaded)
        return RunPreloadedChunks<Mode>(table, startJ, bytes, chunks);
#endif
    return RunChunks<Mode>(table, startJ, bytes, chunks);
}

// The generator's steps over `count` bytes starting at step index 0, whole chunks by the kernel and
// the last partial chunk step by step as NextKeyByte does it.
template <Output Mode>
void RunBlock(std::array<std::uint8_t, 256>& stateTable, std::uint8_t& stateJ, std::uint8_t* bytes, std::size_t count) {
    // A private, cache-line aligned copy of the table: it cannot alias the block, and its four
    // lines never straddle a fifth.
    alignas(64) std::uint8_t s[256];
    std::memcpy(s, stateTable.data(), sizeof s);
    const std::size_t whole = count / ChunkSize;
    unsigned j = RunKernel<Mode>(s, stateJ, bytes, whole);
    for (std::size_t c = whole * ChunkSize; c < count; ++c) {
        const unsigned i = c & 0xFF;
        const std::uint8_t si = s[i];
        j = (j + si) & 0xFF;
        const std::uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        const std::uint8_t k = s[(si + sj) & 0xFF];
        bytes[c] = Mode == Output::Xor ? static_cast<std::uint8_t>(bytes[c] ^ k) : k;
    }
    std::memcpy(stateTable.data(), s, sizeof s);
    stateJ = static_cast<std::uint8_t>(j);
}

} // namespace

KeystreamKernel ActiveKeystreamKernel() {
    return ChosenKernel().load(std::memory_order_relaxed);
}

bool UseKeystreamKernel(KeystreamKernel kernel) {
    const bool built =
        VELTRANE_KEYSTREAM_X86_64 ? kernel != KeystreamKernel::Portable : kernel == KeystreamKernel::Portable;
    if (built)
        ChosenKernel().store(kernel, std::memory_order_relaxed);
    return built;
}

void KeystreamGenerator::ScheduleKey(std::span<const std::uint8_t> keyText) {
    // The key is padded with 255, never repeated, and only its first 256 bytes count.
    for (unsigned n = 0; n < 256; ++n) {
        StateTable[n] = static_cast<std::uint8_t>(n);
        KeyTable[n] = n < keyText.size() ? keyText[n] : 0xFF;
    }

    // Ten mixing passes, each restarting j but stirring the permutation the previous one left.
    for (int pass = 0; pass < 10; ++pass) {
        unsigned j = 0;
        for (unsigned i = 0; i < 256; ++i) {
            j = (j + StateTable[i] + KeyTable[i]) & 0xFF;
            std::swap(StateTable[i], StateTable[j]);
        }
    }

    // Fifty warm-up steps with i = 0..49 that produce no output; j carries into the first output step,
    // while i starts again from the caller's counter.
    unsigned j = 0;
    for (unsigned i = 0; i < 50; ++i) {
        j = (j + StateTable[i]) & 0xFF;
        std::swap(StateTable[i], StateTable[j]);
    }
    J = static_cast<std::uint8_t>(j);
}

std::uint8_t KeystreamGenerator::NextKeyByte(std::uint8_t index) {
    const unsigned i = index;
    J = static_cast<std::uint8_t>(J + StateTable[i]);
    std::swap(StateTable[i], StateTable[J]);
    return StateTable[(StateTable[i] + StateTable[J]) & 0xFF];
}

void KeystreamGenerator::XorBlock(std::span<std::uint8_t> block) {
    RunBlock<Output::Xor>(StateTable, J, block.data(), block.size());
}

void KeystreamGenerator::GenerateBlock(std::span<std::uint8_t> stream) {
    RunBlock<Output::Store>(StateTable, J, stream.data(), stream.size());
}

} // namespace veltrane
