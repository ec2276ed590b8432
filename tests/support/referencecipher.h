#pragma once
// The tests' own copy of the file format: the keystream stepped by a plain reading of the
// generator's rules, the marker, and the encrypted form of a file written down from the layout.
// Nothing here uses the engine, so that a slip in either shows up as a difference.

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace veltrane::testsupport {

// The ten bytes that end every encrypted file.
inline const QByteArray Marker("\x2A\x2A\x06\x06\x06\x45\x45\x2A\x45\x45", 10);

// The rules, step by step: key table padded with 255, ten mixing passes each restarting j, fifty
// warm-up steps with i = 0..49, then output steps with the caller's index.
class ReferenceGenerator {
public:
    explicit ReferenceGenerator(const std::vector<std::uint8_t>& key);
    std::uint8_t Next(std::uint8_t i);

    const std::array<std::uint8_t, 256>& stateTable() const { return m_s; }
    std::uint8_t j() const { return m_j; }

private:
    std::array<std::uint8_t, 256> m_s{};
    std::uint8_t m_j = 0;
};

std::vector<std::uint8_t> Key(const QByteArray& text);
// Keystream bytes 0..count-1 of `key`, byte n stepped with index n modulo 256 as the pass does.
QByteArray Keystream(const QByteArray& key, qsizetype count);
// Keystream bytes [from, from + count) of `key`.
QByteArray StreamRange(const QByteArray& key, qsizetype from, qsizetype count);
// `bytes` XOR the first bytes.size() bytes of `stream`.
QByteArray Xor(QByteArray bytes, const QByteArray& stream);
// The marker passed through the keystream's first ten bytes.
QByteArray CheckBlockOf(const QByteArray& key);
// The encrypted form of `plain`: body, check block, marker.
QByteArray Encrypted(const QByteArray& plain, const QByteArray& key);
// `bytes` with its first `count` bytes passed through the keystream once more: what a pass that
// stopped after `count` bytes leaves behind.
QByteArray XorPrefix(const QByteArray& bytes, const QByteArray& key, qsizetype count);

} // namespace veltrane::testsupport
