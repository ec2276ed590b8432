#pragma once
// The role a control or window has for assistive technology where the toolkit's own would mislead: a
// window that is a plain widget (the help and About windows) would be a filler that a screen reader
// does not announce, a frame inside a window would be a "frame" (a top-level window's role), and the
// status line would be a plain label. And what a screen reader says of a control.

#include <QAccessible>
#include <QString>

class QWidget;

namespace veltrane {

// `control` is presented with `role` (for instance QAccessible::Window, Dialog, Pane or StatusBar).
void SetAccessibleRole(QWidget& control, QAccessible::Role role);

// Every `Control` is presented as an `Accessible` made from it; the first call installs the factory.
template <class Control, class Accessible> void PresentAccessibleAs() {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory([](const QString& className, QObject* object) -> QAccessibleInterface* {
            auto* control = qobject_cast<Control*>(object);
            if (control == nullptr || className != QLatin1String(Control::staticMetaObject.className()))
                return nullptr;
            return new Accessible(control);
        });
        return true;
    }();
}

// What a screen reader says of a control: `name` (its caption, or what it stands for when it has none)
// and `description` (its hint, when it has one).
void Describe(QWidget* control, const QString& name, const QString& description);
// A control's hint, shown when the pointer rests on it, which a screen reader gives as its description.
void Hint(QWidget* control, const QString& name, const QString& hint);

} // namespace veltrane
