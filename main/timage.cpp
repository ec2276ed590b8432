#include "main/timage.h"

#include "resources/pictures.h"

#include <QMouseEvent>
#include <QPainter>

namespace veltrane {

TImage::TImage(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
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

void TImage::paintEvent(QPaintEvent*) {
    if (m_name.isEmpty())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture());
}

void TImage::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

// A click is a press and a release of the left button over the picture, as with a button.
void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}

} // namespace veltrane
