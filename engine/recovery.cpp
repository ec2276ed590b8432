#include "engine/recovery.h"

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/interruption.h"

#include <algorithm>
#include <optional>

#include <sys/stat.h>

namespace veltrane {

namespace {

constexpr std::int64_t Slack = 2'000'000'000; // nanoseconds

const char* CommandWords(RecordCommand command) {
    return command == RecordCommand::Encrypt ? "encryption" : "decryption";
}

bool KeyFits(EngineUnit& unit, const std::array<std::uint8_t, 10>& checkBlock) {
    MakeCheckBlock(unit);
    return unit.CheckBlock == checkBlock;
}

bool SizeFits(const RecordState& record, std::int64_t size) {
    const std::int64_t length = record.OriginalLength;
    switch (record.Phase) {
    case RecordPhase::Pass:
    case RecordPhase::Undo:
        return size == record.ExpectedSize;
    case RecordPhase::UndoCut:
        return size == record.ExpectedSize || size == length;
    case RecordPhase::Trailer:
        return size == length || size == length + 10 || size == length + TrailerSize;
    case RecordPhase::Truncate:
        return size == length || size == length - TrailerSize;
    }
    return false;
}

// The file's modification time may have moved on from the recorded one only by the write that was
// under way when the command stopped, which began right after the record was written.
bool TimeFits(const RecordState& record, const timespec& modified) {
    const std::int64_t recorded = record.ModifiedSeconds * 1'000'000'000 + record.ModifiedNanoseconds;
    const std::int64_t now = static_cast<std::int64_t>(modified.tv_sec) * 1'000'000'000 + modified.tv_nsec;
    return now == recorded || (now > recorded && now <= record.WrittenAt + Slack);
}

// Why the file no longer matches its record; empty when it does.
std::string Mismatch(EngineUnit& unit, const RecordState& record) {
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t size = file.expectedSize();
    if (!SizeFits(record, size))
        return "it is " + std::to_string(size) + " bytes long, which no step of that command leaves";
    if (!TimeFits(record, file.modified()))
        return "it was written to after that command stopped";
    if (record.Phase == RecordPhase::Pass || record.Phase == RecordPhase::Undo) {
        std::array<bool, RecordPagesPerBlock> written{};
        const BlockInFlight block{record.Block, record.BlockLength, record.Samples};
        if (!ReadBlockInFlight(unit, record.Phase, block, written))
            return "its bytes where that command stopped are not what it was writing";
    }
    if (record.Phase == RecordPhase::Trailer && size > record.OriginalLength) {
        std::array<std::uint8_t, TrailerSize> trailer{};
        std::copy(record.CheckBlock.begin(), record.CheckBlock.end(), trailer.begin());
        std::copy(FileMarker.begin(), FileMarker.end(), trailer.begin() + 10);
        std::array<std::uint8_t, TrailerSize> found{};
        const auto length = static_cast<std::size_t>(size - record.OriginalLength);
        file.SeekTo(record.OriginalLength);
        if (file.Read(std::span(found.data(), length)) != length ||
            !std::equal(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(length), trailer.begin()))
            return "the end of it is not the trailer that command was appending";
    }
    return {};
}

// Cuts the file back to `length` as the last step of an undo, recorded as such.
void CutTo(EngineUnit& unit, std::int64_t length) {
    CurrentFileHandle& file = unit.CurrentFile;
    if (file.expectedSize() == length)
        return;
    RecordPhaseNow(unit, RecordPhase::UndoCut);
    file.Truncate(length);
}

// Appends what is missing of the trailer of an interrupted encryption.
void CompleteTrailer(EngineUnit& unit, const RecordState& record) {
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t have = file.expectedSize() - record.OriginalLength;
    file.SeekToEnd();
    if (have == 0)
        file.Write(unit.CheckBlock);
    if (have < TrailerSize)
        file.Write(FileMarker);
}

// The file is whole again: its record has nothing more to tell.
void Clean(EngineUnit& unit) {
    unit.CurrentFile.Remember();
    unit.LeftInBetween = false;
    unit.Record.Finish();
}

} // namespace

RecoveryResult RecoverInterrupted(EngineUnit& unit, RecordCommand command) {
    unit.LastRecovery = Recovery::None;
    CurrentFileHandle& file = unit.CurrentFile;
    const std::optional<RecordState> found = unit.Record.TakeLeftover(file.device(), file.inode());
    if (!found)
        return {};
    const RecordState record = *found;
    // A record of a file since deleted, whose inode number went to this newer file, is stale.
    const timespec& birth = file.birth();
    if (record.BirthSeconds >= 0 && birth.tv_sec >= 0 &&
        (record.BirthSeconds != birth.tv_sec || record.BirthNanoseconds != birth.tv_nsec)) {
        unit.Record.Finish();
        return {};
    }
    // Until the file is whole again, its record stays, whatever happens on the way.
    unit.LeftInBetween = true;
    if (!KeyFits(unit, record.CheckBlock))
        return {RecoveryStep::Done, FileOutcome::InvalidKey};
    const char* verb = command == RecordCommand::Encrypt ? "encrypt" : "decrypt";
    if (record.BootId != ProgressRecord::CurrentBoot()) {
        // What the record says reached the disk may not have: acting on it could make things
        // worse. The file is left as it is and the record dropped, so that the user can decide.
        unit.LeftInBetween = false;
        const std::string reason = "it was left part-way through an interrupted " +
                                   std::string(CommandWords(record.Command)) +
                                   " when the system stopped (a power cut or a crash), so what reached the disk is "
                                   "not known; the file was left as it is, possibly partly transformed, and the "
                                   "record of that command was dropped";
        throw EngineError(std::string("Cannot ") + verb + " \"" + file.path() + "\": " + reason, reason);
    }
    if (const std::string why = Mismatch(unit, record); !why.empty()) {
        const std::string reason = "it was left part-way through an interrupted " +
                                   std::string(CommandWords(record.Command)) + " and has changed since (" + why +
                                   "); the file and the record of that command were left alone";
        throw EngineError(std::string("Cannot ") + verb + " \"" + file.path() + "\": " + reason, reason);
    }

    const bool same = record.Command == command;
    unit.LastRecovery =
        same ? (command == RecordCommand::Encrypt ? Recovery::FinishedEncryption : Recovery::FinishedDecryption)
             : (record.Command == RecordCommand::Encrypt ? Recovery::UndidEncryption : Recovery::UndidDecryption);
    const FileOutcome done = command == RecordCommand::Encrypt ? FileOutcome::Encrypted : FileOutcome::Decrypted;
    const BlockInFlight inFlight{record.Block, record.BlockLength, record.Samples};
    const std::int64_t blockStart = record.Block * static_cast<std::int64_t>(BlockSize);
    try {
        switch (record.Phase) {
        case RecordPhase::Pass:
            if (same) {
                unit.Resume = {true, inFlight};
                return {RecoveryStep::Resume, done};
            }
            // The block in flight is finished first, so that everything before its end is in one
            // form, and then all of that is put back.
            TransformBlocks(unit, RecordPhase::Pass, blockStart, blockStart + record.BlockLength, 0, &inFlight,
                            nullptr);
            TransformBlocks(unit, RecordPhase::Undo, 0, blockStart + record.BlockLength,
                            blockStart + record.BlockLength, nullptr, nullptr);
            Clean(unit);
            return {RecoveryStep::Done, done};
        case RecordPhase::Trailer:
            if (same) {
                CompleteTrailer(unit, record);
                Clean(unit);
                return {RecoveryStep::Done, done};
            }
            TransformBlocks(unit, RecordPhase::Undo, 0, record.OriginalLength, record.OriginalLength, nullptr, nullptr);
            CutTo(unit, record.OriginalLength);
            Clean(unit);
            return {RecoveryStep::Done, done};
        case RecordPhase::Truncate:
            CutTo(unit, record.OriginalLength - TrailerSize);
            Clean(unit);
            // Undoing a decryption that had got this far is encrypting the plain file afresh.
            return same ? RecoveryResult{RecoveryStep::Done, done} : RecoveryResult{RecoveryStep::Fresh, done};
        case RecordPhase::Undo:
            TransformBlocks(unit, RecordPhase::Undo, blockStart, record.UndoEnd, record.UndoEnd, &inFlight, nullptr);
            [[fallthrough]];
        case RecordPhase::UndoCut:
            CutTo(unit, record.OriginalLength);
            Clean(unit);
            // The file is as it was before the interrupted command, which is this command's result
            // when it went the other way, and where this command starts from when it went this way.
            return same ? RecoveryResult{RecoveryStep::Fresh, done} : RecoveryResult{RecoveryStep::Done, done};
        }
    } catch (const EngineError& failure) {
        const std::string left = std::string("; the file is left part-way through the interrupted ") +
                                 CommandWords(record.Command) + ", whose record was kept";
        if (dynamic_cast<const InterruptedError*>(&failure))
            throw InterruptedError(failure.what() + left, failure.reason());
        throw EngineError(failure.what() + left, failure.reason());
    }
    return {};
}

std::vector<InterruptedFile> InterruptedFiles(ProgressRecord& records) {
    std::vector<InterruptedFile> files;
    for (const RecordState& record : records.Leftovers()) {
        InterruptedFile file;
        file.Path = record.Path;
        file.Command = record.Command;
        file.Device = record.Device;
        file.Inode = record.Inode;
        if (record.Phase == RecordPhase::Pass && record.ExpectedSize > 0)
            file.Percent = static_cast<int>(std::min<std::int64_t>(
                100, record.Block * static_cast<std::int64_t>(BlockSize) * 100 / record.ExpectedSize));
        else
            file.Percent = record.Phase == RecordPhase::Pass ? 0 : 100;
        struct stat status {};
        file.FoundByName = ::stat(record.Path.c_str(), &status) == 0 && status.st_dev == record.Device &&
                           status.st_ino == record.Inode;
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace veltrane
