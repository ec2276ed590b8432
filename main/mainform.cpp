#include "main/mainform.h"

#include "gauge/tgauge.h"
#include "main/gaugeprogressdisplay.h"
#include "main/handlerfailureevent.h"
#include "main/runeventpump.h"
#include "main/timage.h"
#include "main/topendialog.h"
#include "main/windowphrases.h"
#include "resources/accessiblerole.h"
#include "resources/colours.h"
#include "resources/focusedbuttonkeys.h"
#include "resources/fonts.h"
#include "resources/pictures.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegion>
#include <QStyleFactory>

#include <limits>

namespace veltrane {

namespace {

// The designed client area; the menu bar sits above it.
constexpr int ClientWidth = 640;
constexpr int ClientHeight = 405;
constexpr int TopPanelHeight = 53;
constexpr int Panel1Height = 110;
// The list's place in its box.
constexpr QRect FileListArea(2, 18, 351, 173);

// The key boxes' style: one "*" per hidden character, whatever the style would draw.
class PasswordStarStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return u'*';
        // No delay in which the last typed character would show in clear.
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The window's labels: Times New Roman 16 px bold, red on black.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    return veltrane::MakeLabel(parent, name, text, geometry, SerifFont(16, {.bold = true}), colours::Red);
}

QLineEdit* MakeKeyBox(QWidget* parent, const char* name, const QRect& geometry, QStyle* style) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    box->setFont(SerifFont(11));
    box->setStyle(style);
    box->setEchoMode(QLineEdit::Password);
    // Files dropped on a key box load like files dropped anywhere else on the window; a dropped path
    // is never typed in as a key.
    box->setAcceptDrops(false);
    // Keys of any length: the box sets no limit of its own.
    box->setMaxLength(std::numeric_limits<int>::max());
    // Only the text and its field are coloured; the frame keeps the style's own shades, which
    // would vanish if derived from a black window colour.
    QPalette palette = box->palette();
    palette.setColor(QPalette::Text, colours::Red);
    palette.setColor(QPalette::Base, colours::Black);
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Window));
    box->setPalette(palette);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                        const QColor& captionColour) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setFont(SerifFont(16, {.bold = true}));
    // No button is the default: Enter in a key box or the list presses nothing.
    button->setAutoDefault(false);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, captionColour);
    button->setPalette(palette);
    return button;
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    box->setFont(SerifFont(13, {.bold = true}));
    SetColours(box, colours::Yellow, colours::Black);
    return box;
}

// A status phrase as a screen reader should say it: without the blanks and dots that pad it to cover
// the phrase before it on screen.
QString SpokenPhrase(const QString& phrase) {
    QString spoken = phrase.trimmed();
    qsizetype dots = 0;
    while (dots < spoken.size() && spoken[spoken.size() - 1 - dots] == QLatin1Char('.'))
        ++dots;
    if (dots > 3)
        spoken.chop(dots - 3);
    return spoken;
}

TImage* MakePicture(QWidget* parent, const char* name, const QString& picture, const QRect& geometry) {
    auto* image = new TImage(parent);
    image->setObjectName(QLatin1String(name));
    image->setGeometry(geometry);
    image->setPicture(picture);
    return image;
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Veltrane Encryption - 32bit"));
    setWindowIcon(ProgramIcon());

    CreateMenu();
    CreateControls();
    ConnectHandlers();
    setAcceptDrops(true);
    // Files that a killed or crashed run left part-way are named in place of the welcome.
    if (const QString notice = InterruptedNotice(InterruptedFiles(m_unit.Hints)); !notice.isEmpty())
        StatusText->setText(notice);

    resize(ClientWidth, ClientHeight + MainMenu->sizeHint().height());
    move(-1, -2);
    KeyBox->setFocus();
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateMenu() {
    MainMenu = menuBar();
    MainMenu->setObjectName(QStringLiteral("MainMenu"));

    FileMenu = MainMenu->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));

    FileOpenItem = FileMenu->addAction(QStringLiteral("&Open..."));
    FileOpenItem->setObjectName(QStringLiteral("FileOpenItem"));
    QFont defaultEntry = FileOpenItem->font();
    defaultEntry.setBold(true);
    FileOpenItem->setFont(defaultEntry);

    N4 = FileMenu->addSeparator();
    N4->setObjectName(QStringLiteral("N4"));

    FileExitItem = FileMenu->addAction(QStringLiteral("E&xit"));
    FileExitItem->setObjectName(QStringLiteral("FileExitItem"));
    FileExitItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    // Alt+X works from anywhere in the window, also while the File drop-down is closed.
    FileExitItem->setShortcutContext(Qt::WindowShortcut);
    addAction(FileExitItem);

    About1 = MainMenu->addAction(QStringLiteral("&About"));
    About1->setObjectName(QStringLiteral("About1"));
    Readme = MainMenu->addAction(QStringLiteral("&Readme"));
    Readme->setObjectName(QStringLiteral("Readme"));
}

