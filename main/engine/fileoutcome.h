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

} // namespace veltrane
