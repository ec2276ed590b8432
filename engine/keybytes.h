#pragma once
// Key text to key bytes: each character's Windows-1252 code where it has one (ASCII maps to itself),
// any other character its UTF-8 bytes. Text that is not valid UTF-8 is used byte for byte.

#include "engine/secretmemory.h"

#include <cstdint>
#include <string_view>

namespace veltrane {

SecretBytes KeyBytesFromUtf8(std::string_view text);

// Follows UTF-8 text one byte at a time by the rules that KeyBytesFromUtf8 takes text by: no overlong
// forms, no surrogates, nothing above U+10FFFF. For a key line read in pieces as for a whole key.
class Utf8Decoder {
public:
    enum class Step {
        Pending,   // inside a character: more bytes are needed
        Character, // a character ends with this byte: see character()
        Invalid,   // the text is not UTF-8
    };

    ~Utf8Decoder() { m_character = 0; }

    Step Feed(unsigned char byte);
    char32_t character() const { return m_character; }
    // True between characters, where text may end.
    bool atBoundary() const { return m_continuations == 0; }

private:
    int m_continuations = 0;
    char32_t m_character = 0;
    char32_t m_minimum = 0;
};

} // namespace veltrane
