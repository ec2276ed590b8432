#include "cli/keyline.h"

#include "engine/keybytes.h"

#include <string_view>

#include <string.h>

namespace veltrane {

// Only the first 256 key bytes count in the key schedule.
constexpr std::size_t KeyBytesUsed = 256;

void KeyLine::Feed(std::span<const char> bytes) {
    for (const char byte : bytes) {
        if (m_state != State::Reading)
            break;
        m_sawAnything = true;
        if (byte == '\n') {
            // A carriage return just before the line end goes with it, for key files from other systems.
            m_pendingReturn = false;
            m_state = State::Complete;
            break;
        }
        if (m_pendingReturn) {
            m_state = State::NotText;
            break;
        }
        if (byte == '\r') {
            m_pendingReturn = true;
            continue;
        }
        Take(byte);
    }
}

void KeyLine::Finish() {
    if (m_state == State::Reading) {
        m_pendingReturn = false;
        m_state = State::Complete;
    }
}

void KeyLine::Take(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    // Nothing typed into a key box is a control character; a line that holds one is most likely
    // binary data (a device, a random file) that would give a key nobody knows.
    if ((value < 0x20 && value != '\t') || value == 0x7F) {
        m_state = State::NotText;
        return;
    }
    if (m_length == LongestLine) {
        m_state = State::TooLong;
        return;
    }
    ++m_length;
    if (m_utf8 && m_decoder.Feed(value) == Utf8Decoder::Step::Invalid)
        m_utf8 = false;
    if (m_keptLength < m_kept.size())
        m_kept[m_keptLength++] = byte;
}

SecretBytes KeyLine::KeyBytes() const {
    const bool wellFormed = m_utf8 && m_decoder.atBoundary();
    std::size_t length = m_keptLength;
    if (!wellFormed) {
        // Text in an 8-bit code page: used byte for byte.
        length = std::min(length, KeyBytesUsed);
        return SecretBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(m_kept.data()), length));
    }
    if (m_length > m_keptLength) {
        // The head ends part-way into the line: cut it back to the last whole character, so that it
        // decodes as the whole line does.
        std::size_t lead = length;
        while (lead > 0 && (static_cast<unsigned char>(m_kept[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead > 0) {
            const auto first = static_cast<unsigned char>(m_kept[lead - 1]);
            const std::size_t size = first < 0x80 ? 1 : (first & 0xE0) == 0xC0 ? 2 : (first & 0xF0) == 0xE0 ? 3 : 4;
            length = lead - 1 + size <= length ? lead - 1 + size : lead - 1;
        }
    }
    SecretBytes key = KeyBytesFromUtf8(std::string_view(m_kept.data(), length));
    if (key.size() > KeyBytesUsed) {
        ::explicit_bzero(key.data() + KeyBytesUsed, key.size() - KeyBytesUsed);
        key.resize(KeyBytesUsed);
    }
    return key;
}

} // namespace veltrane
