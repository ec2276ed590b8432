#include "app/tapplication.h"

#include "engine/secretmemory.h"

#include "app/thintmanager.h"
#include "main/handlerfailureevent.h"
#include "resources/pictures.h"

#include <QIcon>
#include <QMessageBox>
#include <QStyleFactory>
#include <QWidget>

#include <csignal>

namespace veltrane {

const QString TApplication::Title = QStringLiteral("Veltrane Encryption");

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The name under which the desktop lists the program. Not the display name, which Qt would
    // append to every window caption.
    setApplicationName(Title);
    setWindowIcon(ProgramIcon());
    setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    setPalette(ProgramPalette());
    m_hints = std::make_unique<THintManager>();
    installEventFilter(m_hints.get());
    // The key boxes keep their text between runs, and the engine its key: no core dump, no other
    // process of the user's reading them.
    KeepProcessOutOfCoreDumps();
    // A write that would pass a file-size limit then fails with EFBIG, which the engine undoes and
    // the error display reports, instead of the signal ending the program half-way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
}

TApplication::~TApplication() {
    removeEventFilter(m_hints.get());
}

QPalette TApplication::ProgramPalette() {
    QPalette palette;
    const QColor face(0xF0, 0xF0, 0xF0);
    palette.setColor(QPalette::Window, face);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7));
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Button, face);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
    palette.setColor(QPalette::Mid, QColor(0xA0, 0xA0, 0xA0));
    palette.setColor(QPalette::Dark, QColor(0xA0, 0xA0, 0xA0));
    palette.setColor(QPalette::Shadow, QColor(0x69, 0x69, 0x69));
    palette.setColor(QPalette::Highlight, QColor(0x00, 0x78, 0xD7));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Link, QColor(0x00, 0x66, 0xCC));
    palette.setColor(QPalette::PlaceholderText, QColor(0x78, 0x78, 0x78));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0x78, 0x78, 0x78));
    return palette;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        if (event->type() == HandlerFailureEvent::eventType()) {
            // A handler's failure, caught where the handler returned to the toolkit.
            std::rethrow_exception(static_cast<HandlerFailureEvent*>(event)->failure());
        }
        const bool handled = QApplication::notify(receiver, event);
        if (event->type() == QEvent::Close && receiver == m_mainWindow && event->isAccepted())
            quit();
        return handled;
    } catch (...) {
        ShowFailure(std::current_exception());
        return true;
    }
}

QString TApplication::FailureMessage(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("Unknown failure");
    }
}

void TApplication::ShowFailure(const std::exception_ptr& failure) {
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    const QString text = FailureMessage(failure) + QLatin1Char('.');
    if (m_showMessageBox)
        m_showMessageBox(Title, text);
    else
        ShowCriticalBox(Title, text);
}

void TApplication::ShowCriticalBox(const QString& caption, const QString& text) {
    // No owner: the box belongs to the application and disables all of its windows while it is up.
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorDisplay"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace veltrane
