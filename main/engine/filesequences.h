#pragma once
// The two per-file sequences: marker test, key check, in-place pass, trailer appended or removed.
// Each leaves the file either completely transformed or exactly as it was (then it throws EngineError).

#include "main/engine/engineunit.h"
#include "main/engine/fileoutcome.h"
#include "main/engine/progressdisplay.h"

#include <functional>

namespace veltrane {

// Runs the in-place pass over unit.CurrentFile (the window's TMainForm::Algorithm, or RunBlockPass).
using PassStep = std::function<void()>;
// The caller's step right after a completed pass: completion phrase, hide and reset the display.
using AfterPassStep = std::function<void()>;

// Encrypts the file bound to unit.CurrentFile under unit.KeyText.
FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);
// Decrypts the file bound to unit.CurrentFile under unit.KeyText.
FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);

// Convenience for callers without a window: the pass reports to `display`.
FileOutcome EncryptFile(EngineUnit& unit, ProgressDisplay& display);
FileOutcome DecryptFile(EngineUnit& unit, ProgressDisplay& display);

} // namespace veltrane
