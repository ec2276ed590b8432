#pragma once
// The program's working window: two key boxes, the list of loaded files, the Encrypt and Decrypt
// buttons, the status line, the pie gauge over the emblem, and the menu. Its handlers load files
// and run the batch commands over the engine state of this unit.

#include "engine/engineunit.h"
#include "engine/fileresult.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;

namespace veltrane {

class GaugeProgressDisplay;
class RunEventPump;
class TGauge;
class TImage;
class TOpenDialog;

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Handlers (bound to the menu, pictures and buttons; public so tests can call them directly).
    void FileOpen();
    void FileExit() { close(); }
    void HelpAbout() { m_showAboutBox(); }
    void EncryptButtonClick();
    void ReadmeClick() { m_showHelpForm(); }
    // Encrypts or decrypts the current file, the gauge showing its pass and `completionPhrase` shown
    // as soon as the pass is through.
    FileResult Algorithm(bool encrypting, const QString& completionPhrase);
    void DecryptButtonClick();

    // Where About and Readme go (nowhere until then): the start-up wires them to the About and Help
    // windows.
    void setAboutWindowAction(std::function<void()> action) { m_showAboutBox = std::move(action); }
    void setReadmeWindowAction(std::function<void()> action) { m_showHelpForm = std::move(action); }

    // Loads files named at start-up (names on disk, absolute) as if chosen in the open dialog: the
    // same rules refuse them, all of them, with the same message.
    void LoadStartFiles(const std::vector<QByteArray>& natives);

    std::int32_t LoadedCount() const { return m_loadedCount; }
    EngineUnit& Unit() { return m_unit; }
    TOpenDialog& OpenDialog() { return *m_openDialog; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Files dropped on the window load like a choice in the open dialog, which refuses the same.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // List entry data: the bytes of the file's name; absent when the text stands for several names.
    static constexpr int NativeNameRole = Qt::UserRole;

    // Replaces the list's entries by `files` (with the names on disk they stand for) and sets
    // LoadedCount.
    void LoadFiles(const QStringList& files, const std::vector<std::optional<QByteArray>>& natives);
    // Loads the files named by `natives` unless the open dialog's rules refuse one of them; then the
    // refusal is shown once the event loop runs, nothing is loaded and the result is false.
    bool LoadNamedFiles(const std::vector<QByteArray>& natives);

    void CreateMenu();
    void CreateControls();
    void ConnectHandlers();
    // Runs a handler of the menu, pictures or buttons; during a run it waits, as the user's input
    // does, and runs once the run is over (a screen reader's "press" arrives that way).
    void Handle(const std::function<void()>& handler);
    // A run holds the thread from BeginRun to EndRun; in between the window system's own events are
    // let through (RunEventPump), status phrases that are not due at once are held back, and handlers
    // wait.
    void BeginRun();
    void EndRun();
    void LayOutClientArea();
    void ShowListFocus(bool focused);

    // Sets the whole text of the status line; `repaintNow` draws it before returning.
    void SetStatus(const QString& phrase, bool repaintNow);
    // The key check shared by both commands: same text in both boxes, and not empty; on failure its
    // phrase shows, on success KeyText takes the Key box's text as key bytes.
    bool TakeKeyText();
    // The turns of a run over the loaded files: each takes the first entry, stops the run at a
    // missing file, and otherwise runs `fileStep` on it.
    void RunTurns(const std::function<FileResult()>& fileStep);
    // The same turns; a failure that escapes them puts the gauge away and shows `stoppedPhrase` at
    // once before it travels on to the error display.
    void RunTurns(const QString& stoppedPhrase, const std::function<FileResult()>& fileStep);
    // Takes the first list entry into CurrentFileName and deletes it, then draws the list and the
    // window's own surface at once. False when the entry's text stands for more than one file name.
    bool TakeFirstEntry();
    void RepaintOwnSurface();
    void RepaintFileList();
    // Hides the gauge and sets it back to 0.
    void PutGaugeAway();

    // Components, in the window's declaration order.
    QMenuBar* MainMenu = nullptr;
    QMenu* FileMenu = nullptr;
    QAction* FileOpenItem = nullptr;
    QAction* N4 = nullptr;
    QAction* FileExitItem = nullptr;
    QWidget* ClientArea = nullptr;
    QLineEdit* KeyBox = nullptr;
    QLineEdit* VKeyBox = nullptr;
    QLabel* KeyLabel = nullptr;
    QLabel* VKeyLabel = nullptr;
    QPushButton* EncryptButton = nullptr;
    QFrame* TopPanel = nullptr;
    QLabel* LabelTitle = nullptr;
    QFrame* Panel1 = nullptr;
    TImage* Image1 = nullptr;
    QGroupBox* SatusBox = nullptr;
    QLabel* StatusText = nullptr;
    TGauge* PercentDoneGauge = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    TImage* Image5 = nullptr;
    TImage* Image2 = nullptr;
    QAction* About1 = nullptr;
    TOpenDialog* m_openDialog = nullptr;
    QListWidget* FileList = nullptr;
    QAction* Readme = nullptr;
    QPushButton* DecryptButton = nullptr;

    // Module state of this unit: the count of the last loading, and the engine's key, current file,
    // generator and buffers.
    std::int32_t m_loadedCount = 0;
    // Made with new, so that its key and tables are in secret memory (see engine/secretmemory.h).
    std::unique_ptr<EngineUnit> m_unitStorage = std::make_unique<EngineUnit>();
    EngineUnit& m_unit = *m_unitStorage;
    std::unique_ptr<GaugeProgressDisplay> m_gaugeDisplay;
    std::unique_ptr<RunEventPump> m_runPump;
    // The phrase the status line shows once the run is over, when it is not shown at once.
    std::optional<QString> m_heldStatus;
    std::vector<std::function<void()>> m_waitingHandlers;

    std::function<void()> m_showAboutBox = [] {};
    std::function<void()> m_showHelpForm = [] {};
};

} // namespace veltrane
