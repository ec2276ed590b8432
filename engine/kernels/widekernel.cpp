#include "engine/kernels/chunkkernel.h"

#if VELTRANE_KEYSTREAM_X86_64

#include <cstring>
#include <string.h>
#include <utility>

namespace veltrane {

namespace {

// The table as 32-bit entries, the way the published assembly of this family's loop keeps it:
// every entry has a word of its own, so a load of one entry never partly overlaps the store into a
// neighbour, which some cores treat as a conflict to wait for. A step loads S[j], stores S[i] into
// S[j], and only then loads the next step's S[i], so that this load follows the one store that
// most often hits it; the output byte is loaded straight into the low byte of the word being
// gathered, which is rotated a byte each step, and eight of them meet the data in one 8-byte XOR.
// Entries and indices stay below 256 in 64-bit registers, so 8-bit adds keep them reduced.
using Entry = std::uint32_t;

struct WideState {
    alignas(64) Entry Table[256];
};

// One step with the constant index `Index`: `si` holds S[Index] on entry and S[Index + 1] after.
template <unsigned Index>
VELTRANE_INLINE void WideStep(Entry* table, std::uint64_t& j, std::uint64_t& si, std::uint64_t& word) {
    std::uint64_t sj;
    std::uint64_t next;
    asm("addb %b[si], %b[j]\n\t"
        "movl (%[s],%[j],4), %k[sj]\n\t"
        "movl %k[si], (%[s],%[j],4)\n\t"
        "movl %c[nextAt](%[s]), %k[next]\n\t"
        "rorq $8, %[word]\n\t"
        "movl %k[sj], %c[at](%[s])\n\t"
        "addb %b[si], %b[sj]\n\t"
        "movb (%[s],%[sj],4), %b[word]\n\t"
        : [j] "+r"(j), [sj] "=&r"(sj), [next] "=&r"(next), [word] "+r"(word)
        : [s] "r"(table), [si] "r"(si), [at] "i"(sizeof(Entry) * Index),
          [nextAt] "i"(sizeof(Entry) * ((Index + 1) % ChunkSize))
        : "memory", "cc");
    si = next;
}

// The word rotated once more after its eighth byte holds keystream byte n in byte n.
VELTRANE_INLINE std::uint64_t LastTurn(std::uint64_t word) {
    asm("rorq $8, %[word]" : [word] "+r"(word));
    return word;
}

template <ChunkOutput Mode>
VELTRANE_INLINE void PutWord(std::uint8_t* bytes, std::uint64_t stream) {
    if constexpr (Mode == ChunkOutput::Xor) {
        std::uint64_t data;
        std::memcpy(&data, bytes, sizeof data);
        stream ^= data;
    }
    std::memcpy(bytes, &stream, sizeof stream);
}

template <ChunkOutput Mode, unsigned First>
VELTRANE_INLINE void WideWord(Entry* table, std::uint64_t& j, std::uint64_t& si, std::uint8_t* bytes) {
    std::uint64_t word = 0;
    WideStep<First + 0>(table, j, si, word);
    WideStep<First + 1>(table, j, si, word);
    WideStep<First + 2>(table, j, si, word);
    WideStep<First + 3>(table, j, si, word);
    WideStep<First + 4>(table, j, si, word);
    WideStep<First + 5>(table, j, si, word);
    WideStep<First + 6>(table, j, si, word);
    WideStep<First + 7>(table, j, si, word);
    PutWord<Mode>(bytes + First, LastTurn(word));
}

template <ChunkOutput Mode, unsigned... W>
VELTRANE_INLINE void WideChunk(Entry* table, std::uint64_t& j, std::uint64_t& si, std::uint8_t* bytes,
                               std::integer_sequence<unsigned, W...>) {
    (WideWord<Mode, W * 8>(table, j, si, bytes), ...);
}

// The same steps as a loop of eight, the step index in a register: a short body instead of a
// chunk's 256 distinct steps, for cores whose front end or whose prediction of which loads meet
// which stores does better with few instructions run often.
template <unsigned Step, bool Last>
VELTRANE_INLINE void CompactStep(Entry* table, std::uint64_t i, const Entry* following, std::uint64_t& j,
                                 std::uint64_t& si, std::uint64_t& word) {
    std::uint64_t sj;
    std::uint64_t next;
    if constexpr (Last)
        // The next step's S[i] may be S[0] again: its address comes from the loop.
        asm("addb %b[si], %b[j]\n\t"
            "movl (%[s],%[j],4), %k[sj]\n\t"
            "movl %k[si], (%[s],%[j],4)\n\t"
            "movl (%[following]), %k[next]\n\t"
            "rorq $8, %[word]\n\t"
            "movl %k[sj], %c[at](%[s],%[i],4)\n\t"
            "addb %b[si], %b[sj]\n\t"
            "movb (%[s],%[sj],4), %b[word]\n\t"
            : [j] "+r"(j), [sj] "=&r"(sj), [next] "=&r"(next), [word] "+r"(word)
            : [s] "r"(table), [i] "r"(i), [following] "r"(following), [si] "r"(si), [at] "i"(sizeof(Entry) * Step)
            : "memory", "cc");
    else
        asm("addb %b[si], %b[j]\n\t"
            "movl (%[s],%[j],4), %k[sj]\n\t"
            "movl %k[si], (%[s],%[j],4)\n\t"
            "movl %c[nextAt](%[s],%[i],4), %k[next]\n\t"
            "rorq $8, %[word]\n\t"
            "movl %k[sj], %c[at](%[s],%[i],4)\n\t"
            "addb %b[si], %b[sj]\n\t"
            "movb (%[s],%[sj],4), %b[word]\n\t"
            : [j] "+r"(j), [sj] "=&r"(sj), [next] "=&r"(next), [word] "+r"(word)
            : [s] "r"(table), [i] "r"(i), [si] "r"(si), [at] "i"(sizeof(Entry) * Step),
              [nextAt] "i"(sizeof(Entry) * (Step + 1))
            : "memory", "cc");
    si = next;
}

template <ChunkOutput Mode>
VELTRANE_INLINE void CompactChunk(Entry* table, std::uint64_t& j, std::uint64_t& si, std::uint8_t* bytes) {
    for (std::uint64_t i = 0; i < ChunkSize; i += 8) {
        const Entry* following = table + ((i + 8) % ChunkSize);
        std::uint64_t word = 0;
        CompactStep<0, false>(table, i, following, j, si, word);
        CompactStep<1, false>(table, i, following, j, si, word);
        CompactStep<2, false>(table, i, following, j, si, word);
        CompactStep<3, false>(table, i, following, j, si, word);
        CompactStep<4, false>(table, i, following, j, si, word);
        CompactStep<5, false>(table, i, following, j, si, word);
        CompactStep<6, false>(table, i, following, j, si, word);
        CompactStep<7, true>(table, i, following, j, si, word);
        PutWord<Mode>(bytes + i, LastTurn(word));
    }
}

template <bool Unrolled, ChunkOutput Mode>
unsigned Run(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    WideState state;
    for (std::size_t n = 0; n < ChunkSize; ++n)
        state.Table[n] = table[n];
    std::uint64_t j = startJ & 0xFF;
    std::uint64_t si = state.Table[0];
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize) {
        if constexpr (Unrolled)
            WideChunk<Mode>(state.Table, j, si, bytes, std::make_integer_sequence<unsigned, ChunkSize / 8>{});
        else
            CompactChunk<Mode>(state.Table, j, si, bytes);
    }
    for (std::size_t n = 0; n < ChunkSize; ++n)
        table[n] = static_cast<std::uint8_t>(state.Table[n]);
    // The state is as good as the key for the rest of the stream.
    ::explicit_bzero(&state, sizeof state);
    return static_cast<unsigned>(j);
}

} // namespace

ChunkKernel WideChunkKernel() {
    return {Run<true, ChunkOutput::Xor>, Run<true, ChunkOutput::Store>};
}

ChunkKernel CompactChunkKernel() {
    return {Run<false, ChunkOutput::Xor>, Run<false, ChunkOutput::Store>};
}

} // namespace veltrane

#endif
