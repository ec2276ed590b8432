#include "engine/kernels/chunkkernel.h"

#include <bit>
#include <cstring>
#include <utility>

namespace veltrane {

namespace {

// j as a byte, so that the reduction costs nothing where the machine has byte arithmetic.
template <unsigned Index, unsigned Shift>
VELTRANE_INLINE void Step(std::uint8_t* table, std::uint8_t& j, std::uint64_t& word) {
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

// Eight steps, then one 8-byte XOR into the data or store of the stream.
template <ChunkOutput Mode, unsigned First>
VELTRANE_INLINE void Word(std::uint8_t* table, std::uint8_t& j, std::uint8_t* bytes) {
    std::uint64_t stream;
    Step<First + 0, 0>(table, j, stream);
    Step<First + 1, 8>(table, j, stream);
    Step<First + 2, 16>(table, j, stream);
    Step<First + 3, 24>(table, j, stream);
    Step<First + 4, 32>(table, j, stream);
    Step<First + 5, 40>(table, j, stream);
    Step<First + 6, 48>(table, j, stream);
    Step<First + 7, 56>(table, j, stream);
    if constexpr (Mode == ChunkOutput::Xor) {
        std::uint64_t data;
        std::memcpy(&data, bytes + First, sizeof data);
        stream ^= data;
    }
    std::memcpy(bytes + First, &stream, sizeof stream);
}

template <ChunkOutput Mode, unsigned... W>
VELTRANE_INLINE void Chunk(std::uint8_t* table, std::uint8_t& j, std::uint8_t* bytes,
                           std::integer_sequence<unsigned, W...>) {
    (Word<Mode, W * 8>(table, j, bytes), ...);
}

template <ChunkOutput Mode>
unsigned Run(std::uint8_t* table, unsigned startJ, std::uint8_t* bytes, std::size_t chunks) {
    auto j = static_cast<std::uint8_t>(startJ);
    for (std::size_t n = 0; n < chunks; ++n, bytes += ChunkSize)
        Chunk<Mode>(table, j, bytes, std::make_integer_sequence<unsigned, ChunkSize / 8>{});
    return j;
}

} // namespace

ChunkKernel PortableChunkKernel() {
    return {Run<ChunkOutput::Xor>, Run<ChunkOutput::Store>};
}

} // namespace veltrane
