#pragma once
// The application object: the program's title and icon, its look (Fusion with a fixed palette),
// the pop-up hints of all windows, the end of the program when the main window closes, and the
// error display for any failure that escapes an event handler.

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

namespace veltrane {

class THintManager;

class TApplication : public QApplication {
    Q_OBJECT

public:
    static const QString Title;

    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Delivers every event; a failure escaping its handler goes to the error display and the
    // program runs on.
    bool notify(QObject* receiver, QEvent* event) override;

    // Closing this window ends the program, whatever other windows are open.
    void setMainWindow(QWidget* window) { m_mainWindow = window; }

    // The error display: the failure's message with "." appended, in a box captioned with the
    // title, with a stop icon and one OK button.
    void ShowFailure(const std::exception_ptr& failure);
    // The message of a failure of any kind.
    static QString FailureMessage(const std::exception_ptr& failure);

    // Shows the error display's box (caption, text); tests stand in for the modal box with this.
    using MessageBoxShower = std::function<void(const QString& caption, const QString& text)>;
    void setMessageBoxShower(MessageBoxShower shower) { m_showMessageBox = std::move(shower); }

    THintManager& Hints() { return *m_hints; }

    // The program's fixed colours, so that it looks the same on every desktop.
    static QPalette ProgramPalette();

private:
    static void ShowCriticalBox(const QString& caption, const QString& text);

    QPointer<QWidget> m_mainWindow;
    MessageBoxShower m_showMessageBox;
    std::unique_ptr<THintManager> m_hints;
};

} // namespace veltrane
