#include "engine/partwaystate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace veltrane {

namespace {

// The slot's tag, readable in a dump of the file's end.
constexpr std::array<char, 16> Tag{'V', 'e', 'l', 't', 'r', 'a', 'n', 'e', ':', 'p', 'a', 'r', 't', 'w', 'a', 'y'};
constexpr std::uint16_t Version = 1;

// Where the fields lie in a slot.
enum Offset : std::size_t {
    OffTag = 0,
    OffVersion = 16,
    OffCommand = 18,
    OffFlags = 19,
    OffKind = 20,
    OffZoneCount = 21,
    OffSequence = 24,
    OffBody = 32,
    OffAreaSize = 40,
    OffLow = 48,
    OffHigh = 56,
    OffEnd = 64,
    OffChain = 72,
    OffCheckBlock = 80,
    OffZoneBlocks = 92, // the zone length in blocks of 65,536 bytes, 32 bits
    OffBoot = 96,
    OffZones = 112, // two of ZoneBytes: start, length, area (0xFF: in the slot), 7 spare, digest
    ZoneBytes = 32,
    OffCheckCount = 176,
    OffChecks = 184,
    OffHash = PartwaySlotSize - 8,
};
static_assert(OffChecks + InlineChecks * 8 <= OffHash);

constexpr std::int64_t ZoneBlock = 65536;
constexpr std::uint8_t FlagDurable = 1;
constexpr std::uint8_t FlagUndoing = 2;
constexpr std::uint8_t FlagForeign = 4;

void Put64(std::uint8_t* at, std::uint64_t value) {
    for (int n = 0; n < 8; ++n)
        at[n] = static_cast<std::uint8_t>(value >> (8 * n));
}

std::uint64_t Get64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int n = 7; n >= 0; --n)
        value = value << 8 | at[n];
    return value;
}

std::int64_t GetSigned(const std::uint8_t* at) {
    return static_cast<std::int64_t>(Get64(at));
}

std::int64_t PagesIn(std::int64_t from, std::int64_t to) {
    return (to - from + PartwayPage - 1) / PartwayPage;
}

// This boot of the system, from the kernel's random boot id (zeros where it cannot be read).
BootIdentity ReadBootId() {
    BootIdentity id{};
    const int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
    char text[64] = {};
    const ssize_t got = fd >= 0 ? ::read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0)
        ::close(fd);
    std::size_t nibble = 0;
    for (ssize_t at = 0; at < got && nibble < 2 * id.size(); ++at) {
        const char c = text[at];
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (value < 0)
            continue;
        id[nibble / 2] = static_cast<std::uint8_t>(id[nibble / 2] << 4 | value);
        ++nibble;
    }
    return id;
}

BootIdentity& ThisBoot() {
    static BootIdentity id = ReadBootId();
    return id;
}

