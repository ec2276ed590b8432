#include "main/windowphrases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <iterator>

namespace veltrane {

namespace {

const QString FinishedEncryptionPhrase = Padded("Interrupted Encryption Completed!", 54);
const QString UndidEncryptionPhrase = Padded("Interrupted Encryption Undone!", 54);
const QString FinishedDecryptionPhrase = Padded("Interrupted Decryption Completed!", 54);
const QString UndidDecryptionPhrase = Padded("Interrupted Decryption Undone!", 54);

// Names beyond these are counted, not listed: the status line has room for three or four lines.
constexpr std::size_t NamedFiles = 3;

// A folder as the user knows it: the home folder and what lies in it start with "~".
QString ShownFolder(const QString& folder) {
    const QString home = QDir::homePath();
    if (home.size() > 1 && (folder == home || folder.startsWith(home + QLatin1Char('/'))))
        return QLatin1Char('~') + folder.mid(home.size());
    return folder;
}

} // namespace

const QString* OutcomePhrase(FileOutcome outcome) {
    // By FileOutcome; InvalidKey for Encrypt means the key of an interrupted command on the file.
    static const QString* const phrases[] = {nullptr,           &AlreadyEncryptedPhrase, nullptr, &NotEncryptedPhrase,
                                             &InvalidKeyPhrase, &CannotOpenPhrase,       nullptr};
    static_assert(std::size(phrases) == static_cast<std::size_t>(FileOutcome::Failed) + 1);
    return phrases[static_cast<std::size_t>(outcome)];
}

const QString* RecoveryPhrase(Recovery recovery) {
    // By Recovery.
    static const QString* const phrases[] = {nullptr, &FinishedEncryptionPhrase, &UndidEncryptionPhrase,
                                             &FinishedDecryptionPhrase, &UndidDecryptionPhrase};
    static_assert(std::size(phrases) == static_cast<std::size_t>(Recovery::UndidDecryption) + 1);
    return phrases[static_cast<std::size_t>(recovery)];
}

QString InterruptedNotice(const std::vector<InterruptedFile>& files) {
    if (files.empty())
        return {};
    QStringList named;
    for (std::size_t n = 0; n < files.size() && n < NamedFiles; ++n) {
        const InterruptedFile& file = files[n];
        const QFileInfo path(QFile::decodeName(QByteArray::fromStdString(file.Path)));
        named << QStringLiteral("%1 in %2 (%3, %4%)")
                     .arg(path.fileName(), ShownFolder(path.path()),
                          file.Command == PartwayCommand::Encrypt ? QStringLiteral("encrypting")
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
