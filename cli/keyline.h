#pragma once
// The first line of a key source, read in large pieces but keeping only as much of it as the key can
// use, and refused when it is longer than 1 MiB or is not text. The bytes it holds are wiped when it
// goes.

#include "engine/keybytes.h"

#include <array>
#include <cstddef>
#include <span>

#include <string.h>

namespace veltrane {

class KeyLine {
public:
    // The longest key line taken; a longer one (or a source with no line end within it) is refused.
    static constexpr std::size_t LongestLine = std::size_t{1} << 20;

    enum class State {
        Reading,  // no line end yet: more bytes are welcome
        Complete, // the line end was met (or the input ended, see Finish)
        TooLong,  // more than LongestLine bytes without a line end
        NotText,  // a control character other than a tab, or a carriage return not before the end
    };

    KeyLine() = default;
    ~KeyLine() { ::explicit_bzero(m_kept.data(), m_kept.size()); }
    KeyLine(const KeyLine&) = delete;
    KeyLine& operator=(const KeyLine&) = delete;

    // Takes the next bytes read from the source; bytes after the line end, or after a refusal, are
    // not taken.
    void Feed(std::span<const char> bytes);
    // The source has ended: a line without a line end is complete as it stands.
    void Finish();

    State state() const { return m_state; }
    // Bytes of the line seen so far (without the line end and a carriage return before it).
    std::size_t length() const { return m_length; }
    // True when nothing at all came from the source, not even a line end.
    bool nothingRead() const { return !m_sawAnything; }

    // The key bytes that the line stands for, as for the same text typed into the window: UTF-8
    // text gives each character's 8-bit code where it has one, other text counts byte for byte.
    // Only the first key bytes can matter, so only those are worked out.
    SecretBytes KeyBytes() const;

private:
    void Take(char byte);

    // The head of the line: 256 key bytes never need more than 768 bytes of UTF-8 text.
    std::array<char, 1024> m_kept{};
    std::size_t m_keptLength = 0;
    std::size_t m_length = 0;
    State m_state = State::Reading;
    bool m_sawAnything = false;
    bool m_pendingReturn = false;
    // UTF-8 well-formedness of the whole line, followed byte by byte.
    bool m_utf8 = true;
    Utf8Decoder m_decoder;
};

} // namespace veltrane
