#pragma once
// The engine state that a run works on: one instance in the program (the main window unit's), one
// per worker of the command-line tool, and as many as tests like.

#include "engine/currentfile.h"
#include "engine/fileoutcome.h"
#include "engine/keystream.h"
#include "engine/pagealignedallocator.h"
#include "engine/progressrecord.h"
#include "engine/runkeystream.h"
#include "engine/streamahead.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {

inline constexpr std::size_t BlockSize = 65536;

// What the command in hand has done to its file beyond the bytes it transformed, so that a failure
// can put all of it back: the length to cut back to, the holes of a sparse file that were filled,
// and the room reserved past the end.
struct UndoPlan {
    std::int64_t TransformedEnd = 0;  // bytes [0, TransformedEnd) are transformed; -1: not known
    std::int64_t RestoredEnd = 0;     // while undoing: bytes [0, RestoredEnd) are back
    std::int64_t OriginalLength = -1; // cut back to this length when not negative
    std::vector<FileRange> Holes;
    std::int64_t ReservedAfterEnd = 0;
};

// A block that an interrupted pass or undo was writing back when it stopped: the first bytes of each
// of its pages in their enciphered form tell which pages reached the file.
struct BlockInFlight {
    std::int64_t Block = 0;
    std::int64_t Length = 0;
    std::array<std::uint64_t, RecordPagesPerBlock> Samples{};
};

// Where a pass picks up an interrupted one: from block `In.Block`, whose pages are partly done.
struct ResumePoint {
    bool Active = false;
    BlockInFlight In;
};

struct EngineUnit {
    EngineUnit() = default;
    ~EngineUnit() { WipeKey(); }
    EngineUnit(const EngineUnit&) = delete;
    EngineUnit& operator=(const EngineUnit&) = delete;

    // Overwrites the key and everything derived from it (tables, check block, the run's keystream)
    // once a run is over, so that neither lingers in memory.
    void WipeKey() noexcept;

    // The keystream of the run for KeyText: the one in hand when it is that key's, else a new one
    // that this unit keeps until the key changes or the run ends.
    RunKeystream& KeystreamOfRun();
    // Lets go of the run's keystream, which is wiped once no unit uses it any more: for the end of a
    // run that keeps KeyText.
    void EndRunKeystream() noexcept { RunKey.reset(); }

    std::vector<std::uint8_t> KeyText; // key bytes of the run, verbatim
    std::string CurrentFileName;       // full path of the file in hand
    CurrentFileHandle CurrentFile;     // bound to CurrentFileName, open for the whole command
    KeystreamGenerator Generator;      // StateTable, KeyTable and j
    // The scheduled key and first bytes of the stream, made once per run; several units may share
    // one (see runkeystream.h).
    std::shared_ptr<RunKeystream> RunKey;
    std::array<std::uint8_t, 10> CheckBlock{};
    using Buffer = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;
    Buffer BlockBuffer = Buffer(BlockSize);
    // Of the last pass: the file's size when it began, and the blocks it has processed.
    std::int64_t FileLength = 0;
    std::int64_t BlockCount = 0;
    // Whether a pass may make the stream beyond the kept prefix on a second thread, and what the
    // last pass (or undo) did with it. The hook, when set, runs on that thread before each block.
    bool StreamAheadAllowed = true;
    std::function<void(std::int64_t block)> StreamAheadHook;
    StreamAheadFigures LastStreamAhead;
    UndoPlan Undo;
    // The record that lets a command killed part-way be finished or undone by the next one.
    ProgressRecord Record;
    // Set by a recovery for the pass it hands the caller's pass step.
    ResumePoint Resume;
    // What the last command did about an interrupted earlier one.
    Recovery LastRecovery = Recovery::None;
    // The last command's undo failed, so its file is left in between (and its record kept).
    bool LeftInBetween = false;
};

} // namespace veltrane
