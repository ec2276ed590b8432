#include "tests/support/enginedriver.h"

#include "words/failuresentence.h"

#include <QFile>

#include <cerrno>
#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace veltrane::testsupport {

QString OutcomeWords(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Encrypted:
        return QStringLiteral("encrypted");
    case FileOutcome::Decrypted:
        return QStringLiteral("decrypted");
    case FileOutcome::AlreadyEncrypted:
        return QStringLiteral("already encrypted");
    case FileOutcome::NotEncrypted:
        return QStringLiteral("not encrypted");
    case FileOutcome::InvalidKey:
        return QStringLiteral("invalid key");
    case FileOutcome::CannotOpen:
        return QStringLiteral("cannot open");
    case FileOutcome::Failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("?");
}

QString RecoveryWords(Recovery recovery) {
    switch (recovery) {
    case Recovery::None:
        return {};
    case Recovery::FinishedEncryption:
        return QStringLiteral(" (finished an interrupted encryption)");
    case Recovery::UndidEncryption:
        return QStringLiteral(" (undid an interrupted encryption)");
    case Recovery::FinishedDecryption:
        return QStringLiteral(" (finished an interrupted decryption)");
    case Recovery::UndidDecryption:
        return QStringLiteral(" (undid an interrupted decryption)");
    }
    return QStringLiteral(" (?)");
}

veltrane::FileResult RunSequence(Command command, EngineUnit& unit, ProgressDisplay& display) {
    return command == Command::Encrypt ? EncryptFile(unit, display) : DecryptFile(unit, display);
}

void InterferingDisplay::MakeVisible() {
    if (BeforePass)
        BeforePass();
    if (m_shown)
        m_shown->MakeVisible();
}

void InterferingDisplay::SetProgress(int figure) {
    if (m_shown)
        m_shown->SetProgress(figure);
}

void InterferingDisplay::PassDone() {
    if (AfterPass)
        AfterPass();
    if (m_shown)
        m_shown->PassDone();
}

FileResult RunOne(EngineUnit& unit, Command command, const QString& path, const Interference& interference,
                  ProgressDisplay* display) {
    unit.CurrentFileName = QFile::encodeName(path).toStdString();
    unit.CurrentFile.SetFaultHook(interference.Hook);
    InterferingDisplay shown(display);
    shown.BeforePass = interference.BeforePass;
    shown.AfterPass = interference.AfterPass;
    const veltrane::FileResult done = RunSequence(command, unit, shown);
    FileResult result;
    result.Outcome = OutcomeWords(done.Outcome);
    if (done.Outcome != FileOutcome::Failed)
        result.Outcome += RecoveryWords(done.Recovered);
    result.Message = FailureMessage(done);
    result.ForeignKept = done.ForeignKept;
    unit.CurrentFile.SetFaultHook({});
    return result;
}

QString FailureMessage(const veltrane::FileResult& result) {
    return result.Outcome == FileOutcome::Failed ? QString::fromStdString(FailureSentence(result, result.Failure.Path))
                                                 : QString();
}

int RunInChild(const std::function<void()>& work) {
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

CurrentFileHandle::FaultHook KillAtWrite(int count) {
    return [count, writes = 0](FileOperation operation, std::int64_t, std::size_t&) mutable {
        if (operation == FileOperation::Write && ++writes == count)
            ::raise(SIGKILL);
        return 0;
    };
}

CurrentFileHandle::FaultHook KillAtBodyWrite(int count, std::int64_t body) {
    return [count, body, writes = 0](FileOperation operation, std::int64_t position, std::size_t&) mutable {
        if (operation == FileOperation::Write && position < body && ++writes == count)
            ::raise(SIGKILL);
        return 0;
    };
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = m_saved;
    limited.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_oldHandler);
}

} // namespace veltrane::testsupport
