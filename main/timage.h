#pragma once
// A picture control: draws its image unscaled from its top-left corner, cut off at its own edges,
// with no window of its own, and reports a left click as clicked().

#include <QPixmap>
#include <QWidget>

namespace veltrane {

class TImage : public QWidget {
    Q_OBJECT

public:
    explicit TImage(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_picture;
    bool m_pressed = false;
};

} // namespace veltrane
