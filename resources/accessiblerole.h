#pragma once
// The role a control or window has for assistive technology where the toolkit's own would mislead: a
// window that is a plain widget (the help and About windows) would be a filler that a screen reader
// does not announce, a frame inside a window would be a "frame" (a top-level window's role), and the
// status line would be a plain label.

#include <QAccessible>

class QWidget;

namespace veltrane {

// `control` is presented with `role` (for instance QAccessible::Window, Dialog, Pane or StatusBar).
void SetAccessibleRole(QWidget& control, QAccessible::Role role);

} // namespace veltrane
