#pragma once
// The open-file dialog the program shows. It lists a folder from the bytes of its entries' names, so
// that a file whose name is not valid UTF-8 is listed and chosen like any other (the toolkit's own
// dialog leaves such names out), and hands back each chosen file as those bytes. Several files may
// be chosen at once; the name field takes one name, or several each in double quotes. OK is refused,
// with the dialog left open, while a named file does not exist, is not an ordinary file, or is
// read-only. It opens centred across the screen and a third of the way down. A list of places (the
// home folder, the usual folders in it, the root) sits to the left of the folder's list.

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace veltrane {

class FileChooser : public QDialog {
    Q_OBJECT

public:
    explicit FileChooser(QWidget* parent = nullptr);

    // Opens at the folder of `nativePath` with that file's name in the name field; at StartFolder()
    // when it is empty.
    void SelectFile(const QByteArray& nativePath);
    // Lists `folder` (bytes of an absolute path).
    void OpenFolder(const QByteArray& folder);
    const QByteArray& Folder() const { return m_folder; }

    // The files chosen (their full paths as the bytes on disk), in the order of the list or of the
    // names typed; valid after OK.
    const std::vector<QByteArray>& Chosen() const { return m_chosen; }

    // Where choosing starts when nothing was chosen before: the working folder, or the home folder
    // when that is the root folder (as for a program started from a launcher).
    static QByteArray StartFolder();
    // The names in the name field's text: the parts in double quotes when it has any, otherwise the
    // whole text as one name.
    static QStringList TypedNames(const QString& text);
    // The top-left corner of a dialog of outer size `outer` on `screen`: half the width and a third
    // of the height that it leaves free, each rounded towards zero.
    static QPoint PlacedPosition(const QRect& screen, const QSize& outer);
    // The refusal's text when `native` cannot be chosen, or an empty text when it can.
    static QString Refusal(const QByteArray& native);

    void accept() override;

protected:
    bool event(QEvent* event) override;

private:
    void BuildControls();
    void ListFolder();
    void SelectionChanged();
    void ItemActivated(QTreeWidgetItem* item);
    // The bytes of a typed name: relative names lie in the listed folder, "~" is the home folder.
    QByteArray NativeOfTyped(const QString& name, bool& ambiguous) const;
    void Refuse(const QString& text);
    void Place();
    // Places the dialog again once the window manager's frame shows up, which no event tells of.
    void WatchForFrame();

    QComboBox* m_lookIn = nullptr;
    QListWidget* m_places = nullptr;
    QToolButton* m_up = nullptr;
    QTreeWidget* m_list = nullptr;
    QLineEdit* m_name = nullptr;

    QByteArray m_folder;
    // What the selection last wrote into the name field, and the files it stands for.
    QString m_nameFromSelection;
    std::vector<QByteArray> m_selected;
    std::vector<QByteArray> m_chosen;
    bool m_placePending = true;
    QTimer m_frameWatch;
    int m_frameChecks = 0;
};

} // namespace veltrane
