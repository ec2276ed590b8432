#include "engine/interruption.h"

#include <atomic>
#include <string>

#include <unistd.h>

namespace veltrane {

namespace {

std::atomic<int> CaughtSignal{0};
std::atomic<int> Guards{0};

void NoteSignal(int signalNumber) {
    // The first signal decides how the process ends; a second one (say, Ctrl-C pressed again while
    // the undo runs) changes nothing.
    int none = 0;
    CaughtSignal.compare_exchange_strong(none, signalNumber);
}

} // namespace

InterruptionGuard::InterruptionGuard(std::initializer_list<int> signalNumbers) {
    if (Guards.fetch_add(1) == 0)
        CaughtSignal = 0;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : signalNumbers) {
        Saved saved{signalNumber, {}};
        if (::sigaction(signalNumber, &action, &saved.Action) == 0)
            m_saved.push_back(saved);
    }
}

InterruptionGuard::~InterruptionGuard() {
    for (auto saved = m_saved.rbegin(); saved != m_saved.rend(); ++saved)
        ::sigaction(saved->Signal, &saved->Action, nullptr);
    if (Guards.fetch_sub(1) != 1)
        return;
    if (const int signalNumber = CaughtSignal.exchange(0)) {
        // End as the signal would have ended us had it not been held back.
        ::signal(signalNumber, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signalNumber);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signalNumber);
    }
}

int InterruptionSignal() noexcept {
    return CaughtSignal.load(std::memory_order_relaxed);
}

void ThrowIfInterrupted(const char* path) {
    if (InterruptionSignal() != 0)
        throw EngineError({.Cause = FailureCause::Interrupted, .Path = path, .Reason = "interrupted"});
}

} // namespace veltrane
