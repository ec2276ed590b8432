#include "main/timageaccessible.h"

#include "main/timage.h"

#include <QMetaObject>
#include <QString>

namespace veltrane {

TImageAccessible::TImageAccessible(TImage* image) : QAccessibleWidget(image, QAccessible::Graphic) {}

QAccessibleInterface* TImageAccessible::Factory(const QString& className, QObject* object) {
    if (className != QLatin1String(TImage::staticMetaObject.className()))
        return nullptr;
    auto* image = qobject_cast<TImage*>(object);
    return image != nullptr ? new TImageAccessible(image) : nullptr;
}

TImage& TImageAccessible::image() const {
    return *static_cast<TImage*>(widget());
}

QAccessible::Role TImageAccessible::role() const {
    return image().ActsAsButton() ? QAccessible::Button : QAccessible::Graphic;
}

QStringList TImageAccessible::actionNames() const {
    QStringList names = QAccessibleWidget::actionNames();
    if (image().ActsAsButton())
        names.prepend(pressAction());
    return names;
}

void TImageAccessible::doAction(const QString& actionName) {
    if (actionName == pressAction() && image().ActsAsButton()) {
        // The command may open a modal dialog or end the program: run it after the request that asked
        // for it has been answered, as a click would be.
        QMetaObject::invokeMethod(&image(), &TImage::click, Qt::QueuedConnection);
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

QStringList TImageAccessible::keyBindingsForAction(const QString& actionName) const {
    if (actionName == pressAction() && image().ActsAsButton() && !image().KeyRoute().isEmpty())
        return {image().KeyRoute()};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

} // namespace veltrane
