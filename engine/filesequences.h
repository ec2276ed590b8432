#pragma once
// The two per-file sequences: marker test, key check, in-place pass, trailer appended or removed,
// all on one open descriptor of the file that holds its lock from the first step to the last. Each
// leaves the file either completely transformed or as it was, and says which in its result.

#include "engine/engineunit.h"
#include "engine/fileresult.h"
#include "engine/progressdisplay.h"

#include <functional>

namespace veltrane {

// Runs the in-place pass over unit.CurrentFile (the window's TMainForm::Algorithm, or RunBlockPass)
// and says whether it ran; false means the file could not be opened and nothing changed.
using PassStep = std::function<bool()>;
// The caller's step right after a completed pass: completion phrase, hide and reset the display.
using AfterPassStep = std::function<void()>;

// Both bind unit.CurrentFile to the file in hand (EngineUnit::BindCurrentFile) and open it once, use
// unit.KeyText, and close it when the command on the file ends. A file that cannot be opened gives
// CannotOpen and stays as it was (the result's OpenError says why). Room for the trailer, and for the
// holes of a sparse file, is reserved before the pass; where there is none, the command fails with the
// file unchanged. A failing step after the pass undoes the pass before the command fails. A file that
// another program changes meanwhile is not written further. `afterPass` runs only after a completed
// pass. Nothing is thrown: every failure is the result's.
FileResult EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);
FileResult DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);

// Convenience for callers without a window: the pass reports to `display`; nothing runs after it.
FileResult EncryptFile(EngineUnit& unit, ProgressDisplay& display);
FileResult DecryptFile(EngineUnit& unit, ProgressDisplay& display);

} // namespace veltrane
