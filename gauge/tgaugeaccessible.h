#pragma once
// What assistive technology (a screen reader, through AT-SPI) sees of a TGauge: a progress bar whose
// value is the gauge's whole percentage, 0 to 100, also given as the text "37%". The gauge takes no
// input, so the value cannot be set from outside.

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

class QObject;
class QString;

namespace veltrane {

class TGauge;

class TGaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TGaugeAccessible(TGauge* gauge);

    // The accessible factory for TGauge; installed once by the first gauge made.
    static QAccessibleInterface* Factory(const QString& className, QObject* object);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text kind) const override;
    // Read-only: a reader tells the user that the value cannot be changed. (The toolkit's bridge still
    // lists Increase and Decrease for every object with a value; here they change nothing.)
    QAccessible::State state() const override;

    QVariant currentValue() const override;
    // Progress comes from the pass over the file alone.
    void setCurrentValue(const QVariant& /*value*/) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const TGauge& gauge() const;
};

} // namespace veltrane
