#pragma once
// Writing a file's part-way state (see partwaystate.h) through the handle of the command in hand, in
// the order that keeps it true whenever the command stops: the checks of a new zone before the slot
// that names them, the slot before any byte of the zone, and, for a durable command, each of these on
// the disk before the next.

#include "engine/currentfile.h"
#include "engine/partwaystate.h"

namespace veltrane {

// Writes `state`, whose sequence is one higher than the last one written, with the checks of its last
// zone in that zone's area when they are kept in one; for a durable state, waits for the disk. The
// first state of a command (sequence 1) extends the file by the anchor page, which holds in its other
// slot the state before anything changed.
void WriteState(CurrentFileHandle& file, const PartwayState& state);

// The area the next zone keeps its checks in: one that the state on the disk does not name.
int FreeArea(const PartwayState& state);

// Makes the slots of the anchor page invalid, so that the file no longer says it is part-way.
void BlankState(CurrentFileHandle& file, const PartwayState& state);

// For a durable state, waits for the disk.
void SyncIfDurable(CurrentFileHandle& file, const PartwayState& state);

} // namespace veltrane