void TMainForm::CreateControls() {
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    SetColours(ClientArea, colours::Red, colours::Black);
    setCentralWidget(ClientArea);
    ClientArea->resize(ClientWidth, ClientHeight);
    ClientArea->installEventFilter(this);

    auto* keyBoxStyle = new PasswordStarStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    keyBoxStyle->setParent(this);

    // Creation order decides what is drawn above what where controls overlap.
    KeyLabel = MakeLabel(ClientArea, "KeyLabel", QStringLiteral("Key:"), {32, 112, 33, 19});
    VKeyLabel = MakeLabel(ClientArea, "VKeyLabel", QStringLiteral("Verify:"), {16, 136, 47, 19});
    Image5 = MakePicture(ClientArea, "Image5", QStringLiteral("open32"), {72, 64, 33, 33});
    Image2 = MakePicture(ClientArea, "Image2", QStringLiteral("stop32"), {192, 64, 33, 33});
    KeyBox = MakeKeyBox(ClientArea, "KeyBox", {72, 112, 153, 22}, keyBoxStyle);
    VKeyBox = MakeKeyBox(ClientArea, "VKeyBox", {72, 136, 153, 22}, keyBoxStyle);
    EncryptButton =
        MakeButton(ClientArea, "EncryptButton", QStringLiteral("&Encrypt"), {24, 176, 97, 33}, colours::Red);

    TopPanel = new QFrame(ClientArea);
    TopPanel->setObjectName(QStringLiteral("TopPanel"));
    // A raised outer and a raised inner bevel of one pixel each.
    TopPanel->setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    SetColours(TopPanel, colours::Red, colours::Black);
    // The panels only group controls: to a screen reader they are panes, not windows ("frames").
    SetAccessibleRole(*TopPanel, QAccessible::Pane);

    LabelTitle = new QLabel(QStringLiteral("Veltrane!"), TopPanel);
    LabelTitle->setObjectName(QStringLiteral("LabelTitle"));
    LabelTitle->setFont(SerifFont(35, {.bold = true, .italic = true}));
    LabelTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    SetColours(LabelTitle, colours::Red, colours::Black);

    Panel1 = new QFrame(ClientArea);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    SetColours(Panel1, colours::Red, colours::Black);
    SetAccessibleRole(*Panel1, QAccessible::Pane);

    Image1 = MakePicture(Panel1, "Image1", QStringLiteral("emblem"), {16, 8, 113, 97});

    PercentDoneGauge = new TGauge(Panel1);
    PercentDoneGauge->setObjectName(QStringLiteral("PercentDoneGauge"));
    ConfigurePercentDoneGauge(*PercentDoneGauge);
    PercentDoneGauge->setGeometry(16, 0, 113, 105);
    PercentDoneGauge->setVisible(false);
    m_gaugeDisplay = std::make_unique<GaugeProgressDisplay>(*PercentDoneGauge);

    SatusBox = MakeGroupBox(Panel1, "SatusBox", QStringLiteral("Status Box"), {152, 0, 481, 105});
    StatusText = MakeLabel(SatusBox, "StatusText", WelcomeText, {2, 17, 477, 86});
    // The status line is the window's status bar to a screen reader, which presents each phrase as its
    // name changes; set before anything asks for the line's accessible interface, which is kept.
    SetAccessibleRole(*StatusText, QAccessible::StatusBar);
    StatusText->setWordWrap(true);

    GroupBox1 = MakeGroupBox(ClientArea, "GroupBox1", QStringLiteral("Loaded Files"), {272, 64, 361, 193});
    FileList = new QListWidget(GroupBox1);
    FileList->setObjectName(QStringLiteral("FileList"));
    FileList->setGeometry(FileListArea);
    FileList->setFont(SerifFont(11));
    FileList->setFrameShape(QFrame::NoFrame);
    FileList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Long paths are cut at the right edge, not shortened with an ellipsis or wrapped.
    FileList->setTextElideMode(Qt::ElideNone);
    FileList->setWordWrap(false);
    FileList->setUniformItemSizes(true);
    // The layout done before each immediate repaint of a run covers the first rows only, not all of a
    // long queue once per file; the event loop lays out the rest.
    FileList->setLayoutMode(QListView::Batched);
    SetColours(FileList, colours::Red, colours::Black);
    FileList->installEventFilter(this);

    DecryptButton =
        MakeButton(ClientArea, "DecryptButton", QStringLiteral("&Decrypt"), {136, 176, 97, 33}, colours::Black);

    m_openDialog = new TOpenDialog(this);

    KeyLabel->setBuddy(KeyBox);
    VKeyLabel->setBuddy(VKeyBox);
    Image5->setActsAsButton(true);
    Image5->setKeyRoute(QStringLiteral("Alt+F, O"));
    Image2->setActsAsButton(true);
    Image2->setKeyRoute(QStringLiteral("Alt+X"));
    Hint(LabelTitle, LabelTitle->text(), QStringLiteral("Leave me alone!"));
    Hint(Image5, QStringLiteral("Open"), QStringLiteral("Click here to load files to be encrypted or decrypted"));
    Hint(Image2, QStringLiteral("Exit"), QStringLiteral("Exits the program"));
    Hint(KeyBox, QStringLiteral("Key"),
         QStringLiteral("Type a keyword here. Any character on your keyboard is acceptable"));
    Hint(VKeyBox, QStringLiteral("Verify"), QStringLiteral("Type the same keyword here to make sure you got it right"));
    Hint(EncryptButton, QStringLiteral("Encrypt"), QStringLiteral("Encrypts or 'Locks' the loaded files"));
    Describe(DecryptButton, QStringLiteral("Decrypt"), QStringLiteral("Decrypts or 'Unlocks' the loaded files"));
    Hint(Image1, QStringLiteral("Emblem"), QStringLiteral("This symbol means infinity"));
    Hint(FileList, GroupBox1->title(),
         QStringLiteral("This tells you what files are ready to be encrypted or decrypted"));
    Describe(PercentDoneGauge, QStringLiteral("Percent done"), QStringLiteral("How far the file in hand has got"));
    Describe(StatusText, SpokenPhrase(StatusText->text()), QStringLiteral("How the last command went"));

    setTabOrder(KeyBox, VKeyBox);
    setTabOrder(VKeyBox, EncryptButton);
    setTabOrder(EncryptButton, FileList);
    setTabOrder(FileList, DecryptButton);
    auto* buttonKeys = new FocusedButtonKeys(this);
    buttonKeys->Add(EncryptButton, Qt::Key_E);
    buttonKeys->Add(DecryptButton, Qt::Key_D);

    LayOutClientArea();
}

