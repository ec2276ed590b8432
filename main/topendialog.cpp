#include "main/topendialog.h"

#include "main/filechooser.h"
#include "main/nativepath.h"
#include "main/portalfilechooser.h"

#include <QFile>
#include <QMessageBox>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

const QString TOpenDialog::FilterText = QStringLiteral("All Files (*)");

TOpenDialog::TOpenDialog(QWidget* parent) : QObject(parent), m_parentWidget(parent) {
    setObjectName(QStringLiteral("OpenDialog"));
}

bool TOpenDialog::Execute() {
    m_files.clear();
    m_nativeFiles.clear();
    QStringList files;
    std::vector<std::optional<QByteArray>> natives;
    if (m_chooser) {
        const std::optional<QStringList> chosen = m_chooser(m_parentWidget, m_fileName);
        if (!chosen)
            return false;
        files = *chosen;
        // The program's chooser never returns a read-only file; a stand-in's choice gets the same rule.
        for (const QString& path : files) {
            natives.push_back(NativePathOf(path));
            if (natives.back() && IsReadOnly(*natives.back()))
                return false;
        }
    } else {
        const auto chosen = ShowFileDialog(m_parentWidget, m_nativeFileName.value_or(QByteArray()));
        if (!chosen)
            return false;
        for (const QByteArray& native : *chosen) {
            files.append(QFile::decodeName(native));
            natives.emplace_back(native);
        }
    }
    if (files.isEmpty())
        return false;
    m_files = std::move(files);
    m_nativeFiles = std::move(natives);
    m_fileName = m_files.first();
    m_nativeFileName = m_nativeFiles.front();
    return true;
}

bool TOpenDialog::IsReadOnly(const QString& path) {
    const std::optional<QByteArray> native = NativePathOf(path);
    return native && IsReadOnly(*native);
}

bool TOpenDialog::IsReadOnly(const QByteArray& native) {
    struct stat status {};
    if (::stat(native.constData(), &status) != 0)
        return false; // a missing file is the existence rule's business, not this one's
    if ((status.st_mode & S_IWUSR) == 0)
        return true;
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : native.left(slash == 0 ? 1 : slash);
    return ::access(folder.constData(), W_OK) != 0;
}

std::optional<std::vector<QByteArray>> TOpenDialog::ShowFileDialog(QWidget* parent, const QByteArray& nativeFileName) {
    if (PortalFileChooser::Available()) {
        QByteArray folder = nativeFileName.isEmpty()
                                ? FileChooser::StartFolder()
                                : nativeFileName.left(std::max<qsizetype>(nativeFileName.lastIndexOf('/'), 1));
        for (;;) {
            PortalFileChooser portal;
            const std::optional<std::vector<QByteArray>> natives = portal.Choose(parent, folder);
            if (!natives)
                break; // no answer: the program's own chooser takes over
            if (natives->empty())
                return std::nullopt;
            // The same rules as in the program's own chooser: a refused choice is said, and choosing
            // starts again where it was.
            QString refusal;
            for (const QByteArray& native : *natives) {
                refusal = FileChooser::Refusal(native);
                if (!refusal.isEmpty()) {
                    folder = native.left(std::max<qsizetype>(native.lastIndexOf('/'), 1));
                    break;
                }
            }
            if (!refusal.isEmpty()) {
                QMessageBox::warning(parent, QStringLiteral("Open"), refusal);
                continue;
            }
            return natives;
        }
    }
    FileChooser dialog(parent);
    dialog.SelectFile(nativeFileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Chosen();
}

} // namespace veltrane
