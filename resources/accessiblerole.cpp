#include "resources/windowaccessible.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace veltrane {

namespace {

constexpr const char* RoleProperty = "veltraneAccessibleRole";

QAccessibleInterface* WindowFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QWidget"))
        return nullptr;
    auto* window = qobject_cast<QWidget*>(object);
    if (window == nullptr || !window->isWindow())
        return nullptr;
    const QVariant role = window->property(RoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(window, static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void SetWindowRole(QWidget& window, QAccessible::Role role) {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(&WindowFactory);
        return true;
    }();
    window.setProperty(RoleProperty, static_cast<int>(role));
}

} // namespace veltrane
