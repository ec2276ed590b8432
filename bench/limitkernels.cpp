#include "limitkernels.h"

#include <cstring>
#include <utility>

namespace veltrane {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

namespace {

// Chained: j += S[i] as in the keystream. Unchained: S[i] itself stands in for j, a fresh value
// each step. Either way three loads and two stores a step, as in the keystream.
template <bool Chained, unsigned Index, unsigned Shift>
inline __attribute__((always_inline)) void Step(const std::uint8_t* table, std::uint8_t* sink, std::uint64_t& j,
                                                std::uint64_t& word) {
    std::uint64_t si;
    std::uint64_t sj;
    std::uint64_t k;
    if constexpr (Chained)
        asm("movzbl %c[i](%[s]), %k[si]\n\t"
            "addb %b[si], %b[j]\n\t"
            "movzbl (%[s],%[j]), %k[sj]\n\t"
            "movb %b[sj], %c[i](%[d])\n\t"
            "movb %b[si], (%[d],%[j])\n\t"
            "addb %b[sj], %b[si]\n\t"
            "movzbl (%[s],%[si]), %k[k]\n\t"
            "jmp 1f\n\t.p2align 4\n1:\n\t"
            : [j] "+r"(j), [si] "=&r"(si), [sj] "=&r"(sj), [k] "=r"(k)
            : [s] "r"(table), [d] "r"(sink), [i] "i"(Index)
            : "memory", "cc");
    else
        asm("movzbl %c[i](%[s]), %k[si]\n\t"
            "movzbl (%[s],%[si]), %k[sj]\n\t"
            "movb %b[sj], %c[i](%[d])\n\t"
            "movb %b[si], (%[d],%[si])\n\t"
            "addb %b[sj], %b[si]\n\t"
            "movzbl (%[s],%[si]), %k[k]\n\t"
            "jmp 1f\n\t.p2align 4\n1:\n\t"
            : [j] "+r"(j), [si] "=&r"(si), [sj] "=&r"(sj), [k] "=r"(k)
            : [s] "r"(table), [d] "r"(sink), [i] "i"(Index)
            : "memory", "cc");
    if constexpr (Shift == 0)
        word = k;
    else
        word |= k << Shift;
}

template <bool Chained, unsigned First>
inline __attribute__((always_inline)) void Word(const std::uint8_t* table, std::uint8_t* sink, std::uint64_t& j,
                                                std::uint8_t* bytes) {
    std::uint64_t stream;
    Step<Chained, First + 0, 0>(table, sink, j, stream);
    Step<Chained, First + 1, 8>(table, sink, j, stream);
    Step<Chained, First + 2, 16>(table, sink, j, stream);
    Step<Chained, First + 3, 24>(table, sink, j, stream);
    Step<Chained, First + 4, 32>(table, sink, j, stream);
    Step<Chained, First + 5, 40>(table, sink, j, stream);
    Step<Chained, First + 6, 48>(table, sink, j, stream);
    Step<Chained, First + 7, 56>(table, sink, j, stream);
    std::uint64_t data;
    std::memcpy(&data, bytes + First, sizeof data);
    data ^= stream;
    std::memcpy(bytes + First, &data, sizeof data);
}

template <bool Chained, unsigned... W>
inline __attribute__((always_inline)) void Chunk(const std::uint8_t* table, std::uint8_t* sink, std::uint64_t& j,
                                                 std::uint8_t* bytes, std::integer_sequence<unsigned, W...>) {
    (Word<Chained, W * 8>(table, sink, j, bytes), ...);
}

template <bool Chained>
unsigned Run(const std::uint8_t* table, std::uint8_t* sink, unsigned j, std::uint8_t* bytes, std::size_t chunks) {
    std::uint64_t running = j & 0xFF;
    for (std::size_t n = 0; n < chunks; ++n, bytes += 256)
        Chunk<Chained>(table, sink, running, bytes, std::make_integer_sequence<unsigned, 32>{});
    return static_cast<unsigned>(running);
}

} // namespace

bool LimitKernelsAvailable() {
    return true;
}

unsigned NoHazardXorChunks(const std::uint8_t* table, std::uint8_t* sink, unsigned j, std::uint8_t* bytes,
                           std::size_t chunks) {
    return Run<true>(table, sink, j, bytes, chunks);
}

unsigned PortsOnlyXorChunks(const std::uint8_t* table, std::uint8_t* sink, unsigned j, std::uint8_t* bytes,
                            std::size_t chunks) {
    return Run<false>(table, sink, j, bytes, chunks);
}

#else

bool LimitKernelsAvailable() {
    return false;
}

unsigned NoHazardXorChunks(const std::uint8_t*, std::uint8_t*, unsigned j, std::uint8_t*, std::size_t) {
    return j;
}

unsigned PortsOnlyXorChunks(const std::uint8_t*, std::uint8_t*, unsigned j, std::uint8_t*, std::size_t) {
    return j;
}

#endif

} // namespace veltrane
