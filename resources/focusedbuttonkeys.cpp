#include "resources/focusedbuttonkeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

#include <algorithm>

namespace veltrane {

FocusedButtonKeys::FocusedButtonKeys(QObject* parent) : QObject(parent) {}

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
    QAbstractButton* pressed = nullptr;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        const auto focused = std::find_if(m_buttons.begin(), m_buttons.end(),
                                          [watched](const auto& entry) { return entry.first == watched; });
        if (focused != m_buttons.end())
            pressed = focused->first;
    } else {
        const auto lettered = std::find_if(m_buttons.begin(), m_buttons.end(),
                                           [key](const auto& entry) { return entry.second == key->key(); });
        if (lettered != m_buttons.end())
            pressed = lettered->first;
    }
    if (pressed == nullptr)
        return false;
    // A held key presses once: its repeats would otherwise start one command after another.
    if (!key->isAutoRepeat())
        pressed->click();
    return true;
}

} // namespace veltrane
