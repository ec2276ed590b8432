#pragma once
// What the part-way state of a file keeps of each page of the bytes in question, so that a later
// command can tell of every page whether it is in its enciphered form or in its plain form, and
// notice a page that is in neither (written by another program since, or lost by the disk).
//
// A check is always taken of a page's enciphered form; the same check of (page XOR keystream) tells
// the other form. Two kinds: the page's first eight bytes (enough where pages are only ever written
// whole, as when a process is killed), and a hash of the whole page (for power cuts, which may tear
// or lose pages, and to notice writes anywhere in a page).

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane {

inline constexpr std::size_t CheckPageSize = 4096;

enum class CheckKind : std::uint8_t { Sample = 1, Hash = 2 };

// A 64-bit hash of `bytes`; also what guards the part-way state's own records.
std::uint64_t Hash64(std::span<const std::uint8_t> bytes, std::uint64_t seed = 0);

// The check of `page` as it is, and of `page` XOR `stream` (the same length), without changing it.
std::uint64_t PageCheck(CheckKind kind, std::span<const std::uint8_t> page);
std::uint64_t PageCheckXor(CheckKind kind, std::span<const std::uint8_t> page, std::span<const std::uint8_t> stream);

// The checks of the pages of a stretch that starts on a page boundary are summed, each tied to its
// page number, into one figure that covers any number of pages and does not depend on the order
// they are added in.
std::uint64_t ChainTerm(std::int64_t page, std::uint64_t check);

} // namespace veltrane
