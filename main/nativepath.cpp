#include "main/nativepath.h"

#include <QFile>

#include <dirent.h>

#include <memory>

namespace veltrane {

namespace {

constexpr QChar Replacement(0xFFFD);

// The entries of `folder` that read as `name`; stops counting at two.
int MatchingEntries(const QByteArray& folder, const QString& name, QByteArray& match) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray bytes(entry->d_name);
        if (QFile::decodeName(bytes) != name)
            continue;
        match = bytes;
        if (++count == 2)
            break;
    }
    return count;
}

} // namespace

std::optional<QByteArray> NativePathOf(const QString& path) {
    if (!path.contains(Replacement))
        return QFile::encodeName(path);

    QByteArray resolved;
    const QStringList components = path.split(QLatin1Char('/'));
    for (qsizetype n = 0; n < components.size(); ++n) {
        const QString& component = components[n];
        if (n > 0)
            resolved += '/';
        if (!component.contains(Replacement)) {
            resolved += QFile::encodeName(component);
            continue;
        }
        // The folder read so far: the root for "/x", the working folder for a relative first part.
        const QByteArray folder = n == 0 ? QByteArray(".") : n == 1 && resolved == "/" ? resolved : resolved.chopped(1);
        QByteArray match;
        const int count = MatchingEntries(folder, component, match);
        if (count >= 2)
            return std::nullopt;
        resolved += count == 1 ? match : QFile::encodeName(component);
    }
    return resolved;
}

} // namespace veltrane
