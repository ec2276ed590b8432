#pragma once
// The program's pop-up hints for every window, in place of the toolkit's own tool tips. A control
// shows a hint when its toolTip() is set (its ShowHint is on); otherwise its parents are asked, up
// to the window. The pop-up appears 500 ms after the pointer comes to rest on a hinted control, or
// 50 ms when the pointer goes straight on from a hint just shown; it sits 6 pixels under the
// control's bottom edge at its left edge, kept on screen, and goes away after 2,500 ms or on any
// key, click, menu command or window activation.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QRect>
#include <QTimer>

#include <memory>

class QLabel;
class QWindow;

namespace veltrane {

class THintManager : public QObject {
    Q_OBJECT

public:
    static constexpr int HintPause = 500;
    static constexpr int HintShortPause = 50;
    static constexpr int HintHidePause = 2500;

    explicit THintManager(QObject* parent = nullptr);
    ~THintManager() override;

    // The control whose hint is pending or showing, if any.
    QWidget* hintControl() const { return m_hintControl; }
    // The pop-up window (object name "HintWindow"); visible while a hint shows.
    QLabel* popup() const { return m_popup.get(); }

    // The hinted control for `control` under the pointer: itself or its nearest parent with a
    // hint text, not going past its window; null when none has one.
    static QWidget* HintControlFor(QWidget* control);
    // Where a pop-up of `size` goes for a control occupying `control` (global coordinates), kept
    // inside `screen`: moved up or left as needed, but never left of the screen's left edge.
    static QPoint PopupPosition(const QRect& control, const QSize& size, const QRect& screen);

    // Hides any hint and forgets that one was showing, so the next takes the full pause again.
    void CancelHint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PointerMovedOver(QWidget* control);
    void PointerMovedIn(QWindow* window, const QPointF& position);
    void ShowHint();
    void HidePopup();

    QTimer m_showTimer;
    QTimer m_hideTimer;
    QPointer<QWidget> m_hintControl;
    // A hint was shown and nothing has cancelled hints since: the next comes after the short pause.
    bool m_hintActive = false;
    std::unique_ptr<QLabel> m_popup;
};

} // namespace veltrane
