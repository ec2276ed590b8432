#pragma once
// Small helpers shared by the engine's tests: test files, a recording progress display, and a
// file-size limit that makes writes fail for real.

#include "main/engine/keystream.h"
#include "main/engine/progressdisplay.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <csignal>
#include <cstdint>
#include <vector>

#include <sys/resource.h>

namespace enginetest {

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read>");
    return file.readAll();
}

// Deterministic bytes that are not all alike, so that a wrongly placed block shows.
inline QByteArray Pattern(qsizetype size, std::uint32_t seed = 1) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

inline std::vector<std::uint8_t> Key(const QByteArray& text) {
    return {text.begin(), text.end()};
}

// Keystream bytes 0..count-1 of a key, stepped one by one as the format defines them.
inline QByteArray Keystream(const QByteArray& key, qsizetype count) {
    veltrane::KeystreamGenerator generator;
    generator.ScheduleKey(Key(key));
    QByteArray stream(count, Qt::Uninitialized);
    for (qsizetype n = 0; n < count; ++n)
        stream[n] = static_cast<char>(generator.NextKeyByte(static_cast<std::uint8_t>(n % 256)));
    return stream;
}

inline QByteArray Xor(QByteArray bytes, const QByteArray& stream) {
    for (qsizetype n = 0; n < bytes.size(); ++n)
        bytes[n] = static_cast<char>(bytes[n] ^ stream[n]);
    return bytes;
}

class RecordingDisplay : public veltrane::ProgressDisplay {
public:
    void MakeVisible() override { Events.append(-1); }
    void SetProgress(int figure) override { Events.append(figure); }
    QList<int> Events; // -1 for "made visible", else the figures in order
};

// A file-size limit for this process, with SIGXFSZ ignored so that an over-long write fails with
// EFBIG instead of killing the test. Restored when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &Saved);
        OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = Saved;
        limited.rlim_cur = bytes;
        Active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, OldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return Active; }

private:
    rlimit Saved{};
    void (*OldHandler)(int) = nullptr;
    bool Active = false;
};

} // namespace enginetest
