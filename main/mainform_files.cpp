// Loading the list of files that the next run works through: from the open dialog, by dropping
// files on the window, or from the program's arguments.

#include "main/mainform.h"

#include "main/filechooser.h"
#include "main/topendialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace veltrane {

namespace {

bool AreLocalFiles(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

// The name on disk that a dropped file's address stands for: its path's percent-encoded bytes, exact
// also where they are not UTF-8.
QByteArray NativePathOfUrl(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

} // namespace

void TMainForm::FileOpen() {
    if (m_openDialog->Execute())
        LoadFiles(m_openDialog->Files(), m_openDialog->NativeFiles());
}

void TMainForm::LoadFiles(const QStringList& files, const std::vector<std::optional<QByteArray>>& natives) {
    // The new choice replaces everything, leftovers of a run that stopped early included.
    FileList->clear();
    for (qsizetype n = 0; n < files.size(); ++n) {
        // The entry shows the name as text and keeps the bytes it stands for beside it; an entry
        // whose text stands for several names keeps none.
        auto* item = new QListWidgetItem(files[n], FileList);
        if (const std::optional<QByteArray>& native = natives[static_cast<std::size_t>(n)])
            item->setData(NativeNameRole, *native);
    }
    RepaintFileList();
    m_loadedCount = static_cast<std::int32_t>(FileList->count());
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (AreLocalFiles(event->mimeData()))
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    if (!AreLocalFiles(event->mimeData()))
        return;
    std::vector<QByteArray> natives;
    for (const QUrl& url : event->mimeData()->urls())
        natives.push_back(NativePathOfUrl(url));
    if (LoadNamedFiles(natives))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMainForm::LoadStartFiles(const std::vector<QByteArray>& natives) {
    LoadNamedFiles(natives);
}

bool TMainForm::LoadNamedFiles(const std::vector<QByteArray>& natives) {
    QStringList files;
    for (const QByteArray& native : natives) {
        const QString refusal = FileChooser::Refusal(native);
        if (!refusal.isEmpty()) {
            // Said once the event loop runs: a modal box inside a drop would hold the file manager
            // that is waiting for its end, and at start-up the window is not up yet.
            QTimer::singleShot(0, this, [this, refusal] {
                QMessageBox::warning(this, QGuiApplication::applicationDisplayName(), refusal);
            });
            return false;
        }
        files.append(QFile::decodeName(native));
    }
    LoadFiles(files, std::vector<std::optional<QByteArray>>(natives.begin(), natives.end()));
    return true;
}

} // namespace veltrane
