#include "machinelimits.h"

#include <cstring>
#include <utility>

namespace veltrane {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

namespace {

constexpr unsigned StepsPerRound = 32;

// One step's instructions with constant, distinct addresses, so that no load meets a store and no
// step waits for another; the registers are written afresh each step, which renaming keeps apart.
template <unsigned Index>
inline __attribute__((always_inline)) void MixStep(const std::uint8_t* table, std::uint8_t* sink, std::uint64_t& word) {
    std::uint64_t a;
    std::uint64_t b;
    // Volatile: the same inputs every round would let the compiler run it once.
    asm volatile("movzbl %c[i](%[t]), %k[a]\n\t"
                 "movzbl %c[i2](%[t]), %k[b]\n\t"
                 "addb %b[a], %b[b]\n\t"
                 "movb %b[b], %c[i](%[k])\n\t"
                 "movb %b[a], %c[i3](%[k])\n\t"
                 "addb %b[a], %b[b]\n\t"
                 "movzbl %c[i4](%[t],%[b]), %k[a]\n\t"
                 "rorq $8, %[w]\n\t"
                 : [a] "=&r"(a), [b] "=&r"(b), [w] "+r"(word)
                 : [t] "r"(table), [k] "r"(sink), [i] "i"(Index % 64), [i2] "i"((Index * 7 + 3) % 64),
                   [i3] "i"(64 + (Index * 5 + 1) % 64), [i4] "i"(Index % 32)
                 : "memory", "cc");
}

// Eight steps, then the 8-byte load, XOR and store of the data.
template <unsigned First, unsigned... Step>
inline __attribute__((always_inline)) void MixWord(const std::uint8_t* table, std::uint8_t* sink, std::uint8_t* data,
                                                   std::integer_sequence<unsigned, Step...>) {
    std::uint64_t word = 0;
    (MixStep<First + Step>(table, sink, word), ...);
    std::uint64_t d;
    std::memcpy(&d, data + First, sizeof d);
    d ^= word;
    std::memcpy(data + First, &d, sizeof d);
}

template <unsigned... W>
inline __attribute__((always_inline)) void MixRound(const std::uint8_t* table, std::uint8_t* sink, std::uint8_t* data,
                                                    std::integer_sequence<unsigned, W...>) {
    (MixWord<W * 8>(table, sink, data, std::make_integer_sequence<unsigned, 8>{}), ...);
}

} // namespace

bool MachineLimitsAvailable() {
    return true;
}

std::uint64_t StepMixRounds(std::uint64_t rounds) {
    alignas(64) static std::uint8_t table[512];
    alignas(64) static std::uint8_t sink[128];
    alignas(64) static std::uint8_t data[StepsPerRound];
    for (std::uint64_t n = 0; n < rounds; ++n)
        MixRound(table, sink, data, std::make_integer_sequence<unsigned, StepsPerRound / 8>{});
    return rounds * StepsPerRound;
}

std::uint64_t LoadLatencyRounds(std::uint64_t rounds) {
    alignas(64) static void* ring[8];
    for (int n = 0; n < 8; ++n)
        ring[n] = &ring[(n + 3) % 8];
    void* at = ring[0];
    for (std::uint64_t n = 0; n < rounds; ++n)
        asm volatile("movq (%0), %0\n\tmovq (%0), %0\n\tmovq (%0), %0\n\tmovq (%0), %0\n\t"
                     "movq (%0), %0\n\tmovq (%0), %0\n\tmovq (%0), %0\n\tmovq (%0), %0"
                     : "+r"(at)
                     :
                     : "memory");
    return rounds * 8;
}

std::uint64_t ForwardingRounds(std::uint64_t rounds) {
    alignas(64) static std::uint8_t cell[64];
    std::uint64_t value = 0;
    for (std::uint64_t n = 0; n < rounds; ++n)
        asm volatile("movb %b0, (%1)\n\tmovzbl (%1), %k0\n\tmovb %b0, (%1)\n\tmovzbl (%1), %k0\n\t"
                     "movb %b0, (%1)\n\tmovzbl (%1), %k0\n\tmovb %b0, (%1)\n\tmovzbl (%1), %k0"
                     : "+r"(value)
                     : "r"(cell)
                     : "memory");
    return rounds * 4;
}

#else

bool MachineLimitsAvailable() {
    return false;
}

std::uint64_t StepMixRounds(std::uint64_t) {
    return 0;
}

std::uint64_t LoadLatencyRounds(std::uint64_t) {
    return 0;
}

std::uint64_t ForwardingRounds(std::uint64_t) {
    return 0;
}

#endif

} // namespace veltrane
