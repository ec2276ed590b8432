#pragma once
// The in-place transform of a stretch of a file, zone by zone, with the state the file carries kept
// current before each zone is written back (see partwaystate.h): the pass of a command, moving the
// bound below which bytes are in the command's form, and its undo, moving the bound below which they
// are back in their original form.
//
// A zone is read whole, transformed and checked in memory, its checks and the new state written (and,
// for a durable command, waited for), and only then written back; the state names the zone before it
// too, whose bytes a power cut may not have let reach the disk yet. So at any stop every page is
// either known to be in one form or checked in the state.

#include "engine/engineunit.h"
#include "engine/progressdisplay.h"

#include <cstdint>

namespace veltrane {

// How a command on a body of `body` bytes cuts it into zones. Without syncs a zone costs one small
// write of the state, so zones are short and their checks fit in the slot; with syncs each zone costs a
// wait for the disk, so a zone is as long as the unit may hold (`zoneLimit`), its checks in an area.
struct ZonePlan {
    std::int64_t Length = 0;
    std::int64_t AreaSize = 0;
    CheckKind Kind = CheckKind::Sample;
};
ZonePlan PlanZones(std::int64_t body, bool durable, std::int64_t zoneLimit);

// Transforms [from, to) of unit.CurrentFile (open, held by the command in hand) zone by zone, from the
// state in unit.Partway, whose hot range must be empty and end at `from`. A pass (state not undoing)
// shows each block on `display` (may be null) and stops after a zone for a caught interruption
// (EngineError, Interrupted). An undo that gives bytes their plain form back adds the whole blocks of
// zeros it writes to unit.Holes, so that a sparse file can be given its holes again. Afterwards
// unit.Partway is the state last written. Throws EngineError.
void TransformZones(EngineUnit& unit, std::int64_t from, std::int64_t to, ProgressDisplay* display);

} // namespace veltrane
