#pragma once
// The state a file carries while a command is part-way through it: enough for a later command with
// the same key to finish or undo that command exactly, whatever became of the process that began it
// (killed, crashed, the machine's power cut) and wherever the file has gone since (renamed, moved,
// mounted elsewhere, opened by another user). It lies past the bytes the command transforms, is in
// place before the first of them changes, and is cut off by the command's last step, so that a
// finished file is exactly the bytes of the format and a file put back from a copy carries no state.
//
// While it is there the file is laid out as (all offsets from the file's start):
//
//   [0, Body)            the bytes the command transforms in place
//   [Body, Areas)        room for the trailer, up to the next page boundary
//   [Areas, Anchor)      three areas that hold the page checks of large zones (none for small ones)
//   [Anchor, Anchor+4096) the anchor page: two slots, written in turn; the valid one with the higher
//                        sequence number is the file's state
//
// What the bytes of [0, Body) are, by the slot: below Low in the form the command gives them (or, while
// undoing, in their original form), [Low, High) "hot", each page in either form and told apart by its
// check, above High as they were (while undoing: in the command's form up to End, then as they were).
// docs/format.md describes every byte.

#include "engine/pagecheck.h"
#include "engine/trailerformat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veltrane {

inline constexpr std::int64_t PartwayPage = 4096;
inline constexpr std::size_t PartwaySlotSize = 2048;
// Page checks a slot holds itself; zones with more keep theirs in the areas.
inline constexpr std::size_t InlineChecks = 232;
inline constexpr int PartwayAreas = 3;

// Which boot of the system a state was written in.
using BootIdentity = std::array<std::uint8_t, 16>;
const BootIdentity& CurrentBoot();
void SetCurrentBoot(const BootIdentity& boot); // tests stand in for a restart

enum class PartwayCommand : std::uint8_t { Encrypt = 1, Decrypt = 2 };

// A run of pages whose checks were kept together: in an area (0 to 2), or in the slot (-1).
struct HotZone {
    std::int64_t Start = 0;
    std::int64_t Length = 0;
    int Area = -1;
};

struct PartwayState {
    PartwayCommand Command = PartwayCommand::Encrypt;
    bool Durable = false; // every step was synced to the disk before the next began
    CheckKind Kind = CheckKind::Sample;
    // The bytes transformed in place: the plain file (Encrypt), the whole encrypted file (Decrypt).
    std::int64_t Body = 0;
    std::int64_t AreaSize = 0;   // bytes of each area; 0 where checks are kept in the slot
    std::int64_t ZoneLength = 0; // bytes of a zone (a whole number of blocks); the last may be shorter
    CheckBlockBytes CheckBlock{};
    BootIdentity Boot{};
    std::uint64_t Sequence = 0;
    bool Undoing = false;
    // Another program wrote to the file while the command ran: bytes outside the hot range may not be
    // what the command made of them, so the file can only be finished, around what that program wrote.
    bool Foreign = false;
    std::int64_t Low = 0;
    std::int64_t High = 0;
    std::int64_t End = 0; // while undoing: where the bytes in the command's form end
    // Sum of the chain terms of the pages whose form the state vouches for: [0, Low) while passing,
    // [0, End) while undoing (hot pages included).
    std::uint64_t Chain = 0;
    int ZoneCount = 0;
    std::array<HotZone, 2> Zones{};
    std::vector<std::uint64_t> Checks; // of the pages of [Low, High), in order

    // Whether bytes below Low are enciphered: a pass of Encrypt, or an undo of Decrypt.
    bool LowEnciphered() const { return (Command == PartwayCommand::Encrypt) != Undoing; }
};

struct PartwayLayout {
    std::int64_t Areas = 0;
    std::int64_t Anchor = 0;
    std::int64_t End = 0; // the file's length while it carries the state
    std::int64_t AreaAt(int area) const;
};
PartwayLayout LayoutOf(std::int64_t body, std::int64_t areaSize);

// The slot's bytes, and a slot read back; false where the bytes are not a valid slot. `tagged` tells
// whether they begin with the slot's tag at all.
std::array<std::uint8_t, PartwaySlotSize> EncodeSlot(const PartwayState& state);
bool DecodeSlot(std::span<const std::uint8_t> bytes, PartwayState& state, bool& tagged);

// What the end of a file says.
enum class PartwayFound { None, Valid, Damaged };
struct PartwayReading {
    PartwayFound Found = PartwayFound::None;
    PartwayState State;
    std::string Why; // for Damaged, in a few lower-case words
};
// Reads the state a file carries from descriptor `fd` of a file of `size` bytes (no lock needed).
// Throws nothing; a read that fails counts as damage.
PartwayReading ReadPartway(int fd, std::int64_t size);

// The bytes a slot's checks take in an area, and the digest of a zone's checks kept there.
std::uint64_t ChecksDigest(std::span<const std::uint64_t> checks);
std::vector<std::uint8_t> ChecksBytes(std::span<const std::uint64_t> checks);

} // namespace veltrane
