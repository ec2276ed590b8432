#pragma once
// Showing a window of the program: visible, out of the minimised state, in front of the program's
// other windows and active.

class QWidget;

namespace veltrane {

void BringToFront(QWidget& window);

} // namespace veltrane
