#pragma once
// Key text to key bytes: each character's Windows-1252 code where it has one (ASCII maps to itself),
// any other character its UTF-8 bytes. Text that is not valid UTF-8 is used byte for byte.

#include <cstdint>
#include <string_view>
#include <vector>

namespace veltrane {

std::vector<std::uint8_t> KeyBytesFromUtf8(std::string_view text);

} // namespace veltrane
