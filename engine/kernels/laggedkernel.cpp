#include "engine/kernels/chunkkernel.h"

#if VELTRANE_KEYSTREAM_X86_64

#include <cstring>
#include <utility>

namespace veltrane {

namespace {

// j lives in a 64-bit register whose upper bits stay zero, so an 8-bit add keeps it reduced mod 256
// and it indexes the table directly; the same holds for t = S[i] + S[j]. The compiler cannot
// express that, and without it every step pays two zero-extensions and an address add, about a
// fifth of the time.
//
// The lagged kernel adds two measures, worth about 1.2x together on the Intel and Zen 5 cores
// measured (docs/performance.md):
// - The load of S[i] takes its address through `lag`, a register that is always zero but is
//   computed from j eight to fifteen steps earlier. Nothing else makes these loads wait, so the
//   core would otherwise issue them far ahead of the swaps' stores into S[j]; each time such a
//   store turns out to hit an S[i] that was already loaded (i meets an earlier j), the core throws
//   away its work and starts again from that load, some 40 cycles. Tying the loads to a recent j
//   keeps them close enough behind the stores that most such meetings are forwarded instead.
// - A short unconditional jump to the next 16-byte boundary after every second step. It splits
//   the long straight-line chunk into small fetch blocks, which the core's front end feeds faster.
// Without them (the unlagged kernel) the steps are what the engine ran first.

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
template <bool Lagged, unsigned Index, unsigned Shift>
VELTRANE_INLINE void Step(std::uint8_t* table, std::uint64_t& j, std::uint64_t lag, std::uint64_t& word) {
    std::uint64_t si;
    std::uint64_t sj;
    std::uint64_t k;
    if constexpr (Lagged && Index % 2 == 1)
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

// Eight steps, then one 8-byte XOR into the data or store of the stream. `lag` comes from the j
// before the previous word and is replaced by one from the j before this word.
template <bool Lagged, ChunkOutput Mode, unsigned First>
VELTRANE_INLINE void Word(std::uint8_t* table, std::uint64_t& j, std::uint64_t& lag, std::uint8_t* bytes) {
    const std::uint64_t nextLag = Lagged ? ZeroAfter(j) : 0;
    std::uint64_t stream;
    Step<Lagged, First + 0, 0>(table, j, lag, stream);
    Step<Lagged, First + 1, 8>(table, j, lag, stream);
    Step<Lagged, First + 2, 16>(table, j, lag, stream);
    Step<Lagged, First + 3, 24>(table, j, lag, stream);
    Step<Lagged, First + 4, 32>(table, j, lag, stream);
    Step<Lagged, First + 5, 40>(table, j, lag, stream);
    Step<Lagged, First + 6, 48>(table, j, lag, stream);
    Step<Lagged, First + 7, 56>(table, j, lag, stream);
    if constexpr (Mode == ChunkOutput::Xor) {
        std::uint64_t data;
        std::memcpy(&data, bytes + First, sizeof data);
        stream ^= data;
    }
    std::memcpy(bytes + First, &stream, sizeof stream);
    lag = nextLag;
}

template <bool Lagged, ChunkOutput Mode, unsigned... W>
VELTRANE_INLINE void Chunk(std::uint8_t* table, std::uint64_t& j, std::uint64_t& lag, std::uint8_t* bytes,
                           std::integer_sequence<unsigned, W...>) {
    (Word<Lagged, Mode, W * 8>(table, j, lag, bytes), ...);
}

template <bool Lagged, ChunkOutput Mode>
unsigned Run(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    std::uint64_t j = startJ & 0xFF;
    std::uint64_t lag = 0;
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize)
        Chunk<Lagged, Mode>(table, j, lag, bytes, std::make_integer_sequence<unsigned, ChunkSize / 8>{});
    return static_cast<unsigned>(j);
}

} // namespace

ChunkKernel UnlaggedChunkKernel() {
    return {Run<false, ChunkOutput::Xor>, Run<false, ChunkOutput::Store>};
}

ChunkKernel LaggedChunkKernel() {
    return {Run<true, ChunkOutput::Xor>, Run<true, ChunkOutput::Store>};
}

} // namespace veltrane

#endif
