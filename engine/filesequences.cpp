#include "engine/filesequences.h"

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/interruption.h"
#include "engine/recovery.h"

#include <string>

namespace veltrane {

namespace {

// Holds the file open and locked for one command, and lets go of it however the command ends: the
// progress record first (kept when the file is left in between), then the lock.
class CommandHold {
public:
    explicit CommandHold(EngineUnit& unit) : m_unit(unit) {
        m_unit.Undo = {};
        m_unit.Resume = {};
        m_unit.LeftInBetween = false;
        m_unit.LastRecovery = Recovery::None;
        m_unit.CurrentFile.Bind(m_unit.CurrentFileName);
        m_opened = m_unit.CurrentFile.Open();
    }
    ~CommandHold() {
        if (m_unit.LeftInBetween)
            m_unit.Record.Abandon();
        else
            m_unit.Record.Finish();
        m_unit.Undo = {};
        m_unit.Resume = {};
        m_unit.CurrentFile.Close();
    }
    CommandHold(const CommandHold&) = delete;
    CommandHold& operator=(const CommandHold&) = delete;
    bool opened() const { return m_opened; }

private:
    EngineUnit& m_unit;
    bool m_opened = false;
};

// Makes sure that the command cannot run out of room once it has begun: the holes of a sparse file
// (which the pass fills with keystream) and `afterEnd` bytes past the end. Where there is no room,
// gives back what it took and throws, with the file unchanged.
void ReserveRoom(EngineUnit& unit, std::int64_t afterEnd, const char* command) {
    CurrentFileHandle& file = unit.CurrentFile;
    UndoPlan& plan = unit.Undo;
    plan.OriginalLength = file.Size();
    plan.Holes = file.FindHoles();
    std::string reason;
    bool room = file.Allocate(plan.Holes, reason);
    if (room && afterEnd > 0) {
        room = file.ReserveAfterEnd(afterEnd, reason);
        if (room)
            plan.ReservedAfterEnd = afterEnd;
    }
    if (!room) {
        file.Deallocate(plan.Holes);
        throw EngineError(std::string("Cannot ") + command + " \"" + unit.CurrentFileName + "\": " + reason +
                              "; the file was left unchanged",
                          reason);
    }
    // Reserving counts as this command's own change of the file's times.
    file.Remember();
}

// Readies the record of a command that is about to change the file; it starts with the first block.
void ArmRecord(EngineUnit& unit, RecordCommand command) {
    const CurrentFileHandle& file = unit.CurrentFile;
    RecordState header;
    header.Device = file.device();
    header.Inode = file.inode();
    header.BirthSeconds = file.birth().tv_sec;
    header.BirthNanoseconds = file.birth().tv_nsec;
    header.Path = file.path();
    header.Command = command;
    header.OriginalLength = file.expectedSize();
    unit.Record.Arm(header);
}

// The steps after a completed pass; on a failure the whole pass is undone.
void FinishAfterPass(EngineUnit& unit, const AfterPassStep& afterPass, RecordPhase phase, void (*finish)(EngineUnit&)) {
    try {
        afterPass();
        // Once the pass is through, a caught interruption is not worth a second pass to undo it:
        // the rest takes a moment, and the command ends as it would have.
        RecordPhaseNow(unit, phase);
        finish(unit);
    } catch (...) {
        unit.Undo.TransformedEnd = unit.FileLength;
        UndoAndRethrow(unit);
    }
    unit.LeftInBetween = false;
}

void AppendNewTrailer(EngineUnit& unit) {
    MakeCheckBlock(unit);
    AppendTrailer(unit);
}

} // namespace

FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    ThrowIfInterrupted(unit.CurrentFileName.c_str());
    const RecoveryResult recovery = RecoverInterrupted(unit, RecordCommand::Encrypt);
    if (recovery.Step == RecoveryStep::Done)
        return recovery.Outcome;
    if (recovery.Step != RecoveryStep::Resume) {
        if (HasFileMarker(unit))
            return FileOutcome::AlreadyEncrypted;
        ArmRecord(unit, RecordCommand::Encrypt);
    }
    // A full disk or a file-size limit refuses the file before a single byte changes.
    ReserveRoom(unit, TrailerSize, "encrypt");
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, RecordPhase::Trailer, AppendNewTrailer);
    return FileOutcome::Encrypted;
}

FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    ThrowIfInterrupted(unit.CurrentFileName.c_str());
    const RecoveryResult recovery = RecoverInterrupted(unit, RecordCommand::Decrypt);
    if (recovery.Step == RecoveryStep::Done)
        return recovery.Outcome;
    // A resumed pass has the key checked against its record; the trailer may be deciphered already.
    if (recovery.Step != RecoveryStep::Resume) {
        if (!HasFileMarker(unit))
            return FileOutcome::NotEncrypted;
        if (!CheckKey(unit))
            return FileOutcome::InvalidKey;
        ArmRecord(unit, RecordCommand::Decrypt);
    }
    ReserveRoom(unit, 0, "decrypt");
    // The pass runs over the trailer too; undoing it means transforming the whole file again.
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, RecordPhase::Truncate, RemoveTrailer);
    return FileOutcome::Decrypted;
}

FileOutcome EncryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return EncryptCurrentFile(
        unit, [&] { return RunBlockPass(unit, &display); }, [] {});
}

FileOutcome DecryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return DecryptCurrentFile(
        unit, [&] { return RunBlockPass(unit, &display); }, [] {});
}

} // namespace veltrane