bool ReadAll(int fd, std::int64_t offset, std::span<std::uint8_t> into) {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::pread(fd, into.data() + done, into.size() - done, static_cast<off_t>(offset) + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Whether the fields of a decoded slot describe a state that can be: zones that tile [Low, High) in
// order, a check for each of its pages, positions within the body.
bool Coherent(const PartwayState& state) {
    if (state.Body < 0 || state.AreaSize < 0 || state.AreaSize % PartwayPage != 0 || state.Low < 0 ||
        state.Low > state.High || state.High > state.Body || state.Low % PartwayPage != 0)
        return false;
    if (state.Undoing && (state.End < state.High || state.End > state.Body))
        return false;
    // Zones a whole number of blocks long whose checks fit where they are kept: an area, or the slot
    // (two zones' worth, since a state names the zone before the one in hand too, unless one zone is
    // the whole body).
    if (state.ZoneLength <= 0)
        return false;
    const std::int64_t zonePages = PagesIn(0, std::min(state.ZoneLength, std::max<std::int64_t>(state.Body, 1)));
    if (state.AreaSize > 0 ? zonePages * 8 > state.AreaSize
                           : zonePages * (state.ZoneLength >= state.Body ? 1 : 2) > std::int64_t(InlineChecks))
        return false;
    if (state.ZoneCount < 0 || state.ZoneCount > 2)
        return false;
    std::int64_t at = state.Low;
    for (int n = 0; n < state.ZoneCount; ++n) {
        const HotZone& zone = state.Zones[static_cast<std::size_t>(n)];
        if (zone.Start != at || zone.Length <= 0 || zone.Length > state.ZoneLength || zone.Area < -1 ||
            zone.Area >= PartwayAreas)
            return false;
        if ((zone.Area < 0) != (state.AreaSize == 0))
            return false;
        at += zone.Length;
    }
    if (at != state.High)
        return false;
    if (state.ZoneCount == 2 && state.Zones[0].Area >= 0 && state.Zones[0].Area == state.Zones[1].Area)
        return false;
    return static_cast<std::int64_t>(state.Checks.size()) == PagesIn(state.Low, state.High);
}

} // namespace

const BootIdentity& CurrentBoot() {
    return ThisBoot();
}

void SetCurrentBoot(const BootIdentity& boot) {
    ThisBoot() = boot;
}

std::int64_t PartwayLayout::AreaAt(int area) const {
    return Areas + area * ((Anchor - Areas) / PartwayAreas);
}

PartwayLayout LayoutOf(std::int64_t body, std::int64_t areaSize) {
    PartwayLayout layout;
    // Room for the 20-byte trailer first, so that an encryption can write its trailer at any time.
    layout.Areas = (body + 20 + PartwayPage - 1) / PartwayPage * PartwayPage;
    layout.Anchor = layout.Areas + PartwayAreas * areaSize;
    layout.End = layout.Anchor + PartwayPage;
    return layout;
}

std::uint64_t ChecksDigest(std::span<const std::uint64_t> checks) {
    const std::vector<std::uint8_t> bytes = ChecksBytes(checks);
    return Hash64(bytes);
}

std::vector<std::uint8_t> ChecksBytes(std::span<const std::uint64_t> checks) {
    std::vector<std::uint8_t> bytes(checks.size() * 8);
    for (std::size_t n = 0; n < checks.size(); ++n)
        Put64(bytes.data() + 8 * n, checks[n]);
    return bytes;
}

std::array<std::uint8_t, PartwaySlotSize> EncodeSlot(const PartwayState& state) {
    std::array<std::uint8_t, PartwaySlotSize> slot{};
    std::uint8_t* bytes = slot.data();
    std::memcpy(bytes + OffTag, Tag.data(), Tag.size());
    bytes[OffVersion] = static_cast<std::uint8_t>(Version);
    bytes[OffVersion + 1] = static_cast<std::uint8_t>(Version >> 8);
    bytes[OffCommand] = static_cast<std::uint8_t>(state.Command);
    bytes[OffFlags] = static_cast<std::uint8_t>((state.Durable ? FlagDurable : 0) | (state.Undoing ? FlagUndoing : 0) |
                                                (state.Foreign ? FlagForeign : 0));
    bytes[OffKind] = static_cast<std::uint8_t>(state.Kind);
    bytes[OffZoneCount] = static_cast<std::uint8_t>(state.ZoneCount);
    Put64(bytes + OffSequence, state.Sequence);
    Put64(bytes + OffBody, static_cast<std::uint64_t>(state.Body));
    Put64(bytes + OffAreaSize, static_cast<std::uint64_t>(state.AreaSize));
    Put64(bytes + OffLow, static_cast<std::uint64_t>(state.Low));
    Put64(bytes + OffHigh, static_cast<std::uint64_t>(state.High));
    Put64(bytes + OffEnd, static_cast<std::uint64_t>(state.End));
    Put64(bytes + OffChain, state.Chain);
    std::copy(state.CheckBlock.begin(), state.CheckBlock.end(), bytes + OffCheckBlock);
    const auto zoneBlocks = static_cast<std::uint32_t>(state.ZoneLength / ZoneBlock);
    for (int n = 0; n < 4; ++n)
        bytes[OffZoneBlocks + n] = static_cast<std::uint8_t>(zoneBlocks >> (8 * n));
    std::copy(state.Boot.begin(), state.Boot.end(), bytes + OffBoot);
    std::size_t first = 0; // the zone's first check among state.Checks
    for (int n = 0; n < state.ZoneCount; ++n) {
        const HotZone& zone = state.Zones[static_cast<std::size_t>(n)];
        std::uint8_t* at = bytes + OffZones + n * ZoneBytes;
        Put64(at, static_cast<std::uint64_t>(zone.Start));
        Put64(at + 8, static_cast<std::uint64_t>(zone.Length));
        at[16] = zone.Area < 0 ? 0xFF : static_cast<std::uint8_t>(zone.Area);
        const auto count = static_cast<std::size_t>(PagesIn(zone.Start, zone.Start + zone.Length));
        const std::size_t take = std::min(count, state.Checks.size() - std::min(first, state.Checks.size()));
        Put64(at + 24, ChecksDigest(std::span(state.Checks).subspan(std::min(first, state.Checks.size()), take)));
        first += count;
    }
    Put64(bytes + OffCheckCount, state.Checks.size());
    if (state.AreaSize == 0) {
        for (std::size_t n = 0; n < state.Checks.size() && n < InlineChecks; ++n)
            Put64(bytes + OffChecks + 8 * n, state.Checks[n]);
    }
    Put64(bytes + OffHash, Hash64(std::span(bytes, OffHash)));
    return slot;
}

bool DecodeSlot(std::span<const std::uint8_t> slot, PartwayState& state, bool& tagged) {
    tagged = slot.size() >= Tag.size() && std::equal(Tag.begin(), Tag.end(), slot.begin(),
                                                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
    if (!tagged || slot.size() != PartwaySlotSize)
        return false;
    const std::uint8_t* bytes = slot.data();
    if (Get64(bytes + OffHash) != Hash64(slot.first(OffHash)))
        return false;
    if ((bytes[OffVersion] | bytes[OffVersion + 1] << 8) != Version)
        return false;
    PartwayState read;
    if (bytes[OffCommand] != 1 && bytes[OffCommand] != 2)
        return false;
    read.Command = static_cast<PartwayCommand>(bytes[OffCommand]);
    if ((bytes[OffFlags] & ~(FlagDurable | FlagUndoing | FlagForeign)) != 0)
        return false;
    read.Durable = (bytes[OffFlags] & FlagDurable) != 0;
    read.Undoing = (bytes[OffFlags] & FlagUndoing) != 0;
    read.Foreign = (bytes[OffFlags] & FlagForeign) != 0;
    if (bytes[OffKind] != 1 && bytes[OffKind] != 2)
        return false;
    read.Kind = static_cast<CheckKind>(bytes[OffKind]);
    read.ZoneCount = bytes[OffZoneCount];
    if (read.ZoneCount > 2)
        return false;
    read.Sequence = Get64(bytes + OffSequence);
    read.Body = GetSigned(bytes + OffBody);
    read.AreaSize = GetSigned(bytes + OffAreaSize);
    read.Low = GetSigned(bytes + OffLow);
    read.High = GetSigned(bytes + OffHigh);
    read.End = GetSigned(bytes + OffEnd);
    read.Chain = Get64(bytes + OffChain);
    std::copy_n(bytes + OffCheckBlock, read.CheckBlock.size(), read.CheckBlock.begin());
    std::uint32_t zoneBlocks = 0;
    for (int n = 3; n >= 0; --n)
        zoneBlocks = zoneBlocks << 8 | bytes[OffZoneBlocks + n];
    read.ZoneLength = static_cast<std::int64_t>(zoneBlocks) * ZoneBlock;
    std::copy_n(bytes + OffBoot, read.Boot.size(), read.Boot.begin());
    for (int n = 0; n < read.ZoneCount; ++n) {
        const std::uint8_t* at = bytes + OffZones + n * ZoneBytes;
        HotZone& zone = read.Zones[static_cast<std::size_t>(n)];
        zone.Start = GetSigned(at);
        zone.Length = GetSigned(at + 8);
        zone.Area = at[16] == 0xFF ? -1 : at[16];
    }
    const std::uint64_t count = Get64(bytes + OffCheckCount);
    if (read.Low < 0 || read.High < read.Low || count != static_cast<std::uint64_t>(PagesIn(read.Low, read.High)))
        return false;
    if (read.AreaSize == 0) {
        if (count > InlineChecks)
            return false;
        read.Checks.resize(count);
        for (std::size_t n = 0; n < count; ++n)
            read.Checks[n] = Get64(bytes + OffChecks + 8 * n);
    } else {
        // Filled from the areas by the reader; the digests say whether those hold what the slot meant.
        read.Checks.assign(count, 0);
    }
    if (!Coherent(read))
        return false;
    state = std::move(read);
    return true;
}

namespace {

// Fills the checks of the zones kept in areas; false when an area does not hold what the slot
// recorded of it (it was being written when the command stopped).
bool ReadAreas(int fd, PartwayState& state, const std::array<std::uint64_t, 2>& digests) {
    if (state.AreaSize == 0)
        return true;
    const PartwayLayout layout = LayoutOf(state.Body, state.AreaSize);
    std::size_t first = 0;
    for (int n = 0; n < state.ZoneCount; ++n) {
        const HotZone& zone = state.Zones[static_cast<std::size_t>(n)];
        const auto count = static_cast<std::size_t>(PagesIn(zone.Start, zone.Start + zone.Length));
        std::vector<std::uint8_t> bytes(count * 8);
        if (!ReadAll(fd, layout.AreaAt(zone.Area), bytes) || Hash64(bytes) != digests[static_cast<std::size_t>(n)])
            return false;
        for (std::size_t c = 0; c < count; ++c)
            state.Checks[first + c] = Get64(bytes.data() + 8 * c);
        first += count;
    }
    return true;
}

} // namespace

PartwayReading ReadPartway(int fd, std::int64_t size) {
    PartwayReading reading;
    // The smallest file with a state: a page of room for the trailer and the anchor page.
    if (size < 2 * PartwayPage || size % PartwayPage != 0)
        return reading;
    std::array<std::uint8_t, PartwayPage> anchor;
    if (!ReadAll(fd, size - PartwayPage, anchor)) {
        reading.Found = PartwayFound::Damaged;
        reading.Why = "its end cannot be read";
        return reading;
    }
    bool anyTagged = false;
    bool found = false;
    for (std::size_t slot = 0; slot < 2; ++slot) {
        const auto bytes = std::span<const std::uint8_t>(anchor).subspan(slot * PartwaySlotSize, PartwaySlotSize);
        PartwayState state;
        bool tagged = false;
        const bool valid = DecodeSlot(bytes, state, tagged);
        anyTagged |= tagged;
        if (!valid || LayoutOf(state.Body, state.AreaSize).End != size)
            continue;
        std::array<std::uint64_t, 2> digests{};
        for (std::size_t n = 0; n < 2; ++n)
            digests[n] = Get64(bytes.data() + OffZones + n * ZoneBytes + 24);
        if (!ReadAreas(fd, state, digests))
            continue;
        if (!found || state.Sequence > reading.State.Sequence) {
            reading.State = std::move(state);
            found = true;
        }
    }
    if (found)
        reading.Found = PartwayFound::Valid;
    else if (anyTagged) {
        reading.Found = PartwayFound::Damaged;
        reading.Why = "it ends in a record of an interrupted command that is damaged";
    }
    return reading;
}

} // namespace veltrane
