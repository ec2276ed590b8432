#pragma once
// The in-place pass: every byte p of the current file becomes byte p XOR keystream byte p, block
// by block through BlockBuffer, with a progress figure after every block; and the undo that puts
// a file back after a failure part-way through a command.

#include "main/engine/engineunit.h"
#include "main/engine/progressdisplay.h"

#include <cstdint>
#include <string>

namespace veltrane {

// The figure after `blockCount` blocks of a file of `fileLength` bytes: blockCount x 65,536 / length
// x 100, rounded half to even (64-bit throughout). An empty file gives 100.
int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength);

// Schedules unit.KeyText and transforms the whole of unit.CurrentFile, leaving it open; unit.FileLength
// and unit.BlockCount describe the pass. Works on the file as the command holds it open, or opens it
// when it is not open; returns false, having changed nothing and left the display alone, when it
// cannot be opened. Before every block it makes sure that no other program has changed the file.
// On any failure the command's changes are undone as far as is safe (see UndoAndRethrow) and the
// failure is thrown on as EngineError naming the file, the reason and the state the file was left
// in. An empty file gets one block of nothing and the figure 100. `display` may be null.
bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display);

// Called inside a catch block while unit.CurrentFile is open: puts the file back as unit.Undo
// describes (bytes transformed again, length cut back, holes punched again, reserved room given
// back), then throws the failure on with how the file was left added to its message. A file that
// another program cut, grew or wrote to is not written further: it is left as it is now.
[[noreturn]] void UndoAndRethrow(EngineUnit& unit);

} // namespace veltrane
