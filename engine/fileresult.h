#pragma once
// What one file's command came to, as a value: the outcome, what it did about an earlier command on
// the file that was interrupted, how it left the file, and for a failure what failed and why.

#include <cstdint>
#include <string>

namespace veltrane {

enum class FileOutcome {
    Encrypted,
    AlreadyEncrypted,
    Decrypted,
    NotEncrypted,
    InvalidKey,
    CannotOpen,
    Failed, // FileResult::Failure says what failed
};

// What a command found left by an earlier command on the same file that was interrupted, and did
// about it on its way to its own outcome.
enum class Recovery {
    None,
    FinishedEncryption, // completed it: the file is now encrypted
    UndidEncryption,    // put the file back as it was before it: plain again
    FinishedDecryption, // completed it: the file is now plain
    UndidDecryption,    // put the file back as it was before it: encrypted again
};

enum class FailureCause {
    Engine,      // a step on the file failed, or the engine refused to go on with it
    Changed,     // another program changed the file meanwhile (FileFailure::Change says how)
    Interrupted, // a signal asked the program to stop (see interruption.h)
    OutOfMemory,
    Other, // anything else the system or the library threw; Reason is what it said
};

// What failed: an operation on the file, or the command as a whole.
enum class FailedOperation { Read, Write, Sync, Truncate, Seek, GetSize, GetState, GoOn, WorkOn, Encrypt, Decrypt };

// What another program did to the open file behind this program's back.
enum class FileChange { Shorter, Longer, Rewritten, Renamed, Replaced, Deleted };

// How a failed command left its file, beyond FileResult::PartWay.
enum class FileLeft {
    NotSaid,             // the failure came before the command had changed anything
    Unchanged,           // nothing had changed, or what had was given back
    AsItIs,              // refused: the file keeps what it carried
    Restored,            // put back as it was before the command
    WholeResult,         // done, but the disk did not confirm that the result is stored
    RestoreFailed,       // putting it back failed too (UndoReason): part-way
    NoneChanged,         // another program added to it before any of its bytes had changed
    PutBackFailed,       // another program added to it, and putting it back failed (UndoReason)
    PutBackBeforeAdded,  // its own bytes put back; AddedBytes past AddedAfter blanked, still there
    NotWrittenUnchanged, // another program changed it: not written further, none of its bytes changed
    NotWrittenAsItIs,    // another program changed it: not written further, left as it is now
    NotWrittenPartWay,   // another program wrote to it: left part-way, for PartWayThrough to finish
    RecoveryPartWay,     // the interrupted command (PartWayThrough) could not be finished or undone
};

struct FileFailure {
    FailureCause Cause = FailureCause::Engine;
    FailedOperation Operation = FailedOperation::Read;
    std::string Path{};
    int Errno = 0;
    // The system's reason alone ("no space left on device"), the engine's, or what an unforeseen
    // failure said.
    std::string Reason{};
    FileChange Change = FileChange::Rewritten; // for Changed
    FileLeft Left = FileLeft::NotSaid;
    std::string UndoReason{};                                  // why putting the file back failed, if known
    std::int64_t AddedBytes = 0;                               // for PutBackBeforeAdded
    std::int64_t AddedAfter = 0;                               // for PutBackBeforeAdded
    FailedOperation PartWayThrough = FailedOperation::Encrypt; // Encrypt or Decrypt
};

struct FileResult {
    FileOutcome Outcome = FileOutcome::CannotOpen;
    Recovery Recovered = Recovery::None;
    // It finished an interrupted command around bytes another program had written meanwhile, and left
    // them as that program wrote them.
    bool ForeignKept = false;
    // The file still carries its state for a later command: an interrupted one that this command could
    // not finish or undo (a wrong key, a refusal), or its own, which a failure left part-way.
    bool PartWay = false;
    std::string OpenError; // for CannotOpen: why, in a few lower-case words
    FileFailure Failure;   // for Failed
};

} // namespace veltrane
