// The Encrypt and Decrypt commands: key check, then one turn per loaded file, each taking the first
// list entry, testing that the file exists and encrypting or decrypting it in place.

#include "main/mainform.h"

#include "engine/fileexists.h"
#include "engine/filesequences.h"
#include "engine/interruption.h"
#include "engine/keybytes.h"
#include "gauge/tgauge.h"
#include "main/gaugeprogressdisplay.h"
#include "main/runeventpump.h"
#include "main/windowphrases.h"
#include "words/failuresentence.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <stdexcept>
#include <string>

namespace veltrane {

namespace {

// What the error display says of a failed command (and the run it ends): the engine's sentence, or
// what an unforeseen failure said.
std::string FailureText(const FileResult& result) {
    const FileFailure& failure = result.Failure;
    if (failure.Cause != FailureCause::OutOfMemory && failure.Cause != FailureCause::Other)
        return FailureSentence(result, failure.Path);
    return failure.Reason.empty() ? "Unknown failure" : failure.Reason;
}

} // namespace

void TMainForm::BeginRun() {
    m_runPump = std::make_unique<RunEventPump>();
    m_gaugeDisplay->setPump(m_runPump.get());
}

void TMainForm::EndRun() {
    m_gaugeDisplay->setPump(nullptr);
    // The held close requests are carried out after the handlers that waited, in the order they came.
    std::vector<std::function<void()>> waiting = std::move(m_waitingHandlers);
    m_waitingHandlers.clear();
    for (const std::function<void()>& handler : waiting)
        QTimer::singleShot(0, this, [this, handler] { Handle(handler); });
    m_runPump.reset();
    if (m_heldStatus) {
        StatusText->setText(*m_heldStatus);
        m_heldStatus.reset();
    }
    // The event loop draws the line once more, as it stands after the run.
    StatusText->update();
}

bool TMainForm::TakeFirstEntry() {
    // Each entry carries the bytes of its file's name, unless its text stands for several names.
    const QVariant native = FileList->item(0)->data(NativeNameRole);
    const bool known = native.isValid();
    m_unit.CurrentFileName = native.toByteArray().toStdString();
    delete FileList->takeItem(0);
    RepaintFileList();
    RepaintOwnSurface();
    return known;
}

FileResult TMainForm::Algorithm(bool encrypting, const QString& completionPhrase) {
    // The completion phrase shows at once, and the gauge goes for the next file.
    m_gaugeDisplay->setPassDone([this, completionPhrase] {
        SetStatus(completionPhrase, true);
        PutGaugeAway();
    });
    return encrypting ? EncryptFile(m_unit, *m_gaugeDisplay) : DecryptFile(m_unit, *m_gaugeDisplay);
}

void TMainForm::PutGaugeAway() {
    PercentDoneGauge->setVisible(false);
    PercentDoneGauge->setProgress(0);
}

bool TMainForm::TakeKeyText() {
    const QString key = KeyBox->text();
    if (key.isEmpty() || key != VKeyBox->text()) {
        SetStatus(KeysPhrase, false);
        return false;
    }
    QByteArray keyText = key.toUtf8();
    m_unit.KeyText = KeyBytesFromUtf8(std::string_view(keyText.constData(), static_cast<std::size_t>(keyText.size())));
    // The engine's copy is in secret memory; this one goes before the heap hands its bytes on.
    ::explicit_bzero(keyText.data(), static_cast<std::size_t>(keyText.size()));
    return true;
}

void TMainForm::RunTurns(const std::function<FileResult()>& fileStep) {
    if (m_loadedCount <= 0) {
        m_loadedCount = 0;
        return;
    }
    // A run never takes more turns than the list holds: after a run that stopped early the list
    // is shorter than the count of the last loading.
    for (std::int32_t turn = m_loadedCount; turn > 0 && FileList->count() > 0; --turn) {
        // Asked to stop between two files: begin no other (the run's guard then ends the program).
        if (InterruptionSignal() != 0)
            return;
        if (!TakeFirstEntry()) {
            // Which file the entry means cannot be told, so none is touched.
            SetStatus(CannotOpenPhrase, false);
            continue;
        }
        if (!FileExists(m_unit.CurrentFileName)) {
            SetStatus(NoFilePhrase, false);
            return;
        }
        const FileResult result = fileStep();
        if (result.Outcome == FileOutcome::Failed)
            throw std::runtime_error(FailureText(result));
        if (const QString* phrase = OutcomePhrase(result.Outcome))
            SetStatus(*phrase, false);
        if (const QString* phrase = RecoveryPhrase(result.Recovered))
            SetStatus(*phrase, true);
    }
    m_loadedCount = 0;
}

void TMainForm::RunTurns(const QString& stoppedPhrase, const std::function<FileResult()>& fileStep) {
    try {
        RunTurns(fileStep);
    } catch (...) {
        m_unit.EndRunKeystream();
        // The error display tells what happened; the window must not go on looking busy behind it.
        PutGaugeAway();
        SetStatus(stoppedPhrase, true);
        throw;
    }
    // The stream kept for the files of the run is wiped once the run is over.
    m_unit.EndRunKeystream();
}

// During a run, a signal that asks the program to stop (logout, a closed terminal, Ctrl-C) lets the
// file in hand be put back as it was; the program then ends by that signal as the guard goes.
void TMainForm::EncryptButtonClick() {
    const InterruptionGuard interruption({SIGTERM, SIGHUP, SIGINT});
    BeginRun();
    const auto ended = qScopeGuard([this] { EndRun(); });
    SetStatus(EncryptingPhrase, true);
    if (!TakeKeyText())
        return;
    RunTurns(EncryptionStoppedPhrase, [this] { return Algorithm(true, EncryptionCompletePhrase); });
}

void TMainForm::DecryptButtonClick() {
    const InterruptionGuard interruption({SIGTERM, SIGHUP, SIGINT});
    BeginRun();
    const auto ended = qScopeGuard([this] { EndRun(); });
    if (!TakeKeyText())
        return;
    RunTurns(DecryptionStoppedPhrase, [this] {
        SetStatus(DecryptingPhrase, true);
        return Algorithm(false, DecryptionCompletePhrase);
    });
}

} // namespace veltrane
