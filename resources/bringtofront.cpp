#include "resources/bringtofront.h"

#include <QEvent>
#include <QWidget>

namespace veltrane {

namespace {

bool IsFramed(const QWidget& window) {
    return window.frameGeometry() != window.geometry();
}

// Waits on the window's moves and resizes for its frame, then acts once and goes.
class FrameWatch : public QObject {
public:
    FrameWatch(QWidget& window, std::function<void()> framed)
        : QObject(&window), m_window(window), m_framed(std::move(framed)) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && IsFramed(m_window)) {
            m_window.removeEventFilter(this);
            m_framed();
            deleteLater();
        }
        return false;
    }

private:
    QWidget& m_window;
    std::function<void()> m_framed;
};

} // namespace

void BringToFront(QWidget& window) {
    // A minimised window counts as visible: show() alone would leave it on the task bar.
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

void WhenFramed(QWidget& window, std::function<void()> framed) {
    if (IsFramed(window))
        framed();
    else
        new FrameWatch(window, std::move(framed));
}

} // namespace veltrane
