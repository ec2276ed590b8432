#include "main/topendialog.h"

#include "main/nativepath.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <sys/stat.h>
#include <unistd.h>

namespace veltrane {

const QString TOpenDialog::FilterText = QStringLiteral("All Files (*)");

namespace {

// Refuses OK while any chosen file is read-only and keeps the dialog open, so the user can choose
// again, as the system dialog of the original platform does.
class RefusingFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        for (const QString& path : selectedFiles()) {
            if (TOpenDialog::IsReadOnly(path)) {
                QMessageBox::warning(this, windowTitle(), TOpenDialog::ReadOnlyRefusal(path));
                return;
            }
        }
        QFileDialog::accept();
    }
};

} // namespace

TOpenDialog::TOpenDialog(QWidget* parent) : QObject(parent), m_parentWidget(parent) {
    setObjectName(QStringLiteral("OpenDialog"));
}

bool TOpenDialog::Execute() {
    m_files.clear();
    m_nativeFiles.clear();
    const std::optional<QStringList> chosen =
        m_chooser ? m_chooser(m_parentWidget, m_fileName) : ShowFileDialog(m_parentWidget, m_fileName);
    if (!chosen || chosen->isEmpty())
        return false;
    std::vector<std::optional<QByteArray>> natives;
    natives.reserve(static_cast<std::size_t>(chosen->size()));
    for (const QString& path : *chosen)
        natives.push_back(NativePathOf(path));
    // The system chooser never returns a read-only file; a stand-in's choice gets the same rule.
    for (const std::optional<QByteArray>& native : natives) {
        if (IsReadOnly(native))
            return false;
    }
    m_files = *chosen;
    m_nativeFiles = std::move(natives);
    m_fileName = m_files.first();
    return true;
}

bool TOpenDialog::IsReadOnly(const QString& path) {
    return IsReadOnly(NativePathOf(path));
}

bool TOpenDialog::IsReadOnly(const std::optional<QByteArray>& native) {
    struct stat status {};
    if (!native || ::stat(native->constData(), &status) != 0)
        return false; // a missing file is the existence rule's business, not this one's
    if ((status.st_mode & S_IWUSR) == 0)
        return true;
    const qsizetype slash = native->lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : native->left(slash == 0 ? 1 : slash);
    return ::access(folder.constData(), W_OK) != 0;
}

QString TOpenDialog::ReadOnlyRefusal(const QString& path) {
    return QStringLiteral("%1\nThis file is read-only or lies in a write-protected folder.\nChoose another file.")
        .arg(QDir::toNativeSeparators(path));
}

std::optional<QStringList> TOpenDialog::ShowFileDialog(QWidget* parent, const QString& fileName) {
    RefusingFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(FilterText);
    // Our own dialog class refuses read-only files; a platform dialog would bypass it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QStringList files;
    for (const QString& path : dialog.selectedFiles())
        files.append(QFileInfo(path).absoluteFilePath());
    return files;
}

} // namespace veltrane
