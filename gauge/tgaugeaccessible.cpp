#include "gauge/tgaugeaccessible.h"

#include "gauge/tgauge.h"

#include <QString>

namespace veltrane {

TGaugeAccessible::TGaugeAccessible(TGauge* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

QAccessibleInterface* TGaugeAccessible::Factory(const QString& className, QObject* object) {
    if (className != QLatin1String(TGauge::staticMetaObject.className()))
        return nullptr;
    auto* gauge = qobject_cast<TGauge*>(object);
    return gauge != nullptr ? new TGaugeAccessible(gauge) : nullptr;
}

const TGauge& TGaugeAccessible::gauge() const {
    return *static_cast<const TGauge*>(widget());
}

void* TGaugeAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString TGaugeAccessible::text(QAccessible::Text kind) const {
    if (kind == QAccessible::Value)
        return QString::number(gauge().Percentage()) + QLatin1Char('%');
    return QAccessibleWidget::text(kind);
}

QAccessible::State TGaugeAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    return state;
}

// The value is the figure the gauge shows, not Progress: a reader says "37 percent" whatever the range.
QVariant TGaugeAccessible::currentValue() const {
    return gauge().Percentage();
}

} // namespace veltrane