void TMainForm::ConnectHandlers() {
    connect(FileOpenItem, &QAction::triggered, this, [this] { Handle([this] { FileOpen(); }); });
    connect(Image5, &TImage::clicked, this, [this] { Handle([this] { FileOpen(); }); });
    connect(FileExitItem, &QAction::triggered, this, [this] { Handle([this] { FileExit(); }); });
    connect(Image2, &TImage::clicked, this, [this] { Handle([this] { FileExit(); }); });
    connect(About1, &QAction::triggered, this, [this] { Handle([this] { HelpAbout(); }); });
    connect(Readme, &QAction::triggered, this, [this] { Handle([this] { ReadmeClick(); }); });
    connect(EncryptButton, &QPushButton::clicked, this, [this] { Handle([this] { EncryptButtonClick(); }); });
    connect(DecryptButton, &QPushButton::clicked, this, [this] { Handle([this] { DecryptButtonClick(); }); });
}

void TMainForm::Handle(const std::function<void()>& handler) {
    if (m_runPump)
        m_waitingHandlers.push_back(handler);
    else
        RunHandler(handler);
}

// The panels keep the full width at top and bottom, the title stays centred across its panel, and
// everything else keeps its place relative to the top-left corner.
void TMainForm::LayOutClientArea() {
    const int width = ClientArea->width();
    const int height = ClientArea->height();
    TopPanel->setGeometry(0, 0, width, TopPanelHeight);
    LabelTitle->setGeometry(2, 2, width - 4, 41);
    Panel1->setGeometry(0, height - Panel1Height, width, Panel1Height);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ClientArea && event->type() == QEvent::Resize)
        LayOutClientArea();
    if (watched == FileList && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        ShowListFocus(event->type() == QEvent::FocusIn);
    return QMainWindow::eventFilter(watched, event);
}

