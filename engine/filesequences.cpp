#include "engine/filesequences.h"

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/interruption.h"
#include "engine/recovery.h"
#include "engine/zonedpass.h"

#include <exception>
#include <new>
#include <string>
#include <system_error>

namespace veltrane {

namespace {

// Holds the file open and locked for one command, and lets go of it however the command ends; the
// note naming the file for the user goes with it unless the command leaves the file part-way.
class CommandHold {
public:
    CommandHold(EngineUnit& unit, const FileResult& result) : m_unit(unit), m_result(result) {
        m_unit.Keeping = false;
        m_unit.Completed = false;
        m_unit.Holes.clear();
        m_unit.BindCurrentFile();
        m_opened = m_unit.CurrentFile.Open();
    }
    ~CommandHold() {
        if (m_result.PartWay) {
            m_unit.Hints.Leave();
        } else {
            m_unit.Hints.Done();
            // Notes that earlier, interrupted commands left for this file say nothing true any more.
            if (m_result.Recovered != Recovery::None)
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
    const FileResult& m_result;
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
        throw EngineError({.Operation = OperationOf(command),
                           .Path = unit.CurrentFileName,
                           .Reason = reason,
                           .Left = FileLeft::Unchanged});
    }
    // Reserving counts as this command's own change of the file's times.
    file.Remember();
    unit.Hints.Note(unit.CurrentFileName);
}

// The failure that ended a command, as a value: the engine's own, or one of the system or the library,
// which ends the command as a whole.
FileFailure FailureOf(const std::exception_ptr& thrown, const std::string& path, PartwayCommand command) {
    FileFailure failure{.Cause = FailureCause::Other, .Operation = OperationOf(command), .Path = path};
    try {
        std::rethrow_exception(thrown);
    } catch (const EngineError& error) {
        return error.failure();
    } catch (const std::bad_alloc& error) {
        failure.Cause = FailureCause::OutOfMemory;
        failure.Reason = error.what();
    } catch (const std::system_error& error) {
        failure.Errno = error.code().value();
        failure.Reason = error.what();
    } catch (const std::exception& error) {
        failure.Reason = error.what();
    } catch (...) {
    }
    return failure;
}

// The command once it holds the file: what the file says of itself, a state left by an interrupted
// command finished or undone, then the pass and the trailer.
FileOutcome RunSteps(EngineUnit& unit, PartwayCommand command, ProgressDisplay& display, FileResult& result) {
    const bool encrypting = command == PartwayCommand::Encrypt;
    ThrowIfInterrupted(unit.CurrentFileName.c_str());
    bool resume = false;
    if (PartwayState found; ReadFileState(unit, found)) {
        // Until the file is whole again, it stays part-way, whatever happens on the way.
        result.PartWay = true;
        const RecoveryResult recovery = RecoverPartway(unit, found, command);
        result.Recovered = recovery.Recovered;
        result.ForeignKept = recovery.ForeignKept;
        resume = recovery.Step == RecoveryStep::Resume;
        result.PartWay = resume || recovery.Outcome == FileOutcome::InvalidKey;
        if (recovery.Step == RecoveryStep::Done)
            return recovery.Outcome;
    }
    if (!resume) {
        if (HasFileMarker(unit) == encrypting)
            return encrypting ? FileOutcome::AlreadyEncrypted : FileOutcome::NotEncrypted;
        if (!encrypting && !CheckKey(unit))
            return FileOutcome::InvalidKey;
        Begin(unit, command);
    }
    // From here a failure puts the file back as it was, as far as is safe.
    try {
        // A decryption's pass runs over the trailer too; the last step cuts it off.
        RunBlockPass(unit, &display);
        display.PassDone();
        // Once the pass is through, a caught interruption is not worth a second pass to undo it: the
        // rest takes a moment, and the command ends as it would have.
        FinishFile(unit, encrypting);
        result.PartWay = false;
    } catch (...) {
        result.Failure = FailureOf(std::current_exception(), unit.CurrentFileName, command);
        PutBack(unit, result.Failure, result.PartWay);
        return FileOutcome::Failed;
    }
    return encrypting ? FileOutcome::Encrypted : FileOutcome::Decrypted;
}

FileResult RunCommand(EngineUnit& unit, PartwayCommand command, ProgressDisplay& display) {
    FileResult result;
    const CommandHold hold(unit, result);
    if (!hold.opened()) {
        result.OpenError = unit.CurrentFile.openError();
        return result;
    }
    try {
        result.Outcome = RunSteps(unit, command, display, result);
    } catch (...) {
        result.Outcome = FileOutcome::Failed;
        result.Failure = FailureOf(std::current_exception(), unit.CurrentFileName, command);
    }
    return result;
}

} // namespace

FileResult EncryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return RunCommand(unit, PartwayCommand::Encrypt, display);
}

FileResult DecryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return RunCommand(unit, PartwayCommand::Decrypt, display);
}

} // namespace veltrane
