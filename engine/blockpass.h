#pragma once
// The in-place pass of the command in hand: every byte p of the body becomes byte p XOR keystream byte
// p, zone by zone (see zonedpass.h), with a progress figure after every block; and the undo that puts
// the file back after a failure part-way through a command.

#include "engine/engineunit.h"
#include "engine/progressdisplay.h"

#include <cstdint>

namespace veltrane {

// The figure after `blockCount` blocks of a file of `fileLength` bytes: blockCount x 65,536 / length
// x 100, rounded half to even (64-bit throughout). An empty file gives 100.
int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength);

// Runs the pass of the command that holds unit.CurrentFile (see filesequences.h) over the body, from
// where the command begins it (the start, or where an interrupted pass stopped); unit.FileLength and
// unit.BlockCount describe it. False, having done nothing and left the display alone, when no command
// holds the file open. Before every zone it makes sure that no other program has changed the file;
// after every zone it looks for a caught interruption (see interruption.h). A failure is thrown as
// EngineError, leaving the undo to the command. An empty file gets one block of nothing and the
// figure 100. `display` may be null.
bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display);

} // namespace veltrane
