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

// Both bind unit.CurrentFile to unit.CurrentFileName themselves and use unit.KeyText. A file that
// cannot be opened, at any step before a byte changes, gives CannotOpen and stays as it was; the pass
// step reports that by leaving unit.CurrentFile closed. Encryption reserves room for the trailer
// before the pass and refuses with EngineError when there is none; a failing append (or, when
// decrypting, a failing truncation) undoes the pass and cuts the file back before EngineError is
// thrown. `afterPass` runs only after a completed pass.
FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);
FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass);

// Convenience for callers without a window: the pass reports to `display`; nothing runs after it.
FileOutcome EncryptFile(EngineUnit& unit, ProgressDisplay& display);
FileOutcome DecryptFile(EngineUnit& unit, ProgressDisplay& display);

} // namespace veltrane
