#pragma once
// A picture control: draws one of the program's pictures unscaled from its top-left corner, cut off
// at its own edges, with no window of its own, and reports a left click as clicked(). The picture is
// taken at the pixel density of the screen it is drawn on.

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace veltrane {

class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent = nullptr);

    // The picture NAME of the program's resource set (see resources/pictures.h).
    void setPicture(const QString& name);
    // The picture as drawn on the widget's screen.
    QPixmap picture() const;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_name;
    // The last picture drawn, at its density; taken again when the screen's density changes.
    mutable QPixmap m_picture;
    bool m_pressed = false;
};

} // namespace veltrane
