#include "main/runeventpump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>

namespace veltrane {

RunEventPump::RunEventPump() {
    QCoreApplication::instance()->installEventFilter(this);
    m_sinceLast.start();
}

RunEventPump::~RunEventPump() {
    QCoreApplication::instance()->removeEventFilter(this);
    for (const QPointer<QWidget>& window : m_heldCloses) {
        if (window.isNull())
            continue;
        // Closed as the window system asked, through the window's own close handling.
        QTimer::singleShot(0, window.data(), [window] {
            if (!window.isNull())
                window->close();
        });
    }
}

void RunEventPump::Pump() {
    if (m_sinceLast.elapsed() < Interval)
        return;
    m_sinceLast.restart();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool RunEventPump::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Close:
        if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
            auto* window = static_cast<QWidget*>(watched);
            if (std::find(m_heldCloses.begin(), m_heldCloses.end(), window) == m_heldCloses.end())
                m_heldCloses.emplace_back(window);
            event->ignore();
            return true;
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // A drop cannot wait: the file manager waits for its answer.
        event->ignore();
        return true;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace veltrane
