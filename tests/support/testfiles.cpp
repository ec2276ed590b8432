#include "tests/support/testfiles.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace veltrane::testsupport {

QByteArray ReadFile(const QByteArray& nativePath) {
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray("<cannot read>");
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            bytes.append(buffer, got);
        else if (errno != EINTR)
            break;
    }
    ::close(fd);
    return bytes;
}

QByteArray ReadFile(const QString& path) {
    return ReadFile(QFile::encodeName(path));
}

bool WriteFile(const QByteArray& nativePath, const QByteArray& bytes) {
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += put;
    }
    return ::close(fd) == 0 && done == bytes.size();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    return WriteFile(QFile::encodeName(path), bytes);
}

QByteArray Pattern(qsizetype size, std::uint32_t seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

} // namespace veltrane::testsupport
