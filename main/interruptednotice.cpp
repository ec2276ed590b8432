#include "main/interruptednotice.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace veltrane {

namespace {

// Names beyond these are counted, not listed: the status line has room for three or four lines.
constexpr std::size_t NamedFiles = 3;

} // namespace

QString InterruptedNotice(const std::vector<InterruptedFile>& files) {
    if (files.empty())
        return {};
    QStringList named;
    for (std::size_t n = 0; n < files.size() && n < NamedFiles; ++n) {
        const InterruptedFile& file = files[n];
        const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(file.Path))).fileName();
        named << QStringLiteral("%1 (%2, %3%)")
                     .arg(name, file.Command == PartwayCommand::Encrypt ? QStringLiteral("encrypting")
                                                                       : QStringLiteral("decrypting"))
                     .arg(file.Percent);
    }
    QString list = named.join(QStringLiteral(", "));
    if (files.size() > NamedFiles)
        list += QStringLiteral(" and %1 more").arg(files.size() - NamedFiles);
    return QStringLiteral("Interrupted earlier: %1.\nLoad %2 and press Encrypt or Decrypt with the same key to "
                          "finish or undo %2.")
        .arg(list, files.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

} // namespace veltrane
