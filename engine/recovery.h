#pragma once
// Finishing or undoing a command that a file was left part-way through (the process killed or
// crashed, the machine stopped), from the state the file carries (partwaystate.h) and the key alone:
// the next Encrypt of the file gives the complete encrypted file, the next Decrypt the plain file,
// whichever way the interrupted command was going. Nothing outside the file decides anything. The
// same steps put a file back after a failure of the command in hand.

#include "engine/engineunit.h"
#include "engine/fileresult.h"
#include "engine/partwaystate.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane {

enum class RecoveryStep {
    Fresh,  // the file is back as it was before the interrupted command: go on as usual
    Resume, // the interrupted pass goes on from unit.Partway.High: run the pass and finish the command
    Done,   // nothing more to do: the outcome is final
};

struct RecoveryResult {
    RecoveryStep Step = RecoveryStep::Fresh;
    FileOutcome Outcome = FileOutcome::CannotOpen; // for Done
    Recovery Recovered = Recovery::None;
    bool ForeignKept = false; // it goes on around bytes another program wrote, leaving them as they are
};

// The command as the operation a failure names.
FailedOperation OperationOf(PartwayCommand command);

// The state unit.CurrentFile (open and locked) carries, if any. Throws EngineError, changing nothing,
// for a file whose end is a damaged state.
bool ReadFileState(EngineUnit& unit, PartwayState& state);

// Acts on `found` for `command` under unit.KeyText: a wrong key gives InvalidKey and changes nothing;
// a file that no longer matches its state (bytes changed since, by another program or a failing disk)
// is left as it is with EngineError.
RecoveryResult RecoverPartway(EngineUnit& unit, const PartwayState& found, PartwayCommand command);

// The last step of a command once every byte of the body is in one form (`enciphered` or not): the
// trailer written or cut off, the state cut off, each waited for where the command is durable. Makes
// sure first that no other program has changed the file; `thorough` also that none renamed, replaced
// or wrote to it (an undo after such a change does without).
void FinishFile(EngineUnit& unit, bool enciphered, bool thorough = true);

// Puts the file of a command that failed once its state was readied back as it was before the
// command, from the state it carries, and says in `failure` how the file was left. A file that another
// program cut, grew or wrote to is not written further (a file grown at its end is put back, but keeps
// what was added); a file that cannot be put back keeps its state for a later command, and `partWay`
// says so.
void PutBack(EngineUnit& unit, FileFailure& failure, bool& partWay);

// A file left part-way through a command, as the notes and the files themselves tell.
struct InterruptedFile {
    std::string Path;
    PartwayCommand Command = PartwayCommand::Encrypt;
    int Percent = 0;      // how far the interrupted pass had got
    bool Undoing = false; // it was being put back after a failure
    bool Damaged = false; // the file ends in a state that cannot be read
    bool Legacy = false;  // named by the store of an earlier version, which cannot be acted on
};

// What a file at `path` carries, read without a lock: true and `file` filled when it is part-way.
bool InterruptedFileAt(const std::string& path, InterruptedFile& file);

// Every file left part-way that the notes name, and the files named by an earlier version's store
// (once). Notes whose files no longer carry a state are dropped on the way.
std::vector<InterruptedFile> InterruptedFiles(const InterruptionHints& hints);

} // namespace veltrane
