#include "About/taboutbox.h"

#include "resources/accessiblerole.h"
#include "resources/bringtofront.h"
#include "resources/colours.h"
#include "resources/fonts.h"
#include "resources/pictures.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace veltrane {

namespace {

constexpr QSize ClientSize(321, 225);

// The window's labels, Times New Roman bold italic; opaque, as Label1 lies over the emblem's right
// edge and must hide it.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry, int pixelSize,
                  const QColor& colour) {
    return veltrane::MakeLabel(parent, name, text, geometry, SerifFont(pixelSize, {.bold = true, .italic = true}),
                               colour);
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    // A dialog to the window manager too, which then gives it the close box alone, as designed; a plain
    // window gets minimise and maximise buttons from some managers whatever the hints say.
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    // A dialog to a screen reader, which reads it out whole when it appears; set first, before anything tells a
    // reader of the window.
    SetAccessibleRole(*this, QAccessible::Dialog);
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Veltrane"));
    setFixedSize(ClientSize);
    setFont(SansFont(11));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colours::Black);
    setPalette(palette);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(9, 9, 302, 173);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SetAccessibleRole(*Panel1, QAccessible::Pane);
    Panel1->setAutoFillBackground(true);
    QPalette panelPalette = Panel1->palette();
    panelPalette.setColor(QPalette::Window, colours::Black);
    panelPalette.setColor(QPalette::Light, QColor(255, 255, 255));
    panelPalette.setColor(QPalette::Dark, QColor(128, 128, 128));
    Panel1->setPalette(panelPalette);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(127, 192, 70, 28);
    OKButton->setDefault(true);
    // Outside a dialog a push button presses on Enter only when it is an auto-default one.
    OKButton->setAutoDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
    Describe(OKButton, QStringLiteral("OK"), QStringLiteral("Closes the About window"));

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 113, 97);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Drawn unscaled: the bitmap is two columns wider than its box and simply loses them.
    Image1->setPixmap(Picture(QStringLiteral("emblem"), devicePixelRatioF()));
    Hint(Image1, QStringLiteral("Emblem"), QStringLiteral("This symbol means infinity"));

    Label1 =
        MakeLabel(Panel1, "Label1", QStringLiteral("Veltrane Encryption!"), QRect(112, 32, 183, 22), 19, colours::Red);
    Label2 = MakeLabel(Panel1, "Label2", QStringLiteral("Version 1.01"), QRect(152, 56, 84, 19), 16, colours::Yellow);
    Label3 = MakeLabel(Panel1, "Label3", QStringLiteral("(c) 2026 The Veltrane team"), QRect(56, 144, 214, 19), 16,
                       colours::Yellow);

    OKButton->setFocus();
}

QPoint TAboutBox::CentredPosition(QSize screen, QSize window) {
    return {std::max(0, (screen.width() - window.width()) / 2), std::max(0, (screen.height() - window.height()) / 2)};
}

void TAboutBox::ShowWindow() {
    const bool first = !m_placed;
    m_placed = true;
    if (first)
        Centre();
    BringToFront(*this);
    OKButton->setFocus();
    // The outer size counts the frame, which the window system may report only once it has framed the
    // window: centre again as soon as it is known.
    if (first)
        WhenFramed(*this, [this] { Centre(); });
}

void TAboutBox::Centre() {
    if (const QScreen* where = screen()) {
        const QRect area = where->geometry();
        move(area.topLeft() + CentredPosition(area.size(), frameGeometry().size()));
    }
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the default button wherever the focus is.
        OKButton->click();
        return;
    case Qt::Key_Escape:
        // Escape deliberately does nothing here; only OK and the close box dismiss the window.
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace veltrane
