#pragma once
// The engine state that a run works on: one instance in the program (the main window unit's),
// and as many as tests like.

#include "main/engine/currentfile.h"
#include "main/engine/keystream.h"
#include "main/engine/pagealignedallocator.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltrane {

inline constexpr std::size_t BlockSize = 65536;

struct EngineUnit {
    std::vector<std::uint8_t> KeyText; // key bytes of the run, verbatim
    std::string CurrentFileName;       // full path of the file in hand
    CurrentFileHandle CurrentFile;     // bound to CurrentFileName
    KeystreamGenerator Generator;      // StateTable, KeyTable and j
    std::array<std::uint8_t, 10> CheckBlock{};
    using Buffer = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;
    Buffer BlockBuffer = Buffer(BlockSize);
    // Of the last pass: the file's size when it began, and the blocks it has processed.
    std::int64_t FileLength = 0;
    std::int64_t BlockCount = 0;
};

} // namespace veltrane
