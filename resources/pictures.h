#pragma once
// The program's pictures from its resource set, chosen for the pixel density they are shown at: each
// comes painted at its designed size and at twice that.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace veltrane {

// The picture NAME (":/images/NAME.png", without ".png") for `devicePixelRatio` device pixels per
// pixel; its device-independent size is always the designed one.
QPixmap Picture(const QString& name, qreal devicePixelRatio);

// The program's icon, at 32 and 64 pixels, for title bars and the task list.
QIcon ProgramIcon();

} // namespace veltrane
