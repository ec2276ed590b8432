#include "resources/accessiblerole.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace veltrane {

namespace {

constexpr const char* RoleProperty = "veltraneAccessibleRole";

// Asked with each class name of the object's class and its bases, most derived first: answering the
// first ask comes before the toolkit's own interface for that class.
QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    if (!object->isWidgetType())
        return nullptr;
    auto* control = static_cast<QWidget*>(object);
    const QVariant role = control->property(RoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(control, static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void SetAccessibleRole(QWidget& control, QAccessible::Role role) {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(&RoleFactory);
        return true;
    }();
    control.setProperty(RoleProperty, static_cast<int>(role));
    // The toolkit keeps an object's interface once made, and making the control may already have made
    // one (a label tells of its text as it gets it): that one goes, and the next ask makes it anew.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&control); made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void Describe(QWidget* control, const QString& name, const QString& description) {
    control->setAccessibleName(name);
    control->setAccessibleDescription(description);
}

void Hint(QWidget* control, const QString& name, const QString& hint) {
    control->setToolTip(hint);
    Describe(control, name, hint);
}

} // namespace veltrane
