#pragma once
// The keys that press a window's push buttons while one of them has the focus: Enter (or the keypad's
// Enter) presses the focused button, and a button's accelerator letter typed alone presses that
// button, whichever of the watched buttons holds the focus. "Alone" means without Shift, Ctrl, Alt
// or Meta. Space needs nothing here: a focused button presses on it by itself.

#include <QObject>

#include <utility>
#include <vector>

class QAbstractButton;
class QKeyEvent;

namespace veltrane {

class FocusedButtonKeys : public QObject {
    Q_OBJECT

public:
    explicit FocusedButtonKeys(QObject* parent) : QObject(parent) {}

    // Watches the key presses that `button` receives while focused, and lets `letter` alone press it.
    void Add(QAbstractButton* button, int letter);

    // True when `key` carries no modifier besides the keypad's flag.
    static bool IsAlone(const QKeyEvent& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<std::pair<QAbstractButton*, int>> m_buttons;
};

} // namespace veltrane
