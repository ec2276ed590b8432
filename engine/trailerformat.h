#pragma once
// The bytes an encrypted file ends with: the check block (FileMarker enciphered with keystream bytes
// 0..9 of the file's key), then FileMarker itself, right after the enciphered body.

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrane {

inline constexpr std::size_t CheckBlockSize = 10;
using CheckBlockBytes = std::array<std::uint8_t, CheckBlockSize>;
inline constexpr CheckBlockBytes FileMarker{0x2A, 0x2A, 0x06, 0x06, 0x06, 0x45, 0x45, 0x2A, 0x45, 0x45};
inline constexpr std::int64_t TrailerSize = 2 * static_cast<std::int64_t>(CheckBlockSize);

} // namespace veltrane
