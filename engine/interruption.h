#pragma once
// Signals that ask the program to stop (Ctrl-C, logout, a closed terminal) must not leave a file
// half transformed. While an InterruptionGuard lives, those signals only raise a flag; the engine
// looks at it between blocks, finishes the block in hand, undoes the command on its file and ends it
// as Interrupted. When the guard goes, a signal that was caught ends the process as that signal
// would have, with the usual exit status.

#include "engine/engineerror.h"

#include <csignal>
#include <initializer_list>
#include <vector>

namespace veltrane {

class InterruptionGuard {
public:
    explicit InterruptionGuard(std::initializer_list<int> signalNumbers);
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

private:
    struct Saved {
        int Signal;
        struct sigaction Action;
    };
    std::vector<Saved> m_saved;
};

// The signal caught since the outermost guard was made, or 0.
int InterruptionSignal() noexcept;

// Throws EngineError (Interrupted) naming the file when a signal has been caught.
void ThrowIfInterrupted(const char* path);

} // namespace veltrane
