#include "engine/keybytes.h"

#include <array>
#include <bit>
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

} // namespace

Utf8Decoder::Step Utf8Decoder::Feed(unsigned char byte) {
    if (m_continuations == 0) {
        if (byte < 0x80) {
            m_character = byte;
            return Step::Character;
        }
        // A lead byte starts with as many ones as its character has bytes, two to four.
        const int length = std::countl_one(byte);
        if (length < 2 || length > 4)
            return Step::Invalid;
        // The smallest character of each length: a smaller one would be an overlong form.
        constexpr char32_t Minimum[] = {0x80, 0x800, 0x10000};
        m_continuations = length - 1;
        m_character = byte & (0x7F >> length);
        m_minimum = Minimum[length - 2];
        return Step::Pending;
    }
    if ((byte & 0xC0) != 0x80)
        return Step::Invalid;
    m_character = (m_character << 6) | (byte & 0x3F);
    if (--m_continuations > 0)
        return Step::Pending;
    if (m_character < m_minimum || m_character > 0x10FFFF || (m_character >= 0xD800 && m_character <= 0xDFFF))
        return Step::Invalid;
    return Step::Character;
}

SecretBytes KeyBytesFromUtf8(std::string_view text) {
    // Not UTF-8 at all, most likely text in an 8-bit code page already: used as it is.
    const auto asItIs = [text] {
        SecretBytes bytes;
        bytes.assign(text.begin(), text.end());
        return bytes;
    };
    SecretBytes key;
    key.reserve(text.size());
    Utf8Decoder decoder;
    std::size_t start = 0; // where the character in hand began
    for (std::size_t at = 0; at < text.size(); ++at) {
        switch (decoder.Feed(static_cast<unsigned char>(text[at]))) {
        case Utf8Decoder::Step::Pending:
            break;
        case Utf8Decoder::Step::Invalid:
            return asItIs();
        case Utf8Decoder::Step::Character:
            if (const auto code = Windows1252Code(decoder.character()))
                key.push_back(*code);
            else
                key.insert(key.end(), text.begin() + static_cast<std::ptrdiff_t>(start),
                           text.begin() + static_cast<std::ptrdiff_t>(at + 1));
            start = at + 1;
            break;
        }
    }
    if (!decoder.atBoundary())
        return asItIs();
    return key;
}

} // namespace veltrane
