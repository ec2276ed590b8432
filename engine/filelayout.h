#pragma once
// The encrypted file's trailer: CheckBlock (FileMarker enciphered with keystream bytes 0..9) and
// FileMarker, after the enciphered body; and the steps that make and test it. Every step works on the
// file that unit.CurrentFile holds open for the whole command on it; the command's last step writes
// or cuts the trailer (see recovery.h, FinishFile).

#include "engine/engineunit.h"
#include "engine/trailerformat.h"

namespace veltrane {

// True when the file's last ten bytes are FileMarker; a file shorter than ten bytes has none.
// Throws EngineError when reading fails.
bool HasFileMarker(EngineUnit& unit);

void MakeCheckBlock(EngineUnit& unit);
// True when the stored check block deciphers to FileMarker under unit.KeyText. A file shorter than
// 20 bytes has no check block and gives false.
bool CheckKey(EngineUnit& unit);

} // namespace veltrane
