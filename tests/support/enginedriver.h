#pragma once
// Driving the engine from a test: a command on one file of a batch with steps slipped between its
// own, the outcome in the words a user is shown, progress displays that record or kill, a child
// process to be killed half-way, and a file-size limit that makes writes fail for real.

#include "engine/currentfile.h"
#include "engine/engineunit.h"
#include "engine/fileresult.h"
#include "engine/filesequences.h"
#include "engine/progressdisplay.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <functional>

#include <sys/resource.h>

namespace veltrane::testsupport {

enum class Command { Encrypt, Decrypt };

// One file's sequence of `command`, as the window and the tool run it.
veltrane::FileResult RunSequence(Command command, EngineUnit& unit, ProgressDisplay& display);

// An outcome and a recovery in the words of FileResult.
QString OutcomeWords(FileOutcome outcome);
QString RecoveryWords(Recovery recovery);

// What one file of a batch came to: "encrypted", "decrypted", "already encrypted", "not encrypted",
// "invalid key", "cannot open", or "failed" with the failure's message; a recovery of an interrupted
// command is added in brackets.
struct FileResult {
    QString Outcome;
    QString Message;
    bool ForeignKept = false; // it finished around bytes another program wrote, left as they are
};

// Steps a test can slip between the steps of one file's sequence.
struct Interference {
    std::function<void()> BeforePass;
    std::function<void()> AfterPass;
    CurrentFileHandle::FaultHook Hook;
};

// Runs one file's sequence on `unit` (which keeps its key, buffers and handle from file to file, as
// in a batch), with `interference` acting on this file only. A failure ends the file, not the batch.
FileResult RunOne(EngineUnit& unit, Command command, const QString& path, const Interference& interference = {},
                  ProgressDisplay* display = nullptr);

// The message of a failed command; empty for any other result.
QString FailureMessage(const veltrane::FileResult& result);

// Runs `work` in a child process and returns the signal that ended it, or 0 when it exited
// normally (-1 when the child could not be made). The child never returns into the test harness.
int RunInChild(const std::function<void()>& work);

class RecordingDisplay : public ProgressDisplay {
public:
    void MakeVisible() override { m_events.append(-1); }
    void SetProgress(int figure) override { m_events.append(figure); }
    // -1 for "made visible", else the figures in order.
    const QList<int>& events() const { return m_events; }

private:
    QList<int> m_events;
};

// Shows a pass on `shown` (none when null), running a test's steps as the pass begins (before its
// first look at the file) and once it is through (before the trailer is written or cut).
class InterferingDisplay : public ProgressDisplay {
public:
    explicit InterferingDisplay(ProgressDisplay* shown = nullptr) : m_shown(shown) {}
    void MakeVisible() override;
    void SetProgress(int figure) override;
    void PassDone() override;

    std::function<void()> BeforePass;
    std::function<void()> AfterPass;

private:
    ProgressDisplay* m_shown;
};

// A fault hook that kills its own process at the `count`-th write to the file, and one that counts
// only the writes into the first `body` bytes (those a command transforms; its state and trailer lie
// past them).
CurrentFileHandle::FaultHook KillAtWrite(int count);
CurrentFileHandle::FaultHook KillAtBodyWrite(int count, std::int64_t body);

// A file-size limit for this process, with SIGXFSZ ignored so that an over-long write fails with
// EFBIG instead of killing the test. Restored when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace veltrane::testsupport

Q_DECLARE_METATYPE(veltrane::testsupport::Command)
