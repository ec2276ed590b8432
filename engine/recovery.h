#pragma once
// Finishing or undoing a command on a file that was interrupted part-way (killed, crashed), from the
// progress record it left: the next Encrypt of the file with the same key gives the complete encrypted
// file, the next Decrypt gives the plain file, whichever way the interrupted command was going. A
// recovery is itself recorded as it goes, so a kill during it is recoverable too.

#include "engine/engineunit.h"
#include "engine/fileoutcome.h"
#include "engine/progressrecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane {

enum class RecoveryStep {
    None,   // no record: the command goes on as usual
    Fresh,  // the file is back as it was before the interrupted command: go on as usual
    Resume, // the interrupted pass goes on from unit.Resume: run the pass and finish the command
    Done,   // nothing more to do: the outcome is final
};

struct RecoveryResult {
    RecoveryStep Step = RecoveryStep::None;
    FileOutcome Outcome = FileOutcome::CannotOpen; // for Done
};

// Looks for a record left on unit.CurrentFile (open and locked) and acts on it for `command`, under
// unit.KeyText: a wrong key gives InvalidKey and changes nothing. Sets unit.LastRecovery. A file that
// does not match its record (size, times, pages) is left alone with EngineError, and so is the record.
RecoveryResult RecoverInterrupted(EngineUnit& unit, RecordCommand command);

// A file left part-way through an interrupted command, as the records tell.
struct InterruptedFile {
    std::string Path; // the name it had; it may have been renamed since
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    RecordCommand Command = RecordCommand::Encrypt;
    int Percent = 0;          // how far the interrupted pass had got
    bool FoundByName = false; // the name still leads to that file
};

// Every file left interrupted, for the user to be told (the window at start-up, `veltrane-cli status`).
std::vector<InterruptedFile> InterruptedFiles(ProgressRecord& records);

} // namespace veltrane
