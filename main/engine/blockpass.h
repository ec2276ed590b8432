#pragma once
// The in-place pass: every byte p of the current file becomes byte p XOR keystream byte p, block
// by block through BlockBuffer, with a progress figure after every block.

#include "main/engine/engineunit.h"
#include "main/engine/progressdisplay.h"

#include <cstdint>

namespace veltrane {

// The figure after `blockCount` blocks of a file of `fileLength` bytes: blockCount x 65,536 / length
// x 100, rounded half to even (64-bit throughout). An empty file gives 100.
int ProgressFigure(std::int64_t blockCount, std::int64_t fileLength);

// Opens unit.CurrentFile (closing it first), schedules unit.KeyText and transforms the whole file,
// leaving it open at its end. Returns false, having changed nothing, when the file cannot be opened.
// On a failing read or write the bytes already transformed are transformed back, the file is
// closed, and EngineError is thrown. `display` may be null.
bool RunBlockPass(EngineUnit& unit, ProgressDisplay* display);

} // namespace veltrane
