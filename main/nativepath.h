#pragma once
// File names are bytes on Linux, but the file dialog and the list hold text. A name that is not
// valid UTF-8 comes back from the dialog with replacement characters, and turning that text into
// bytes again names a different file, or none. These functions find the bytes that such a text
// stands for.

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltrane {

// The name on disk that `path` (absolute, as the dialog gives it) stands for. Text without a
// replacement character is simply encoded. Each component that has one is looked up among the
// entries of its folder: if exactly one entry reads as that text, its bytes are used; if none
// does, the encoded text (which then names no file, and the run reports it missing). Returns
// nothing when two or more entries read as the same text, so that the choice cannot be known.
std::optional<QByteArray> NativePathOf(const QString& path);

} // namespace veltrane
