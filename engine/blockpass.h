#pragma once
// The in-place pass: every byte p of the current file becomes byte p XOR keystream byte p, block
// by block through BlockBuffer, with a progress figure after every block; and the undo that puts
// a file back after a failure part-way through a command. Both keep the command's progress record
// current before every block they write back.

#include "engine/engineunit.h"
#include "engine/progressdisplay.h"

#include <cstdint>
#include <string>

namespace veltrane {

// The figure after `blockCount` blocks of a file of `fileLength` bytes: blockCount x 65,536 / length
// x 100, rounded half to even (64-bit throughout). An empty file gives 100.
int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength);

// Schedules unit.KeyText and transforms the whole of unit.CurrentFile, leaving it open; unit.FileLength
// and unit.BlockCount describe the pass. Works on the file as the command holds it open, or opens it
// when it is not open; returns false, having changed nothing and left the display alone, when it
// cannot be opened. Before every block it makes sure that no other program has changed the file;
// after every block it looks for a caught interruption (see interruption.h). With unit.Resume set
// it picks up an interrupted pass at the block in flight instead of starting at offset 0.
// On any failure the command's changes are undone as far as is safe (see UndoAndRethrow) and the
// failure is thrown on as EngineError naming the file, the reason and the state the file was left
// in. An empty file gets one block of nothing and the figure 100. `display` may be null.
bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display);

// Called inside a catch block while unit.CurrentFile is open: puts the file back as unit.Undo
// describes (bytes transformed again, length cut back, holes punched again, reserved room given
// back), then throws the failure on with how the file was left added to its message. A file that
// another program cut, grew or wrote to is not written further: it is left as it is now.
[[noreturn]] void UndoAndRethrow(EngineUnit& unit);

// Transforms bytes [from, end) of the open file (from on a block boundary), recording each block as
// `phase` (Pass or Undo; for Undo, `undoEnd` is where the transformed bytes end). `mixed`, when
// given, is the first block as an interrupted command left it: its pages already in the form this
// call gives them are left alone. Throws EngineError; unit.Undo.TransformedEnd follows a Pass.
void TransformBlocks(EngineUnit& unit, RecordPhase phase, std::int64_t from, std::int64_t end, std::int64_t undoEnd,
                     const BlockInFlight* mixed, ProgressDisplay* display);

// Whether each page of a block in flight is in the form the interrupted `phase` was giving it
// (`written`), as told by the record's samples; false when some page is in neither form (the file
// was changed since). Reads the block; does not write.
bool ReadBlockInFlight(EngineUnit& unit, RecordPhase phase, const BlockInFlight& block,
                       std::array<bool, RecordPagesPerBlock>& written);

// Records the command's state `phase` as of now (size and modification time as the file has them).
void RecordPhaseNow(EngineUnit& unit, RecordPhase phase);

} // namespace veltrane
