#pragma once
// Test files: whole-file reads and writes by a name's bytes, which need not be text in any
// encoding (the QString forms take the name Qt would give the system), and deterministic content.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace veltrane::testsupport {

// The file's bytes, or "<cannot read>" when it cannot be opened.
QByteArray ReadFile(const QByteArray& nativePath);
QByteArray ReadFile(const QString& path);
// Creates or empties the file (mode 0644 when created) and writes `bytes`; false on any failure.
bool WriteFile(const QByteArray& nativePath, const QByteArray& bytes);
bool WriteFile(const QString& path, const QByteArray& bytes);

// Deterministic bytes that are not all alike, so that a wrongly placed block shows.
QByteArray Pattern(qsizetype size, std::uint32_t seed = 1);

} // namespace veltrane::testsupport
