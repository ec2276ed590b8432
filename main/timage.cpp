#include "main/timage.h"

#include "resources/accessiblerole.h"
#include "resources/focusedbuttonkeys.h"
#include "resources/pictures.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace veltrane {

namespace {

// What assistive technology sees of a TImage: a button with a press action (and the keys of its menu
// entry) when the picture acts as one, otherwise a graphic.
class TImageAccessible : public QAccessibleWidget {
public:
    explicit TImageAccessible(TImage* image) : QAccessibleWidget(image, QAccessible::Graphic) {}

    QAccessible::Role role() const override {
        return image().ActsAsButton() ? QAccessible::Button : QAccessible::Graphic;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (image().ActsAsButton())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& actionName) override {
        if (actionName == pressAction() && image().ActsAsButton()) {
            // The command may open a modal dialog or end the program: run it after the request that
            // asked for it has been answered, as a click would be.
            QMetaObject::invokeMethod(&image(), &TImage::click, Qt::QueuedConnection);
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }

    QStringList keyBindingsForAction(const QString& actionName) const override {
        if (actionName == pressAction() && image().ActsAsButton() && !image().KeyRoute().isEmpty())
            return {image().KeyRoute()};
        return QAccessibleWidget::keyBindingsForAction(actionName);
    }

private:
    TImage& image() const { return *static_cast<TImage*>(widget()); }
};

} // namespace

TImage::TImage(QWidget* parent) : QWidget(parent) {
    PresentAccessibleAs<TImage, TImageAccessible>();
}

void TImage::setPicture(const QString& name) {
    m_name = name;
    m_picture = QPixmap();
    update();
}

QPixmap TImage::picture() const {
    if (m_picture.isNull() || m_picture.devicePixelRatio() != devicePixelRatioF())
        m_picture = Picture(m_name, devicePixelRatioF());
    return m_picture;
}

void TImage::setActsAsButton(bool actsAsButton) {
    m_actsAsButton = actsAsButton;
    setFocusPolicy(actsAsButton ? Qt::ClickFocus : Qt::NoFocus);
}

void TImage::paintEvent(QPaintEvent*) {
    if (m_name.isEmpty())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture());
    if (hasFocus()) {
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }
}

void TImage::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

// A click is a press and a release of the left button over the picture, as with a button.
void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool released =
        m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (released)
        click();
}

void TImage::keyPressEvent(QKeyEvent* event) {
    const bool pressKey =
        event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!m_actsAsButton || !pressKey || !FocusedButtonKeys::IsAlone(*event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    // A held key presses once.
    if (!event->isAutoRepeat())
        click();
}

void TImage::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TImage::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

} // namespace veltrane
