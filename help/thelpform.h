#pragma once
// The help window "Help!": a walkthrough of the program's use beside the contact and ordering details. Both texts
// are editable scratch pads for the user; what is typed stays while the program runs and is never saved.

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace veltrane {

class THelpForm : public QWidget {
    Q_OBJECT

public:
    explicit THelpForm(QWidget* parent = nullptr);

    // Makes the window visible, brings it to the front and activates it. The first showing places it at its
    // designed position and outer size; later ones keep wherever the user left it.
    void ShowWindow();

    // The "&Adios" button: closes the window, which only hides it.
    void Button1Click() { close(); }

    // The texts the window starts with.
    static QString WalkthroughText();
    static QString InfoText();

    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QPushButton* Button1 = nullptr;

private:
    bool m_placed = false;
};

} // namespace veltrane
