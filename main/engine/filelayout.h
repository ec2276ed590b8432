#pragma once
// The encrypted file's trailer: CheckBlock (FileMarker enciphered with keystream bytes 0..9) and
// FileMarker, after the enciphered body; and the steps that make, test and remove it.

#include "main/engine/engineunit.h"

#include <array>
#include <cstdint>
#include <string>

namespace veltrane {

inline constexpr std::array<std::uint8_t, 10> FileMarker{0x2A, 0x2A, 0x06, 0x06, 0x06, 0x45, 0x45, 0x2A, 0x45, 0x45};
inline constexpr std::int64_t TrailerSize = 20;

enum class MarkerState { Present, Absent, CannotOpen };

// What one open of the file for the marker test found.
struct MarkerProbe {
    MarkerState State = MarkerState::CannotOpen;
    std::int64_t Size = 0;
    bool Reserved = false; // the requested bytes past the end are reserved
    std::string Reason;    // why it could not be opened, or why the reservation failed
};

// Opens, reads the last ten bytes, closes. When `reserve` > 0 and the marker is absent, also
// reserves that many bytes past the end while the file is open, so that an append cannot run out
// of room later. Throws EngineError when reading fails.
MarkerProbe ProbeFile(EngineUnit& unit, std::int64_t reserve);
MarkerState TestFileMarker(EngineUnit& unit);
bool HasFileMarker(EngineUnit& unit); // Present

void MakeCheckBlock(EngineUnit& unit);
// Appends CheckBlock then FileMarker in two open-append-close cycles. Throws EngineError.
void AppendTrailer(EngineUnit& unit);
enum class KeyCheck { Valid, Invalid, CannotOpen };
// Valid when the stored check block deciphers to FileMarker; the file then stays open, otherwise
// it is closed. A file shorter than 20 bytes is Invalid.
KeyCheck CheckKeyOfFile(EngineUnit& unit);
bool CheckKey(EngineUnit& unit); // Valid
// Cuts the last 20 bytes off the file the pass left open, and closes it. Throws EngineError.
void RemoveTrailer(EngineUnit& unit);

} // namespace veltrane