// The list has no frame of its own, and the style's mark of focus on the current entry is faint, and
// absent from an empty list; so keyboard focus draws a 2-pixel frame around the list, in the space
// between it and its box, with the entries staying where they are.
void TMainForm::ShowListFocus(bool focused) {
    constexpr int Width = 2;
    if (focused) {
        FileList->setGeometry(FileListArea.adjusted(-Width, -Width, Width, Width));
        FileList->setFrameStyle(QFrame::Box | QFrame::Plain);
        FileList->setLineWidth(Width);
    } else {
        FileList->setFrameStyle(QFrame::NoFrame);
        FileList->setGeometry(FileListArea);
    }
}

void TMainForm::SetStatus(const QString& phrase, bool repaintNow) {
    // Every phrase is announced once, as it comes: a new name announces itself, and a phrase that
    // repeats the one before it (each file's completion) is announced anew.
    const QString spoken = SpokenPhrase(phrase);
    if (StatusText->accessibleName() != spoken) {
        StatusText->setAccessibleName(spoken);
    } else {
        QAccessibleEvent announcement(StatusText, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&announcement);
    }
    // During a run the status line shows only the phrases due at once; the others wait for the run's
    // end, when the last of them shows. Repaints that the window system asks for in between show the
    // phrase last drawn.
    if (m_runPump && !repaintNow) {
        m_heldStatus = phrase;
        return;
    }
    m_heldStatus.reset();
    StatusText->setText(phrase);
    if (repaintNow)
        StatusText->repaint();
}

// The entries are drawn by the list's viewport, which covers the borderless list completely; Qt
// skips a repaint of the list itself when opaque children cover it, so the viewport is asked too.
// A change of the entries only schedules the list's item layout for the event loop, and until it
// runs the list paints no rows at all: during a run, which holds the loop, the queue would look
// empty. So the layout is done here, before the paint.
void TMainForm::RepaintFileList() {
    FileList->doItemsLayout();
    FileList->repaint();
    FileList->viewport()->repaint();
}

// The window's own surface is its black background with the labels and pictures placed directly on
// it; controls with a surface of their own are left out of the region, so they are not redrawn.
void TMainForm::RepaintOwnSurface() {
    QRegion surface(ClientArea->rect());
    for (const QWidget* control : std::initializer_list<const QWidget*>{TopPanel, Panel1, GroupBox1, KeyBox, VKeyBox,
                                                                        EncryptButton, DecryptButton})
        surface -= control->geometry();
    ClientArea->repaint(surface);
}

} // namespace veltrane
