#pragma once
// The outcome of encrypting or decrypting one file. Unexpected failures are EngineError instead.

namespace veltrane {

enum class FileOutcome {
    Encrypted,
    AlreadyEncrypted,
    Decrypted,
    NotEncrypted,
    InvalidKey,
    CannotOpen,
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

} // namespace veltrane
