#pragma once
// A picture control: draws one of the program's pictures unscaled from its top-left corner, cut off
// at its own edges, with no window of its own, and reports a left click as clicked(). The picture is
// taken at the pixel density of the screen it is drawn on.
//
// A picture that acts as a button (setActsAsButton) is one to assistive technology too: it takes the
// focus when clicked (not by Tab, which keeps to the window's own order), shows a focus frame, presses
// on Space or Enter while focused, and offers a press action whose key route is the menu's.

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

    void setActsAsButton(bool actsAsButton);
    bool ActsAsButton() const { return m_actsAsButton; }
    // The keys that run the same command from the keyboard, as a screen reader names them ("Alt+X").
    void setKeyRoute(const QString& keys) { m_keyRoute = keys; }
    const QString& KeyRoute() const { return m_keyRoute; }

    // Presses the picture as a click does.
    void click() { emit clicked(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString m_name;
    // The last picture drawn, at its density; taken again when the screen's density changes.
    mutable QPixmap m_picture;
    bool m_pressed = false;
    bool m_actsAsButton = false;
    QString m_keyRoute;
};

} // namespace veltrane
