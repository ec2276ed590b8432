#include "engine/kernels/chunkkernel.h"

#if VELTRANE_KEYSTREAM_X86_64

#include <cstring>
#include <utility>

namespace veltrane {

namespace {

// For cores that stall on a load of S[i] issued while an earlier store into S[j] has no address
// yet (on the Intel cores measured, the lagged kernel ran no faster than OpenSSL's RC4, 8 cycles a
// byte, against 2.2 without the table hazard; this one runs at about 4). Here S[i] is read two
// steps early, before the swaps that could still change it, so no load runs ahead of a store it
// depends on; the swaps of those two steps are then checked against it: when the j of one of them
// is i, the value that swap stored is taken instead. Each check is a compare and a conditional
// move, and no branch depends on the key. The stream bytes are stored one by one into a buffer of
// the chunk's and XORed into the data 16 at a time, which takes fewer instructions than assembling
// 8-byte words. As in laggedkernel.cpp, j and the table indices are 64-bit registers whose upper
// bits stay zero.
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
VELTRANE_INLINE void Step(std::uint8_t* table, std::uint64_t& j, Preloaded& pre, std::uint8_t* stream) {
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

template <ChunkOutput Mode, unsigned... Index>
VELTRANE_INLINE void Chunk(std::uint8_t* table, std::uint64_t& j, Preloaded& pre, std::uint8_t* bytes,
                           std::integer_sequence<unsigned, Index...>) {
    alignas(64) std::uint8_t stream[ChunkSize];
    (Step<Index>(table, j, pre, stream), ...);
    using Vector = std::uint64_t __attribute__((vector_size(16)));
    for (std::size_t n = 0; n < ChunkSize; n += sizeof(Vector)) {
        Vector part;
        std::memcpy(&part, stream + n, sizeof part);
        if constexpr (Mode == ChunkOutput::Xor) {
            Vector data;
            std::memcpy(&data, bytes + n, sizeof data);
            part ^= data;
        }
        std::memcpy(bytes + n, &part, sizeof part);
    }
}

static_assert(ChunkSize % PreloadRegisters == 0, "the registers' turns repeat with every chunk");

template <ChunkOutput Mode>
unsigned Run(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    std::uint64_t j = startJ & 0xFF;
    Preloaded pre{};
    for (unsigned n = 0; n < PreloadDistance; ++n)
        pre.Value[n] = table[n];
    // No swap has stored anything yet: where j is 0 to begin with, the check takes S[0] either way.
    pre.Value[PreloadRegisters - 1] = table[0];
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize)
        Chunk<Mode>(table, j, pre, bytes, std::make_integer_sequence<unsigned, ChunkSize>{});
    return static_cast<unsigned>(j);
}

} // namespace

ChunkKernel PreloadedChunkKernel() {
    return {Run<ChunkOutput::Xor>, Run<ChunkOutput::Store>};
}

} // namespace veltrane

#endif
