#include "main/engine/keybytes.h"

#include <array>
#include <optional>

namespace veltrane {

namespace {

// The characters that Windows-1252 places at 0x80..0x9F; 0 where the code is undefined.
constexpr std::array<char32_t, 32> HighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::optional<std::uint8_t> Windows1252Code(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF))
        return static_cast<std::uint8_t>(character);
    for (std::size_t n = 0; n < HighControls.size(); ++n) {
        if (HighControls[n] != 0 && HighControls[n] == character)
            return static_cast<std::uint8_t>(0x80 + n);
    }
    return std::nullopt;
}

// Length of the well-formed UTF-8 sequence at `at` and its character, or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF included).
std::size_t DecodeOne(std::string_view text, std::size_t at, char32_t& character) {
    const auto byte = [&](std::size_t n) { return static_cast<unsigned char>(text[at + n]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        character = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        character = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        character = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        character = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t n = 1; n < length; ++n) {
        if ((byte(n) & 0xC0) != 0x80)
            return 0;
        character = (character << 6) | (byte(n) & 0x3F);
    }
    if (character < minimum || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::vector<std::uint8_t> KeyBytesFromUtf8(std::string_view text) {
    std::vector<std::uint8_t> key;
    key.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t character = 0;
        const std::size_t length = DecodeOne(text, at, character);
        if (length == 0) {
            // Not UTF-8 at all, most likely text in an 8-bit code page already: use it as it is.
            return std::vector<std::uint8_t>(text.begin(), text.end());
        }
        if (const auto code = Windows1252Code(character))
            key.push_back(*code);
        else
            key.insert(key.end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                       text.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return key;
}

} // namespace veltrane
