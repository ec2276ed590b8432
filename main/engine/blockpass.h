#pragma once
// The in-place pass: every byte p of the current file becomes byte p XOR keystream byte p, block
// by block through BlockBuffer, with a progress figure after every block.

#include "main/engine/engineunit.h"
#include "main/engine/progressdisplay.h"

#include <cstdint>
#include <string>

namespace veltrane {

// The figure after `blockCount` blocks of a file of `fileLength` bytes: blockCount x 65,536 / length
// x 100, rounded half to even (64-bit throughout). An empty file gives 100.
int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength);

// Opens unit.CurrentFile (closing it first), schedules unit.KeyText and transforms the whole file,
// leaving it open at its end; unit.FileLength and unit.BlockCount describe the pass. Returns false,
// having changed nothing and left the display alone, when the file cannot be opened (the handle is
// then closed, which is how a caller that gets no result from the pass can tell). On a failing read
// or write the bytes already transformed are transformed back, the file is closed, and EngineError
// is thrown naming the file, the system's reason and the state the file was left in. An empty file
// gets one block of nothing and the figure 100. `display` may be null.
bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display);

// Brings unit.CurrentFile back to its state before a pass after a failure: transforms bytes 0 to
// transformedEnd - 1 once more (the cipher is its own inverse at the same offsets), then cuts the
// file to `length` unless that is negative, and closes it. Opens the file when it is not open.
// Returns the words to add to the failure's message: how the file was left.
std::string RestoreFile(EngineUnit& unit, std::int64_t transformedEnd, std::int64_t length);

} // namespace veltrane
