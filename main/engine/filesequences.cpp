#include "main/engine/filesequences.h"

#include "main/engine/blockpass.h"
#include "main/engine/engineerror.h"
#include "main/engine/filelayout.h"

#include <string>

namespace veltrane {

namespace {

// Holds the file open and locked for one command, and lets go of it however the command ends.
class CommandHold {
public:
    explicit CommandHold(EngineUnit& unit) : m_unit(unit) {
        m_unit.Undo = {};
        m_unit.CurrentFile.Bind(m_unit.CurrentFileName);
        m_opened = m_unit.CurrentFile.Open();
    }
    ~CommandHold() {
        m_unit.Undo = {};
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

// The steps after a completed pass; on a failure the whole pass is undone.
void FinishAfterPass(EngineUnit& unit, const AfterPassStep& afterPass, void (*finish)(EngineUnit&)) {
    try {
        afterPass();
        finish(unit);
    } catch (...) {
        unit.Undo.TransformedEnd = unit.FileLength;
        UndoAndRethrow(unit);
    }
}

} // namespace

FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    if (HasFileMarker(unit))
        return FileOutcome::AlreadyEncrypted;
    // A full disk or a file-size limit refuses the file before a single byte changes.
    ReserveRoom(unit, TrailerSize, "encrypt");
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, [](EngineUnit& u) {
        MakeCheckBlock(u);
        AppendTrailer(u);
    });
    return FileOutcome::Encrypted;
}

FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    const CommandHold hold(unit);
    if (!hold.opened())
        return FileOutcome::CannotOpen;
    if (!HasFileMarker(unit))
        return FileOutcome::NotEncrypted;
    if (!CheckKey(unit))
        return FileOutcome::InvalidKey;
    ReserveRoom(unit, 0, "decrypt");
    // The pass runs over the trailer too; undoing it means transforming the whole file again.
    if (!pass())
        return FileOutcome::CannotOpen;
    FinishAfterPass(unit, afterPass, RemoveTrailer);
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
