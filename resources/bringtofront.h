#pragma once
// Showing a window of the program: visible, out of the minimised state, in front of the program's
// other windows and active; and placing it by its outer size once the window system has framed it.

#include <functional>

class QWidget;

namespace veltrane {

void BringToFront(QWidget& window);

// Calls `framed` once, as soon as the window system's frame around the shown `window` is known:
// some window systems report it when the window is shown, others only once they have built the
// frame, which reaches the window as a move or a resize.
void WhenFramed(QWidget& window, std::function<void()> framed);

} // namespace veltrane
