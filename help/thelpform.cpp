#include "help/thelpform.h"

#include "resources/accessiblerole.h"
#include "resources/bringtofront.h"
#include "resources/colours.h"
#include "resources/focusedbuttonkeys.h"
#include "resources/fonts.h"
#include "resources/pictures.h"

#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextOption>

#include <algorithm>

namespace veltrane {

namespace {

// Designed outer size and first position of the window, frame included.
constexpr QSize OuterSize(632, 413);
constexpr QPoint FirstPosition(-1, 36);

QLabel* MakeHeading(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    QLabel* label = MakeLabel(parent, name, text, geometry, SerifFont(16, {.bold = true}), colours::Yellow);
    // The designed width was the caption's extent in the original face; where ours runs a few pixels wider the
    // label grows to the right rather than cut off the caption's end.
    label->resize(std::max(geometry.width(), label->sizeHint().width()), geometry.height());
    return label;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(QString::fromLatin1(name));
    memo->setGeometry(geometry);
    memo->setFont(SerifFont(13));
    memo->setFrameShape(QFrame::NoFrame);
    memo->setWordWrapMode(QTextOption::WordWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab walks to the next control, as in any dialog; the texts have no use for tab characters.
    memo->setTabChangesFocus(true);
    // The designed width holds the longest walkthrough line exactly; any margin would wrap it early.
    memo->document()->setDocumentMargin(0);
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, colours::Black);
    palette.setColor(QPalette::Window, colours::Black);
    palette.setColor(QPalette::Text, colours::Red);
    memo->setPalette(palette);
    memo->setPlainText(text);
    return memo;
}

} // namespace

THelpForm::THelpForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    // A window to a screen reader, not a filler; set first, before anything tells a reader of the window.
    SetAccessibleRole(*this, QAccessible::Window);
    setObjectName(QStringLiteral("HelpForm"));
    setWindowTitle(QStringLiteral("Help!"));
    setWindowIcon(ProgramIcon());
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colours::Black);
    setPalette(palette);

    Label1 = MakeHeading(this, "Label1", QStringLiteral("Walkthrough:"), QRect(0, 0, 92, 19));
    Memo1 = MakeMemo(this, "Memo1", WalkthroughText(), QRect(0, 24, 281, 353));
    Label2 = MakeHeading(this, "Label2", QStringLiteral("Info:"), QRect(288, 0, 32, 19));
    Memo2 = MakeMemo(this, "Memo2", InfoText(), QRect(304, 24, 313, 329));

    Button1 = new QPushButton(QStringLiteral("&Adios"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(520, 344, 97, 33);
    Button1->setFont(SerifFont(16, {.bold = true}));
    QPalette buttonPalette = Button1->palette();
    buttonPalette.setColor(QPalette::ButtonText, colours::Black);
    Button1->setPalette(buttonPalette);
    (new FocusedButtonKeys(this))->Add(Button1, Qt::Key_A);
    connect(Button1, &QPushButton::clicked, this, &THelpForm::Button1Click);

    // What a screen reader says of the controls: each text box is named by the label above it.
    Label1->setBuddy(Memo1);
    Label2->setBuddy(Memo2);
    Describe(Memo1, QStringLiteral("Walkthrough"), QStringLiteral("How to use the program, step by step"));
    Describe(Memo2, QStringLiteral("Info"), QStringLiteral("How to reach us and order the registered version"));
    Describe(Button1, QStringLiteral("Adios"), QStringLiteral("Closes the help window"));

    setTabOrder(Memo1, Memo2);
    setTabOrder(Memo2, Button1);
    // The walkthrough takes the focus the first time the window is activated.
    Memo1->setFocus();

    resize(OuterSize);
}

void THelpForm::ShowWindow() {
    const bool first = !m_placed;
    if (first) {
        move(FirstPosition);
        m_placed = true;
    }
    BringToFront(*this);
    // The frame is the window system's: take it off the client so that the outer size is the designed one.
    if (first)
        WhenFramed(*this, [this] { resize(OuterSize - (frameGeometry().size() - geometry().size())); });
}

QString THelpForm::WalkthroughText() {
    // Every blank here is part of the text, the doubled ones and those ending the lines included.
    return QStringLiteral("     Click on the little computer icon to bring up the \n"
                          "Open File window.  Now pick a directory that has a\n"
                          "few files in it.  Encrypting or decrypting them all at \n"
                          "once is easy!  Just click and drag a box around all of \n"
                          "the files you want.  Alternately, you can hold down \n"
                          "the CNTRL key and click on individual files. Once \n"
                          "you do that click on OPEN and the files will be \n"
                          "loaded into Veltrane's memory. Now in the \n"
                          "Loaded  Files box you will see a big list of files. Now \n"
                          "click on the text boxes next to 'Key:' and 'Verify:' \n"
                          "Type a password in both of them, the password can \n"
                          "contain any character on your keyboard (not \n"
                          "counting Function keys). Try clicking on Decrypt \n"
                          "(don't worry) Whoa! All the files dissapeared! \n"
                          "Notice the Status Text box, it says some files were \n"
                          "ignored because they were not valid Veltrane \n"
                          "files.  This prevents you from messing anything up. \n"
                          "Now load those files up again, and click on Encrypt, \n"
                          "and there they go.  Don't forget the Key Word you \n"
                          "typed in, because you will need it to decrypt those \n"
                          "files.  Just do what you did before, then click on \n"
                          "Decrypt.  You're all set!");
}

QString THelpForm::InfoText() {
    return QStringLiteral("E-mail: veltrane@example.com\n"
                          "Web: https://www.example.org/veltrane/\n"
                          "\n"
                          "To order the registered version, send $15 (US)\n"
                          "by check or money order to the address below,\n"
                          "or order on our web page by credit card.\n"
                          "Registered users get free updates by e-mail.\n"
                          "Site licenses are available on request.\n"
                          "\n"
                          "Send orders to:\n"
                          "The Veltrane Team\n"
                          "PO Box 1234\n"
                          "Example City, EX 00000\n"
                          "Notes:\n"
                          "     * This edition is completely interchangeable with\n"
                          "the editions of Veltrane for older systems.");
}

} // namespace veltrane
