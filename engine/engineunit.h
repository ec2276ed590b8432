#pragma once
// The engine state that a run works on: one instance in the program (the main window unit's), one
// per worker of the command-line tool, and as many as tests like.

#include "engine/currentfile.h"
#include "engine/keystream.h"
#include "engine/keystreamsource.h"
#include "engine/pagealignedallocator.h"
#include "engine/interruptionhints.h"
#include "engine/partwaystate.h"
#include "engine/runkeystream.h"
#include "engine/secretmemory.h"
#include "engine/trailerformat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

inline constexpr std::size_t BlockSize = 65536;
// The most a unit holds of a file at once while it makes a durable zone (see zonedpass.h).
inline constexpr std::int64_t DefaultZoneLimit = std::int64_t{32} << 20;

struct EngineUnit {
    // A unit made with new (as the window and the tool make theirs) holds its key, tables and check
    // block in locked memory that core dumps leave out.
    VELTRANE_SECRET_OBJECTS

    EngineUnit() = default;
    ~EngineUnit() { WipeKey(); }
    EngineUnit(const EngineUnit&) = delete;
    EngineUnit& operator=(const EngineUnit&) = delete;

    // Binds CurrentFile to the file in hand: by CurrentFileEntry where it has a folder, else by path.
    void BindCurrentFile();

    // Overwrites the key and everything derived from it (tables, check block, the run's keystream)
    // once a run is over, so that neither lingers in memory.
    void WipeKey() noexcept;

    // The keystream of the run for KeyText: the one in hand when it is that key's, else a new one
    // that this unit keeps until the key changes or the run ends.
    RunKeystream& KeystreamOfRun();
    // Lets go of the run's keystream, which is wiped once no unit uses it any more: for the end of a
    // run that keeps KeyText.
    void EndRunKeystream() noexcept { RunKey.reset(); }

    SecretBytes KeyText;               // key bytes of the run, verbatim
    std::string CurrentFileName;       // full path of the file in hand
    // Where a walk through folders found the file in hand, when it did (its Folder is empty
    // otherwise): the file is then reached through that folder, and CurrentFileName only names it.
    FolderEntry CurrentFileEntry;
    CurrentFileHandle CurrentFile;     // bound to CurrentFileName, open for the whole command
    KeystreamGenerator Generator;      // StateTable, KeyTable and j
    // The scheduled key and first bytes of the stream, made once per run; several units may share
    // one (see runkeystream.h).
    std::shared_ptr<RunKeystream> RunKey;
    CheckBlockBytes CheckBlock{};
    using Buffer = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;
    Buffer BlockBuffer = Buffer(BlockSize);
    // Of the last pass: the file's size when it began, and the blocks it has processed.
    std::int64_t FileLength = 0;
    std::int64_t BlockCount = 0;
    // The keystream source forced for every pass (none: the rule picks one, see keystreamsource.h), and
    // what the last pass (or undo) took its stream from. The hook, when set, runs on a pass's second
    // thread before each block.
    std::optional<KeystreamSourceKind> StreamSource = KeystreamSourceForcedByEnvironment();
    std::function<void(std::int64_t block)> StreamAheadHook;
    KeystreamSourceFigures LastStreamSources;
    // Whether each step of a command waits for the disk, so that a power cut at any moment leaves a
    // file the next command can finish or undo; off for scratch data. And the most of a file the unit
    // holds in memory at once for it.
    bool Durable = true;
    std::int64_t ZoneLimit = DefaultZoneLimit;
    Buffer ZoneBuffer;
    // The command in hand: the file's length when it began, the holes of a sparse file that it fills
    // (given back when it is undone), and the state the file carries while it is part-way.
    std::int64_t OriginalLength = 0;
    std::vector<FileRange> Holes;
    PartwayState Partway;
    bool Keeping = false; // the file carries Partway (or an earlier state of it)
    // Of the pass in hand: the bytes of the body below this are written back in their new form.
    std::int64_t WrittenEnd = 0;
    // Where the names of files part-way through a command are noted for the user (a hint only).
    InterruptionHints Hints;
    // The command in hand's file holds the whole result and no state any more: nothing is left to undo.
    bool Completed = false;
};

} // namespace veltrane
