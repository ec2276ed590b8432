#include "tests/support/referencecipher.h"

#include <algorithm>
#include <utility>

namespace veltrane::testsupport {

ReferenceGenerator::ReferenceGenerator(const std::vector<std::uint8_t>& key) {
    std::array<std::uint8_t, 256> k{};
    for (int n = 0; n < 256; ++n) {
        m_s[n] = static_cast<std::uint8_t>(n);
        k[n] = n < static_cast<int>(key.size()) ? key[n] : 255;
    }
    for (int pass = 0; pass < 10; ++pass) {
        std::uint8_t mix = 0;
        for (int i = 0; i < 256; ++i) {
            mix = static_cast<std::uint8_t>(mix + m_s[i] + k[i]);
            std::swap(m_s[i], m_s[mix]);
        }
    }
    for (int i = 0; i < 50; ++i) {
        m_j = static_cast<std::uint8_t>(m_j + m_s[i]);
        std::swap(m_s[i], m_s[m_j]);
    }
}

std::uint8_t ReferenceGenerator::Next(std::uint8_t i) {
    m_j = static_cast<std::uint8_t>(m_j + m_s[i]);
    std::swap(m_s[i], m_s[m_j]);
    return m_s[static_cast<std::uint8_t>(m_s[i] + m_s[m_j])];
}

std::vector<std::uint8_t> Key(const QByteArray& text) {
    return {text.begin(), text.end()};
}

QByteArray Keystream(const QByteArray& key, qsizetype count) {
    ReferenceGenerator generator(Key(key));
    QByteArray stream(count, Qt::Uninitialized);
    for (qsizetype n = 0; n < count; ++n)
        stream[n] = static_cast<char>(generator.Next(static_cast<std::uint8_t>(n)));
    return stream;
}

QByteArray StreamRange(const QByteArray& key, qsizetype from, qsizetype count) {
    return Keystream(key, from + count).mid(from);
}

QByteArray Xor(QByteArray bytes, const QByteArray& stream) {
    for (qsizetype n = 0; n < bytes.size(); ++n)
        bytes[n] = static_cast<char>(bytes[n] ^ stream[n]);
    return bytes;
}

QByteArray CheckBlockOf(const QByteArray& key) {
    return Xor(Marker, Keystream(key, Marker.size()));
}

QByteArray Encrypted(const QByteArray& plain, const QByteArray& key) {
    const QByteArray stream = Keystream(key, std::max(plain.size(), Marker.size()));
    return Xor(plain, stream) + Xor(Marker, stream) + Marker;
}

QByteArray XorPrefix(const QByteArray& bytes, const QByteArray& key, qsizetype count) {
    return Xor(bytes.left(count), Keystream(key, count)) + bytes.mid(count);
}

} // namespace veltrane::testsupport
