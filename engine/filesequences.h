#pragma once
// The two per-file sequences: marker test, key check, in-place pass, trailer appended or removed,
// all on one open descriptor of the file that holds its lock from the first step to the last. Each
// leaves the file either completely transformed or as it was (then it throws EngineError).

#include "engine/engineunit.h"
#include "engine/fileoutcome.h"
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
// CannotOpen and stays as it was (unit.CurrentFile.openError() says why). Room for the trailer, and for
// the holes of a sparse file, is reserved before the pass; where there is none, EngineError is thrown
// with the file unchanged. A failing step after the pass undoes the pass before EngineError is thrown. A file that
// another program changes meanwhile is not written further (FileChangedError). `afterPass` runs only
// after a completed pass.
FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);
FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);

// Convenience for callers without a window: the pass reports to `display`; nothing runs after it.
FileOutcome EncryptFile(EngineUnit& unit, ProgressDisplay& display);
FileOutcome DecryptFile(EngineUnit& unit, ProgressDisplay& display);

} // namespace veltrane
