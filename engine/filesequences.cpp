#include "engine/filesequences.h"

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/interruption.h"
#include "engine/recovery.h"
#include "engine/zonedpass.h"

#include <string>

namespace veltrane {

namespace {

// Holds the file open and locked for one command, and lets go of it however the command ends; the
// note naming the file for the user goes with it unless the file is left part-way.
class CommandHold {
public:
    explicit CommandHold(EngineUnit& unit) : m_unit(unit) {
        m_unit.Keeping = false;
        m_unit.LeftInBetween = false;
        m_unit.LastRecovery = Recovery::None;
        m_unit.ForeignKept = false;
        m_unit.Completed = false;
        m_unit.Holes.clear();
        m_unit.BindCurrentFile();
        m_opened = m_unit.CurrentFile.Open();
    }
    ~CommandHold() {
        if (!m_unit.LeftInBetween) {
            m_unit.Hints.Drop();
            // Notes that earlier, interrupted commands left for this file say nothing true any more.
            if (m_unit.LastRecovery != Recovery::None)
                m_unit.Hints.Forget(m_unit.CurrentFileName);
        }
        m_unit.Keeping = false;
        m_unit.CurrentFile.Close();
    }
    CommandHold(const CommandHold&) = delete;
    CommandHold& operator=(const CommandHold&) = delete;
    bool opened() const { return m_opened; }

private:
    EngineUnit& m_unit;
    bool m_opened = false;
};

// Readies a fresh command: the state the file will carry, and the room it and the pass need (the
// holes of a sparse file, which the pass fills with keystream, and the state past the end). Where there
// is no room, gives back what it took and throws, with the file unchanged.
void Begin(EngineUnit& unit, PartwayCommand command) {
    CurrentFileHandle& file = unit.CurrentFile;
    const std::int64_t body = file.expectedSize();
    const ZonePlan plan = PlanZones(body, unit.Durable, unit.ZoneLimit);
    PartwayState& state = unit.Partway;
    state = {};
    state.Command = command;
    state.Durable = unit.Durable;
    state.Kind = plan.Kind;
    state.Body = body;
    state.AreaSize = plan.AreaSize;
    state.ZoneLength = plan.Length;
    MakeCheckBlock(unit);
    state.CheckBlock = unit.CheckBlock;
    state.Boot = CurrentBoot();
    unit.OriginalLength = body;
    unit.Holes = file.FindHoles();

    std::string reason;
    bool room = file.Allocate(unit.Holes, reason);
    // The room after the end is reserved only where the state is synced into it. Without syncs the
    // state's first write (the whole anchor page, before any byte of the body changes) finds the
    // room or fails, and a trailer that finds none is undone with the pass; blocks reserved and cut
    // off again would cost a discard each on file systems mounted so (5 ms a file here).
    if (room && unit.Durable)
        room = file.ReserveAfterEnd(LayoutOf(body, plan.AreaSize).End - body, reason);
    if (!room) {
        file.Deallocate(unit.Holes);
        const char* verb = command == PartwayCommand::Encrypt ? "encrypt" : "decrypt";
        throw EngineError(std::string("Cannot ") + verb + " \"" + unit.CurrentFileName + "\": " + reason +
                              "; the file was left unchanged",
                          reason);
    }
    // Reserving counts as this command's own change of the file's times.
    file.Remember();
    unit.Hints.Note(unit.CurrentFileName);
}

// The steps after a completed pass; on a failure the whole pass is undone.
void FinishAfterPass(EngineUnit& unit, const AfterPassStep& afterPass, bool enciphered) {
    try {
        afterPass();
        // Once the pass is through, a caught interruption is not worth a second pass to undo it: the
        // rest takes a moment, and the command ends as it would have.
        FinishFile(unit, enciphered);
    } catch (...) {
        UndoAndRethrow(unit);
    }
}

// What the file says of itself before this command: a state left by an interrupted command is
// finished or undone first. True when `result` is the command's final outcome.
bool RecoverFirst(EngineUnit& unit, PartwayCommand command, bool& resume, FileOutcome& result) {
    resume = false;
    PartwayState found;
    if (!ReadFileState(unit, found))
        return false;
    const RecoveryResult recovery = RecoverPartway(unit, found, command);
    result = recovery.Outcome;
    resume = recovery.Step == RecoveryStep::Resume;
    return recovery.Step == RecoveryStep::Done;
}

} // namespace

FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    ThrowIfInterrupted(unit.CurrentFileName.c_str());
    bool resume = false;
    FileOutcome outcome = FileOutcome::Encrypted;
    if (RecoverFirst(unit, PartwayCommand::Encrypt, resume, outcome))
        return outcome;
    if (!resume) {
        if (HasFileMarker(unit))
            return FileOutcome::AlreadyEncrypted;
        Begin(unit, PartwayCommand::Encrypt);
    }
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, true);
    return FileOutcome::Encrypted;
}

FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    ThrowIfInterrupted(unit.CurrentFileName.c_str());
    bool resume = false;
    FileOutcome outcome = FileOutcome::Decrypted;
    if (RecoverFirst(unit, PartwayCommand::Decrypt, resume, outcome))
        return outcome;
    if (!resume) {
        if (!HasFileMarker(unit))
            return FileOutcome::NotEncrypted;
        if (!CheckKey(unit))
            return FileOutcome::InvalidKey;
        Begin(unit, PartwayCommand::Decrypt);
    }
    // The pass runs over the trailer too; the last step cuts it off.
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, false);
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
