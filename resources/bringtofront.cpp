#include "resources/bringtofront.h"

#include <QWidget>

namespace veltrane {

void BringToFront(QWidget& window) {
    // A minimised window counts as visible: show() alone would leave it on the task bar.
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace veltrane
