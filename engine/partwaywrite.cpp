#include "engine/partwaywrite.h"

#include <algorithm>
#include <array>

namespace veltrane {

namespace {

std::int64_t SlotOffset(const PartwayState& state) {
    return LayoutOf(state.Body, state.AreaSize).Anchor + static_cast<std::int64_t>(state.Sequence % 2) *
                                                             static_cast<std::int64_t>(PartwaySlotSize);
}

} // namespace

void SyncIfDurable(CurrentFileHandle& file, const PartwayState& state) {
    if (state.Durable)
        file.Sync();
}

void WriteState(CurrentFileHandle& file, const PartwayState& state) {
    const PartwayLayout layout = LayoutOf(state.Body, state.AreaSize);
    const auto slot = EncodeSlot(state);
    if (state.Sequence == 1) {
        // One write of one whole page past the end: file systems that keep data in order (ext4's
        // default, XFS, Btrfs) never let the new size reach the disk without the page, so after any
        // stop the file has either no state at all or this page. Everything between the body and the
        // page reads as zeros. Should the checks below not reach their area, the idle slot still
        // tells the truth: nothing of the body has changed yet.
        PartwayState idle = state;
        idle.Sequence = 0;
        idle.Low = idle.High = 0;
        idle.ZoneCount = 0;
        idle.Checks.clear();
        std::array<std::uint8_t, PartwayPage> page{};
        const auto before = EncodeSlot(idle);
        std::copy(before.begin(), before.end(), page.begin());
        std::copy(slot.begin(), slot.end(), page.begin() + PartwaySlotSize);
        file.WriteAt(layout.Anchor, page);
    }
    if (state.AreaSize > 0 && state.ZoneCount > 0) {
        const HotZone& zone = state.Zones[static_cast<std::size_t>(state.ZoneCount - 1)];
        const auto pages = static_cast<std::size_t>((zone.Length + PartwayPage - 1) / PartwayPage);
        file.WriteAt(layout.AreaAt(zone.Area), ChecksBytes(std::span(state.Checks).last(pages)));
    }
    if (state.Sequence != 1)
        file.WriteAt(SlotOffset(state), slot);
    SyncIfDurable(file, state);
}

int FreeArea(const PartwayState& state) {
    for (int area = 0; area < PartwayAreas; ++area) {
        const bool named = std::any_of(state.Zones.begin(), state.Zones.begin() + state.ZoneCount,
                                       [&](const HotZone& zone) { return zone.Area == area; });
        if (!named)
            return area;
    }
    return 0; // not reached: a state names two areas at most
}

void BlankState(CurrentFileHandle& file, const PartwayState& state) {
    const std::array<std::uint8_t, PartwayPage> zeros{};
    file.WriteAt(LayoutOf(state.Body, state.AreaSize).Anchor, zeros);
    SyncIfDurable(file, state);
}

} // namespace veltrane
