#include "main/engine/filesequences.h"

#include "main/engine/blockpass.h"
#include "main/engine/engineerror.h"
#include "main/engine/filelayout.h"

namespace veltrane {

FileOutcome EncryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    unit.CurrentFile.Bind(unit.CurrentFileName);
    // One open finds the marker and reserves room for the trailer, so that a full disk or a
    // file-size limit refuses the file before a single byte changes.
    const MarkerProbe probe = ProbeFile(unit, TrailerSize);
    if (probe.State == MarkerState::CannotOpen)
        return FileOutcome::CannotOpen;
    if (probe.State == MarkerState::Present)
        return FileOutcome::AlreadyEncrypted;
    if (!probe.Reserved)
        throw EngineError("Cannot encrypt \"" + unit.CurrentFileName + "\": " + probe.Reason +
                              "; the file was left unchanged",
                          probe.Reason);

    pass();
    // The pass leaves the file open; closed, it could not open it and changed nothing.
    if (!unit.CurrentFile.isOpen())
        return FileOutcome::CannotOpen;
    const std::int64_t bodyLength = unit.FileLength;

    try {
        afterPass();
        MakeCheckBlock(unit);
        AppendTrailer(unit);
    } catch (const EngineError& failure) {
        throw EngineError(failure.what() + RestoreFile(unit, bodyLength, bodyLength), failure.reason());
    } catch (...) {
        RestoreFile(unit, bodyLength, bodyLength);
        throw;
    }
    return FileOutcome::Encrypted;
}

FileOutcome DecryptCurrentFile(EngineUnit& unit, const PassStep& pass, const AfterPassStep& afterPass) {
    unit.CurrentFile.Bind(unit.CurrentFileName);
    switch (TestFileMarker(unit)) {
    case MarkerState::CannotOpen:
        return FileOutcome::CannotOpen;
    case MarkerState::Absent:
        return FileOutcome::NotEncrypted;
    case MarkerState::Present:
        break;
    }
    switch (CheckKeyOfFile(unit)) {
    case KeyCheck::CannotOpen:
        return FileOutcome::CannotOpen;
    case KeyCheck::Invalid:
        return FileOutcome::InvalidKey;
    case KeyCheck::Valid:
        break;
    }

    pass();
    if (!unit.CurrentFile.isOpen())
        return FileOutcome::CannotOpen;
    // The pass ran over the trailer too; undoing it means transforming the whole file again.
    const std::int64_t encryptedLength = unit.FileLength;

    try {
        afterPass();
        RemoveTrailer(unit);
    } catch (const EngineError& failure) {
        throw EngineError(failure.what() + RestoreFile(unit, encryptedLength, encryptedLength), failure.reason());
    } catch (...) {
        RestoreFile(unit, encryptedLength, encryptedLength);
        throw;
    }
    return FileOutcome::Decrypted;
}

FileOutcome EncryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return EncryptCurrentFile(
        unit, [&] { RunBlockPass(unit, &display); }, [] {});
}

FileOutcome DecryptFile(EngineUnit& unit, ProgressDisplay& display) {
    return DecryptCurrentFile(
        unit, [&] { RunBlockPass(unit, &display); }, [] {});
}

} // namespace veltrane
