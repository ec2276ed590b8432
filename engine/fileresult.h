#pragma once
// What one file's command came to, as a value: the outcome, what it did about an earlier command on
// the file that was interrupted, how it left the file, and for a failure what failed and why.

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
    Changed,     // another program changed the file meanwhile
    Interrupted, // a signal asked the program to stop (see interruption.h)
    OutOfMemory,
    Other, // anything else the system or the library threw; Reason is what it said
};

struct FileFailure {
    FailureCause Cause = FailureCause::Engine;
    std::string Path;
    int Errno = 0;
    // The system's reason alone ("no space left on device"), or what an unforeseen failure said.
    std::string Reason;
    std::string Message;
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
