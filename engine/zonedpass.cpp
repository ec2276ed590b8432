#include "engine/zonedpass.h"

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/interruption.h"
#include "engine/partwaywrite.h"
#include "engine/passstream.h"

#include <algorithm>
#include <span>
#include <vector>

namespace veltrane {

namespace {

constexpr auto Block = static_cast<std::int64_t>(BlockSize);
// Without syncs: four blocks a zone, so that the two zones a state names fit in its slot.
constexpr std::int64_t ShortZone = 4 * Block;
// The shortest durable zone whose sync is worth a thread of its own while the next zone is made.
constexpr std::int64_t OverlappedSyncZone = std::int64_t{4} << 20;

std::int64_t RoundUp(std::int64_t value, std::int64_t step) {
    return (value + step - 1) / step * step;
}

std::int64_t PagesIn(std::int64_t length) {
    return (length + PartwayPage - 1) / PartwayPage;
}

bool AllZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
}

} // namespace

ZonePlan PlanZones(std::int64_t body, bool durable, std::int64_t zoneLimit) {
    if (!durable)
        return {ShortZone, 0, CheckKind::Sample};
    // A body whose checks fit in the slot is one zone: the fewest waits for the disk.
    if (PagesIn(body) <= static_cast<std::int64_t>(InlineChecks) && body <= zoneLimit)
        return {std::max(Block, RoundUp(body, Block)), 0, CheckKind::Hash};
    const std::int64_t length = std::clamp(RoundUp(body, Block), Block, std::max(Block, zoneLimit / Block * Block));
    return {length, RoundUp(PagesIn(length) * 8, PartwayPage), CheckKind::Hash};
}

void TransformZones(EngineUnit& unit, std::int64_t from, std::int64_t to, ProgressDisplay* display) {
    PartwayState& state = unit.Partway;
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t zone = state.ZoneLength;
    const bool passing = !state.Undoing;
    // Checks are of the enciphered form: taken after the XOR where the zone is being enciphered.
    const bool checkAfter = state.LowEnciphered();
    const bool toPlain = !state.LowEnciphered();
    if (unit.ZoneBuffer.size() < static_cast<std::size_t>(std::min(zone, to - from)))
        unit.ZoneBuffer.resize(static_cast<std::size_t>(std::min(zone, to - from)));
    PassStream stream(unit, from, to);

    // The zone written before the one in hand, which the next state still names.
    HotZone previous;
    std::vector<std::uint64_t> previousChecks;
    std::uint64_t previousTerms = 0;
    std::uint64_t chain = state.Chain;
    unit.WrittenEnd = from;
    for (std::int64_t at = from; at < to; at += zone) {
        const std::int64_t length = std::min(zone, to - at);
        const std::span<std::uint8_t> bytes(unit.ZoneBuffer.data(), static_cast<std::size_t>(length));
        // A file that another program cut or grew since the last zone is not written further.
        file.CheckUnchanged(false);

        std::vector<std::uint64_t> checks(static_cast<std::size_t>(PagesIn(length)));
        std::uint64_t terms = 0;
        const auto takeChecks = [&](std::int64_t offset, std::span<const std::uint8_t> block) {
            for (std::size_t page = 0; page * PartwayPage < block.size(); ++page) {
                const std::size_t start = page * PartwayPage;
                const auto bytesOfPage = block.subspan(start, std::min<std::size_t>(PartwayPage, block.size() - start));
                const std::int64_t index = (offset + static_cast<std::int64_t>(start)) / PartwayPage;
                const std::uint64_t check = PageCheck(state.Kind, bytesOfPage);
                checks[static_cast<std::size_t>(index - at / PartwayPage)] = check;
                terms += ChainTerm(index, check);
            }
        };
        for (std::int64_t offset = at; offset < at + length; offset += Block) {
            const auto block = bytes.subspan(static_cast<std::size_t>(offset - at),
                                             static_cast<std::size_t>(std::min(Block, at + length - offset)));
            if (file.ReadAt(offset, block) != block.size()) {
                file.CheckUnchanged(true);
                throw EngineError({.Path = file.path(), .Reason = "it ended before its size said"}, "it is shorter");
            }
            if (!checkAfter)
                takeChecks(offset, block);
            stream.XorNext(block);
            if (checkAfter)
                takeChecks(offset, block);
            if (toPlain && block.size() == BlockSize && AllZero(block))
                unit.Holes.push_back({offset, Block});
            if (passing) {
                ++unit.BlockCount;
                if (display)
                    display->SetProgress(ProgressFigure(unit.BlockCount, unit.FileLength));
            }
        }

        // Nor is it written to where another program cut or grew it while the zone was read.
        file.CheckUnchanged(false);
        HotZone current{at, length, -1};
        if (state.AreaSize > 0)
            current.Area = FreeArea(state);
        state.Sequence += 1;
        if (previous.Length > 0) {
            state.Low = previous.Start;
            state.Zones = {previous, current};
            state.ZoneCount = 2;
            state.Checks = previousChecks;
            state.Checks.insert(state.Checks.end(), checks.begin(), checks.end());
        } else {
            state.Low = at;
            state.Zones = {current, HotZone{}};
            state.ZoneCount = 1;
            state.Checks = checks;
        }
        state.High = at + length;
        if (passing)
            state.Chain = chain;
        unit.Keeping = true;
        WriteState(file, state);
        // Block by block, as it was read; what reached the file is known to the byte should a write
        // fail part-way.
        for (std::int64_t offset = at; offset < at + length; offset += Block) {
            try {
                file.WriteAt(offset, bytes.subspan(static_cast<std::size_t>(offset - at),
                                                   static_cast<std::size_t>(std::min(Block, at + length - offset))));
            } catch (...) {
                unit.WrittenEnd = file.Position();
                throw;
            }
            unit.WrittenEnd = std::min(offset + Block, at + length);
        }
        // Where another zone follows, its reading and making overlap this one's way to the disk.
        if (state.Durable && at + length < to && length >= OverlappedSyncZone)
            file.StartWriteback(at, length);
        // This command's own writes move the file's times; another program's after this do too.
        file.Remember();

        if (previous.Length > 0)
            chain += previousTerms;
        previous = current;
        previousChecks = std::move(checks);
        previousTerms = terms;
        // The zone in hand is written back; an interruption undoes the pass from here.
        if (passing)
            ThrowIfInterrupted(file.path().c_str());
    }
}

} // namespace veltrane
