#pragma once
// The encrypted file's trailer: CheckBlock (FileMarker enciphered with keystream bytes 0..9) and
// FileMarker, after the enciphered body; and the steps that make, test and remove it. Every step
// works on the file that unit.CurrentFile holds open for the whole command on it.

#include "engine/engineunit.h"

#include <array>
#include <cstdint>

namespace veltrane {

inline constexpr std::array<std::uint8_t, 10> FileMarker{0x2A, 0x2A, 0x06, 0x06, 0x06, 0x45, 0x45, 0x2A, 0x45, 0x45};
inline constexpr std::int64_t TrailerSize = 20;

// True when the file's last ten bytes are FileMarker; a file shorter than ten bytes has none.
// Throws EngineError when reading fails.
bool HasFileMarker(EngineUnit& unit);

void MakeCheckBlock(EngineUnit& unit);
// Appends CheckBlock, then FileMarker, each in a write of its own at the end of the file, after
// making sure that no other program has changed the file since this command's last step.
// Throws EngineError (FileChangedError for such a change).
void AppendTrailer(EngineUnit& unit);
// True when the stored check block deciphers to FileMarker under unit.KeyText. A file shorter than
// 20 bytes has no check block and gives false.
bool CheckKey(EngineUnit& unit);
// Cuts the last 20 bytes off, after the same check as AppendTrailer. Throws EngineError.
void RemoveTrailer(EngineUnit& unit);

} // namespace veltrane
