#pragma once
// What assistive technology sees of a TImage: a button with a press action (and the keys of its menu
// entry) when the picture acts as one, otherwise a graphic.

#include <QAccessibleWidget>
#include <QStringList>

class QObject;
class QString;

namespace veltrane {

class TImage;

class TImageAccessible : public QAccessibleWidget {
public:
    explicit TImageAccessible(TImage* image);

    // The accessible factory for TImage; installed once by the first picture made.
    static QAccessibleInterface* Factory(const QString& className, QObject* object);

    QAccessible::Role role() const override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    TImage& image() const;
};

} // namespace veltrane
