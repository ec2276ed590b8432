#include "baselinekernel.h"

#include <cstring>
#include <utility>

namespace veltrane {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

namespace {

template <unsigned Index, unsigned Shift>
inline __attribute__((always_inline)) void ChunkStep(std::uint8_t* table, std::uint64_t& j, std::uint64_t& word) {
    std::uint64_t si;
    std::uint64_t sj;
    std::uint64_t k;
    asm("movzbl %c[i](%[s]), %k[si]\n\t"
        "addb %b[si], %b[j]\n\t"
        "movzbl (%[s],%[j]), %k[sj]\n\t"
        "movb %b[sj], %c[i](%[s])\n\t"
        "movb %b[si], (%[s],%[j])\n\t"
        "addb %b[sj], %b[si]\n\t"
        "movzbl (%[s],%[si]), %k[k]\n\t"
        : [j] "+r"(j), [si] "=&r"(si), [sj] "=&r"(sj), [k] "=r"(k)
        : [s] "r"(table), [i] "i"(Index)
        : "memory", "cc");
    if constexpr (Shift == 0)
        word = k;
    else
        word |= k << Shift;
}

template <unsigned First>
inline __attribute__((always_inline)) void ChunkWord(std::uint8_t* table, std::uint64_t& j, std::uint8_t* bytes) {
    std::uint64_t stream;
    ChunkStep<First + 0, 0>(table, j, stream);
    ChunkStep<First + 1, 8>(table, j, stream);
    ChunkStep<First + 2, 16>(table, j, stream);
    ChunkStep<First + 3, 24>(table, j, stream);
    ChunkStep<First + 4, 32>(table, j, stream);
    ChunkStep<First + 5, 40>(table, j, stream);
    ChunkStep<First + 6, 48>(table, j, stream);
    ChunkStep<First + 7, 56>(table, j, stream);
    std::uint64_t data;
    std::memcpy(&data, bytes + First, sizeof data);
    data ^= stream;
    std::memcpy(bytes + First, &data, sizeof data);
}

template <unsigned... Word>
inline __attribute__((always_inline)) void Chunk(std::uint8_t* table, std::uint64_t& j, std::uint8_t* bytes,
                                                 std::integer_sequence<unsigned, Word...>) {
    (ChunkWord<Word * 8>(table, j, bytes), ...);
}

} // namespace

bool BaselineKernelAvailable() {
    return true;
}

unsigned BaselineXorChunks(std::uint8_t* table, unsigned j, std::uint8_t* bytes, std::size_t chunks) {
    std::uint64_t running = j & 0xFF;
    for (std::size_t n = 0; n < chunks; ++n, bytes += 256)
        Chunk(table, running, bytes, std::make_integer_sequence<unsigned, 32>{});
    return static_cast<unsigned>(running);
}

#else

bool BaselineKernelAvailable() {
    return false;
}

unsigned BaselineXorChunks(std::uint8_t*, unsigned j, std::uint8_t*, std::size_t) {
    return j;
}

#endif

} // namespace veltrane
