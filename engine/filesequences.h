#pragma once
// The two per-file sequences: marker test, key check, in-place pass, trailer appended or removed,
// all on one open descriptor of the file that holds its lock from the first step to the last. Each
// leaves the file either completely transformed or as it was, and says which in its result.

#include "engine/engineunit.h"
#include "engine/fileresult.h"
#include "engine/progressdisplay.h"

namespace veltrane {

// Encrypt or decrypt the file in hand, unit.CurrentFileName: each binds unit.CurrentFile to it
// (EngineUnit::BindCurrentFile), opens it once, uses unit.KeyText, and closes it when the command on
// the file ends. `display` is shown the pass, and told when it is through, before the trailer is
// written or cut. A file that cannot be opened gives CannotOpen and stays as it was. Room for the
// trailer, and for the holes of a sparse file, is reserved before the pass; where there is none, the
// command fails with the file unchanged. A failing step after that undoes what the command did before
// it fails. A file that another program changes meanwhile is not written further. Nothing is thrown:
// every failure is the result's.
FileResult EncryptFile(EngineUnit& unit, ProgressDisplay& display);
FileResult DecryptFile(EngineUnit& unit, ProgressDisplay& display);

} // namespace veltrane
