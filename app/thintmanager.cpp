#include "app/thintmanager.h"

#include "resources/fonts.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace veltrane {

THintManager::THintManager(QObject* parent) : QObject(parent) {
    m_showTimer.setSingleShot(true);
    m_hideTimer.setSingleShot(true);
    // Coarse timers may fire up to 5 % early; the pauses are part of how hints behave.
    m_showTimer.setTimerType(Qt::PreciseTimer);
    m_hideTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_showTimer, &QTimer::timeout, this, &THintManager::ShowHint);
    connect(&m_hideTimer, &QTimer::timeout, this, &THintManager::HidePopup);

    m_popup = std::make_unique<QLabel>(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
    m_popup->setObjectName(QStringLiteral("HintWindow"));
    m_popup->setAttribute(Qt::WA_ShowWithoutActivating);
    // Plain text: an "&" in a hint is an ordinary character.
    m_popup->setTextFormat(Qt::PlainText);
    m_popup->setWordWrap(true);
    m_popup->setFont(SansFont(11));
    // Borderless, the text inset evenly: the pop-up is the text's extent plus 6 pixels wide and 2 high. A label
    // with a frame would also indent its text by half an "x", pushing the last word onto a line cut off below.
    m_popup->setFrameStyle(QFrame::NoFrame);
    m_popup->setIndent(0);
    m_popup->setContentsMargins(3, 1, 3, 1);
    m_popup->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_popup->setAutoFillBackground(true);
    QPalette palette = m_popup->palette();
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::ToolTipText));
    m_popup->setPalette(palette);
}

THintManager::~THintManager() = default;

QWidget* THintManager::HintControlFor(QWidget* control) {
    for (QWidget* candidate = control; candidate != nullptr; candidate = candidate->parentWidget()) {
        if (!candidate->toolTip().isEmpty())
            return candidate;
        if (candidate->isWindow())
            break;
    }
    return nullptr;
}

QPoint THintManager::PopupPosition(const QRect& control, const QSize& size, const QRect& screen) {
    const int top = std::min(control.top() + control.height() + 6, screen.top() + screen.height() - size.height());
    const int left = std::max(std::min(control.left(), screen.left() + screen.width() - size.width()), screen.left());
    return {left, top};
}

void THintManager::CancelHint() {
    m_showTimer.stop();
    HidePopup();
    m_hintControl = nullptr;
    m_hintActive = false;
}

void THintManager::HidePopup() {
    m_hideTimer.stop();
    m_popup->hide();
}

void THintManager::PointerMovedOver(QWidget* control) {
    QWidget* hinted = HintControlFor(control);
    if (hinted == nullptr) {
        CancelHint();
        return;
    }
    if (hinted == m_hintControl)
        return;
    // Straight from one hinted control to the next: the pending or showing hint goes, but the
    // next one follows after the short pause.
    m_showTimer.stop();
    HidePopup();
    m_hintControl = hinted;
    m_showTimer.start(m_hintActive ? HintShortPause : HintPause);
}

void THintManager::PointerMovedIn(QWindow* window, const QPointF& position) {
    if (window == m_popup->windowHandle()) {
        CancelHint();
        return;
    }
    for (QWidget* topLevel : QApplication::topLevelWidgets()) {
        if (topLevel->windowHandle() != window || !topLevel->isVisible())
            continue;
        QWidget* control = topLevel->childAt(position.toPoint());
        PointerMovedOver(control != nullptr ? control : topLevel);
        return;
    }
    CancelHint();
}

void THintManager::ShowHint() {
    QWidget* control = m_hintControl;
    if (control == nullptr || !control->isVisible()) {
        CancelHint();
        return;
    }
    const QScreen* screen = control->screen();
    const QRect screenArea = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QString text = control->toolTip();
    const QFontMetrics metrics(m_popup->font());
    const QRect extent =
        metrics.boundingRect(QRect(0, 0, std::max(screenArea.width() - 6, 1), 100000), Qt::TextWordWrap, text);
    const QSize size(extent.width() + 6, extent.height() + 2);
    m_popup->setText(text);
    m_popup->setFixedSize(size);
    const QRect controlArea(control->mapToGlobal(QPoint(0, 0)), control->size());
    m_popup->move(PopupPosition(controlArea, size, screenArea));
    m_popup->show();
    m_popup->raise();
    m_hintActive = true;
    m_hideTimer.start(HintHidePause);
}

bool THintManager::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip:
        // The toolkit's own tool tips never show; the pop-up above takes their place.
        return true;
    case QEvent::MouseMove:
        if (watched->isWindowType()) {
            const auto* move = static_cast<QMouseEvent*>(event);
            PointerMovedIn(static_cast<QWindow*>(watched), move->position());
        }
        break;
    case QEvent::Leave:
        // The pointer left a window of the program: over no control of ours.
        if (watched->isWindowType())
            CancelHint();
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ApplicationDeactivate:
        if (m_hintControl != nullptr || m_hintActive)
            CancelHint();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace veltrane
