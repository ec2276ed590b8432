#pragma once
// The open-file dialog of the main window: several existing files at once, one filter "All Files",
// read-only files refused, and the first file of the previous choice pre-filled the next time.
// It is the desktop's own chooser where the desktop has one (through the desktop portal), and
// otherwise the program's own (FileChooser). The modal showing itself is replaceable so that tests
// can stand in for the user.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace veltrane {

class TOpenDialog : public QObject {
    Q_OBJECT

public:
    // Shows a chooser with `fileName` pre-filled; the chosen full paths, or nothing when cancelled.
    using Chooser = std::function<std::optional<QStringList>(QWidget* parent, const QString& fileName)>;

    explicit TOpenDialog(QWidget* parent);

    // Empties Files, shows the dialog modally and returns true when the user chose files that the
    // dialog accepts; Files then holds their full paths in the chooser's order.
    bool Execute();

    const QStringList& Files() const { return m_files; }
    // The name on disk of each of Files (see NativePathOf), or nothing where its text stands for
    // several names.
    const std::vector<std::optional<QByteArray>>& NativeFiles() const { return m_nativeFiles; }

    // Replaces the modal system chooser (tests); an empty function restores it.
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }

    // True when `path` may not be written: its owner-write bit is clear, or its folder is
    // write-protected. Such files are refused, as only writable files can be encrypted in place.
    static bool IsReadOnly(const QString& path);
    // The same for the name on disk.
    static bool IsReadOnly(const QByteArray& native);

    static const QString FilterText;

private:
    // Shows the desktop's or the program's file chooser opened at `nativeFileName`; the names on disk
    // of the chosen files, or nothing when cancelled.
    static std::optional<std::vector<QByteArray>> ShowFileDialog(QWidget* parent, const QByteArray& nativeFileName);

    QWidget* m_parentWidget;
    Chooser m_chooser;
    QStringList m_files;
    std::vector<std::optional<QByteArray>> m_nativeFiles;
    QString m_fileName; // the first of the last choice, pre-filled the next time
    std::optional<QByteArray> m_nativeFileName;
};

} // namespace veltrane
