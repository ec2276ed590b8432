#include "engine/pagecheck.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace veltrane {

namespace {

constexpr std::uint64_t Prime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t Prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t Prime3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t Prime4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t Prime5 = 0x27D4EB2F165667C5ull;

// Little-endian loads, whatever the machine: the checks are stored in files that travel.
std::uint64_t Load64(const std::uint8_t* bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value);
    return value;
}

std::uint32_t Load32(const std::uint8_t* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    return value;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) {
    return std::rotl(lane + word * Prime2, 31) * Prime1;
}

std::uint64_t Merge(std::uint64_t hash, std::uint64_t lane) {
    return (hash ^ Round(0, lane)) * Prime1 + Prime4;
}

} // namespace

std::uint64_t Hash64(std::span<const std::uint8_t> bytes, std::uint64_t seed) {
    // Four independent lanes of multiply-rotate rounds over 32-byte stripes, so that a page hashes at
    // several bytes a cycle, then the rest word by word and byte by byte, then a final mix.
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* const end = at + bytes.size();
    std::uint64_t hash;
    if (bytes.size() >= 32) {
        std::uint64_t lane1 = seed + Prime1 + Prime2, lane2 = seed + Prime2, lane3 = seed, lane4 = seed - Prime1;
        for (; end - at >= 32; at += 32) {
            lane1 = Round(lane1, Load64(at));
            lane2 = Round(lane2, Load64(at + 8));
            lane3 = Round(lane3, Load64(at + 16));
            lane4 = Round(lane4, Load64(at + 24));
        }
        hash = std::rotl(lane1, 1) + std::rotl(lane2, 7) + std::rotl(lane3, 12) + std::rotl(lane4, 18);
        hash = Merge(Merge(Merge(Merge(hash, lane1), lane2), lane3), lane4);
    } else {
        hash = seed + Prime5;
    }
    hash += bytes.size();
    for (; end - at >= 8; at += 8)
        hash = std::rotl(hash ^ Round(0, Load64(at)), 27) * Prime1 + Prime4;
    if (end - at >= 4) {
        hash = std::rotl(hash ^ (Load32(at) * Prime1), 23) * Prime2 + Prime3;
        at += 4;
    }
    for (; at < end; ++at)
        hash = std::rotl(hash ^ (*at * Prime5), 11) * Prime1;
    hash ^= hash >> 33;
    hash *= Prime2;
    hash ^= hash >> 29;
    hash *= Prime3;
    return hash ^ hash >> 32;
}

std::uint64_t PageCheck(CheckKind kind, std::span<const std::uint8_t> page) {
    if (kind == CheckKind::Hash)
        return Hash64(page);
    std::array<std::uint8_t, 8> first{};
    std::copy_n(page.begin(), std::min(page.size(), first.size()), first.begin());
    return Load64(first.data());
}

std::uint64_t PageCheckXor(CheckKind kind, std::span<const std::uint8_t> page, std::span<const std::uint8_t> stream) {
    std::array<std::uint8_t, CheckPageSize> flipped;
    const std::size_t length = std::min({page.size(), stream.size(), flipped.size()});
    // A sample needs only the first bytes.
    const std::size_t needed = kind == CheckKind::Hash ? length : std::min<std::size_t>(length, 8);
    for (std::size_t n = 0; n < needed; ++n)
        flipped[n] = page[n] ^ stream[n];
    return PageCheck(kind, std::span(flipped.data(), needed));
}

std::uint64_t ChainTerm(std::int64_t page, std::uint64_t check) {
    // A strong mix of the pair, so that a changed page changes the sum unless by a 2^-64 chance.
    std::uint64_t value = check ^ (static_cast<std::uint64_t>(page) * Prime1 + Prime4);
    value ^= value >> 30;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 27;
    value *= 0x94D049BB133111EBull;
    return value ^ value >> 31;
}

} // namespace veltrane
