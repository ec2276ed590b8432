#pragma once
// The About window "About Veltrane": the emblem, the product name, the version and the notice line. A fixed-size
// window with a close box only; OK (the default button) closes it, which only hides it.

#include <QPoint>
#include <QSize>
#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

namespace veltrane {

class TAboutBox : public QWidget {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Makes the window visible, brings it to the front, activates it and puts the focus on OK. The first showing
    // centres it on the screen; later ones keep wherever the user left it.
    void ShowWindow();

    // The OK button: closes the window, which only hides it.
    void OKButtonClick() { close(); }

    // Top-left corner of a window of outer size `window` centred on a screen of size `screen`: half the spare room
    // in whole pixels, never less than 0.
    static QPoint CentredPosition(QSize screen, QSize window);

    QFrame* Panel1 = nullptr;
    QPushButton* OKButton = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Centre();

    bool m_placed = false;
};

} // namespace veltrane
