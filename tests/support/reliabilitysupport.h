#pragma once
// Helpers of the reliability tests: the encrypted form of a file written down from the layout, a
// batch driver that treats every file the way the command-line tool does (a failure ends that
// file, not the batch), and a child process that can be killed half-way through a command.

#include "main/engine/blockpass.h"
#include "main/engine/engineerror.h"
#include "main/engine/engineunit.h"
#include "main/engine/filesequences.h"
#include "tests/enginetestsupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace reliability {

inline const QByteArray Marker = QByteArray::fromHex("2a2a06060645452a4545");

// Keystream bytes [from, from + count) of `key`.
inline QByteArray StreamRange(const QByteArray& key, qsizetype from, qsizetype count) {
    return enginetest::Keystream(key, from + count).mid(from);
}

inline QByteArray CheckBlockOf(const QByteArray& key) {
    return enginetest::Xor(Marker, enginetest::Keystream(key, 10));
}

// The encrypted form of `plain`: body, check block, marker.
inline QByteArray Encrypted(const QByteArray& plain, const QByteArray& key) {
    return enginetest::Xor(plain, enginetest::Keystream(key, plain.size())) + CheckBlockOf(key) + Marker;
}

// `bytes` with its first `count` bytes passed through the keystream once more: what a pass that
// stopped after `count` bytes leaves behind.
inline QByteArray XorPrefix(const QByteArray& bytes, const QByteArray& key, qsizetype count) {
    return enginetest::Xor(bytes.left(count), enginetest::Keystream(key, count)) + bytes.mid(count);
}

inline QByteArray FileBytes(const QString& path) {
    return enginetest::ReadFile(path);
}

inline std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

enum class Command { Encrypt, Decrypt };

// What one file of a batch came to: "encrypted", "decrypted", "already encrypted", "not encrypted",
// "invalid key", "cannot open", or "failed" with the failure's message.
struct FileResult {
    QString Outcome;
    QString Message;
};

inline QString OutcomeWords(veltrane::FileOutcome outcome) {
    switch (outcome) {
    case veltrane::FileOutcome::Encrypted:
        return QStringLiteral("encrypted");
    case veltrane::FileOutcome::Decrypted:
        return QStringLiteral("decrypted");
    case veltrane::FileOutcome::AlreadyEncrypted:
        return QStringLiteral("already encrypted");
    case veltrane::FileOutcome::NotEncrypted:
        return QStringLiteral("not encrypted");
    case veltrane::FileOutcome::InvalidKey:
        return QStringLiteral("invalid key");
    case veltrane::FileOutcome::CannotOpen:
        return QStringLiteral("cannot open");
    }
    return QStringLiteral("?");
}

inline QString RecoveryWords(veltrane::Recovery recovery) {
    switch (recovery) {
    case veltrane::Recovery::None:
        return {};
    case veltrane::Recovery::FinishedEncryption:
        return QStringLiteral(" (finished an interrupted encryption)");
    case veltrane::Recovery::UndidEncryption:
        return QStringLiteral(" (undid an interrupted encryption)");
    case veltrane::Recovery::FinishedDecryption:
        return QStringLiteral(" (finished an interrupted decryption)");
    case veltrane::Recovery::UndidDecryption:
        return QStringLiteral(" (undid an interrupted decryption)");
    }
    return QStringLiteral(" (?)");
}

// Steps a test can slip between the steps of one file's sequence.
struct Interference {
    std::function<void()> BeforePass;
    std::function<void()> AfterPass;
    veltrane::CurrentFileHandle::FaultHook Hook;
};

// Runs one file's sequence on `unit` (which keeps its key, buffers and handle from file to file, as
// in a batch), with `interference` acting on this file only.
inline FileResult RunOne(veltrane::EngineUnit& unit, Command command, const QString& path,
                         const Interference& interference = {}, veltrane::ProgressDisplay* display = nullptr) {
    unit.CurrentFileName = NativePath(path);
    unit.CurrentFile.SetFaultHook(interference.Hook);
    const auto pass = [&] {
        if (interference.BeforePass)
            interference.BeforePass();
        return veltrane::RunBlockPass(unit, display);
    };
    const auto afterPass = [&] {
        if (interference.AfterPass)
            interference.AfterPass();
    };
    FileResult result;
    try {
        const veltrane::FileOutcome outcome = command == Command::Encrypt
                                                  ? veltrane::EncryptCurrentFile(unit, pass, afterPass)
                                                  : veltrane::DecryptCurrentFile(unit, pass, afterPass);
        result.Outcome = OutcomeWords(outcome) + RecoveryWords(unit.LastRecovery);
    } catch (const veltrane::EngineError& failure) {
        result.Outcome = QStringLiteral("failed");
        result.Message = QString::fromStdString(failure.what());
    }
    unit.CurrentFile.SetFaultHook({});
    return result;
}

// Runs `work` in a child process and returns the signal that ended it, or 0 when it exited
// normally (-1 when the child could not be made). The child never returns into the test harness.
inline int RunInChild(const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// A progress display that kills its own process when the pass reports block `killAtBlock`, that
// is before that block is written back: the file then holds (killAtBlock - 1) whole blocks done.
class KillingDisplay : public veltrane::ProgressDisplay {
public:
    explicit KillingDisplay(int killAtBlock) : m_killAtBlock(killAtBlock) {}
    void MakeVisible() override {}
    void SetProgress(int) override {
        if (++m_blocks == m_killAtBlock)
            ::raise(SIGKILL);
    }

private:
    int m_killAtBlock;
    int m_blocks = 0;
};

} // namespace reliability
