#include "resources/focusedbuttonkeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

#include <algorithm>

namespace veltrane {

void FocusedButtonKeys::Add(QAbstractButton* button, int letter) {
    m_buttons.emplace_back(button, letter);
    button->installEventFilter(this);
}

bool FocusedButtonKeys::IsAlone(const QKeyEvent& key) {
    return (key.modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier)) == Qt::NoModifier;
}

bool FocusedButtonKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (!IsAlone(*key))
        return false;
    // Enter presses the focused button, a letter the button it belongs to.
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const auto pressed = std::find_if(m_buttons.begin(), m_buttons.end(), [&](const auto& entry) {
        return enter ? entry.first == watched : entry.second == key->key();
    });
    if (pressed == m_buttons.end())
        return false;
    // A held key presses once: its repeats would otherwise start one command after another.
    if (!key->isAutoRepeat())
        pressed->first->click();
    return true;
}

} // namespace veltrane
