#pragma once
// The role a window that is a plain widget (the help and About windows) has for assistive technology:
// the toolkit would present it as a filler, and a screen reader would not announce it as a window.

#include <QAccessible>

class QWidget;

namespace veltrane {

// `window` is presented with `role` (QAccessible::Window or QAccessible::Dialog).
void SetWindowRole(QWidget& window, QAccessible::Role role);

} // namespace veltrane
