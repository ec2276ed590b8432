#pragma once
// The encrypted file's trailer: CheckBlock (FileMarker enciphered with keystream bytes 0..9) and
// FileMarker, after the enciphered body; and the steps that make, test and remove it.

#include "main/engine/engineunit.h"

#include <array>
#include <cstdint>

namespace veltrane {

inline constexpr std::array<std::uint8_t, 10> FileMarker{0x2A, 0x2A, 0x06, 0x06, 0x06, 0x45, 0x45, 0x2A, 0x45, 0x45};
inline constexpr std::int64_t TrailerSize = 20;

enum class MarkerState { Present, Absent, CannotOpen };

// Opens, reads the last ten bytes, closes.
MarkerState TestFileMarker(EngineUnit& unit);
bool HasFileMarker(EngineUnit& unit); // Present

void MakeCheckBlock(EngineUnit& unit);
// Appends CheckBlock then FileMarker in two open-append-close cycles. Throws EngineError.
void AppendTrailer(EngineUnit& unit);
// True when the stored check block deciphers to FileMarker; the file then stays open.
bool CheckKey(EngineUnit& unit);
// Cuts the last 20 bytes off the file the pass left open, and closes it. Throws EngineError.
void RemoveTrailer(EngineUnit& unit);

} // namespace veltrane
