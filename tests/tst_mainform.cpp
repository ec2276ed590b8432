#include "tst_mainform.h"

#include "main/filechooser.h"
#include "main/portalfilechooser.h"

#include <QAccessibleActionInterface>
#include <QAccessibleTextInterface>
#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTimer>

#include <deque>
#include <optional>

#include <sys/stat.h>

using veltrane::FileChooser;
using veltrane::TApplication;
using veltrane::TMainForm;
using veltrane::TOpenDialog;

namespace {

const QColor Red(0xFF, 0x00, 0x00);
const QColor Yellow(0xFF, 0xFF, 0x00);
const QColor Black(0x00, 0x00, 0x00);

// Types `text` one character at a time, as a keyboard would deliver it.
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

QString TestMainForm::MakeFile(const QString& name, const QByteArray& bytes) const {
    const QString path = Path(name);
    if (!WriteFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestMainForm::Load(const QStringList& paths) {
    Form->OpenDialog().setChooser([paths](QWidget*, const QString&) { return std::optional<QStringList>(paths); });
    Form->FileOpen();
}

void TestMainForm::SetKeys(const QString& key, const QString& verify) {
    Find<QLineEdit>("KeyBox")->setText(key);
    Find<QLineEdit>("VKeyBox")->setText(verify);
}

QStringList TestMainForm::Entries() const {
    QStringList entries;
    const auto* list = Find<QListWidget>("FileList");
    for (int row = 0; row < list->count(); ++row)
        entries.append(list->item(row)->text());
    return entries;
}

void TestMainForm::EncryptOutside(const QString& path, const QByteArray& key) {
    if (!WriteFile(path, Encrypted(ReadFile(path), key)))
        qFatal("cannot encrypt %s for the test", qPrintable(path));
}

void TestMainForm::init() {
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
    ErrorDisplayTexts.clear();
    auto* application = static_cast<TApplication*>(QCoreApplication::instance());
    application->setMessageBoxShower([this](const QString& caption, const QString& text) {
        QCOMPARE(caption, QStringLiteral("Veltrane Encryption"));
        ErrorDisplayTexts.append(text);
    });
    Form = std::make_unique<TMainForm>();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
}

void TestMainForm::cleanup() {
    Form.reset();
    static_cast<TApplication*>(QCoreApplication::instance())->setMessageBoxShower({});
    // Files made read-only by a test must be removable again.
    if (Dir) {
        for (const QFileInfo& info : QDir(Dir->path()).entryInfoList(QDir::Files))
            QFile::setPermissions(info.filePath(), QFile::ReadOwner | QFile::WriteOwner);
    }
    Dir.reset();
}

void TestMainForm::layoutAtStart_data() {
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("KeyLabel") << "ClientArea" << QRect(32, 112, 33, 19);
    QTest::newRow("VKeyLabel") << "ClientArea" << QRect(16, 136, 47, 19);
    QTest::newRow("Image5") << "ClientArea" << QRect(72, 64, 33, 33);
    QTest::newRow("Image2") << "ClientArea" << QRect(192, 64, 33, 33);
    QTest::newRow("KeyBox") << "ClientArea" << QRect(72, 112, 153, 22);
    QTest::newRow("VKeyBox") << "ClientArea" << QRect(72, 136, 153, 22);
    QTest::newRow("EncryptButton") << "ClientArea" << QRect(24, 176, 97, 33);
    QTest::newRow("TopPanel") << "ClientArea" << QRect(0, 0, 640, 53);
    QTest::newRow("LabelTitle") << "TopPanel" << QRect(2, 2, 636, 41);
    QTest::newRow("Panel1") << "ClientArea" << QRect(0, 295, 640, 110);
    QTest::newRow("Image1") << "Panel1" << QRect(16, 8, 113, 97);
    QTest::newRow("PercentDoneGauge") << "Panel1" << QRect(16, 0, 113, 105);
    QTest::newRow("SatusBox") << "Panel1" << QRect(152, 0, 481, 105);
    QTest::newRow("StatusText") << "SatusBox" << QRect(2, 17, 477, 86);
    QTest::newRow("GroupBox1") << "ClientArea" << QRect(272, 64, 361, 193);
    QTest::newRow("FileList") << "GroupBox1" << QRect(2, 18, 351, 173);
    QTest::newRow("DecryptButton") << "ClientArea" << QRect(136, 176, 97, 33);
}

void TestMainForm::layoutAtStart() {
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    const auto* control = Find<QWidget>(QTest::currentDataTag());
    QCOMPARE(control->parentWidget()->objectName(), parentName);
    QCOMPARE(control->geometry(), geometry);

    const QWidget* client = Form->centralWidget();
    QCOMPARE(client->size(), QSize(640, 405));
    // The menu bar sits above the client area, which starts right under it.
    QCOMPARE(client->y(), Form->menuBar()->height());
    QCOMPARE(Form->height(), 405 + Form->menuBar()->height());
    QCOMPARE(Form->pos(), QPoint(-1, -2));
}

void TestMainForm::layoutAfterEnlarging_data() {
    QTest::addColumn<QRect>("geometry");
    // The window grows by 200 x 100: the panels follow, everything else stays.
    QTest::newRow("TopPanel") << QRect(0, 0, 840, 53);
    QTest::newRow("LabelTitle") << QRect(2, 2, 836, 41);
    QTest::newRow("Panel1") << QRect(0, 395, 840, 110);
    QTest::newRow("SatusBox") << QRect(152, 0, 481, 105);
    QTest::newRow("PercentDoneGauge") << QRect(16, 0, 113, 105);
    QTest::newRow("KeyBox") << QRect(72, 112, 153, 22);
    QTest::newRow("VKeyBox") << QRect(72, 136, 153, 22);
    QTest::newRow("EncryptButton") << QRect(24, 176, 97, 33);
    QTest::newRow("DecryptButton") << QRect(136, 176, 97, 33);
    QTest::newRow("Image5") << QRect(72, 64, 33, 33);
    QTest::newRow("Image2") << QRect(192, 64, 33, 33);
    QTest::newRow("GroupBox1") << QRect(272, 64, 361, 193);
    QTest::newRow("FileList") << QRect(2, 18, 351, 173);
}

void TestMainForm::layoutAfterEnlarging() {
    QFETCH(QRect, geometry);
    Form->resize(Form->width() + 200, Form->height() + 100);
    QTRY_COMPARE(Form->centralWidget()->size(), QSize(840, 505));
    QCOMPARE(Find<QWidget>(QTest::currentDataTag())->geometry(), geometry);
    // The title stays centred across its panel.
    QVERIFY(Find<QLabel>("LabelTitle")->alignment() & Qt::AlignHCenter);
}

void TestMainForm::captionsAndColours_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("role");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    const int windowText = QPalette::WindowText;
    QTest::newRow("KeyLabel") << "Key:" << windowText << Red << 16 << true << false;
    QTest::newRow("VKeyLabel") << "Verify:" << windowText << Red << 16 << true << false;
    QTest::newRow("LabelTitle") << "Veltrane!" << windowText << Red << 35 << true << true;
    QTest::newRow("SatusBox") << "Status Box" << windowText << Yellow << 13 << true << false;
    QTest::newRow("GroupBox1") << "Loaded Files" << windowText << Yellow << 13 << true << false;
    QTest::newRow("StatusText") << WelcomeText << windowText << Red << 16 << true << false;
    QTest::newRow("EncryptButton") << "&Encrypt" << int(QPalette::ButtonText) << Red << 16 << true << false;
    QTest::newRow("DecryptButton") << "&Decrypt" << int(QPalette::ButtonText) << Black << 16 << true << false;
    QTest::newRow("KeyBox") << "" << int(QPalette::Text) << Red << 11 << false << false;
    QTest::newRow("VKeyBox") << "" << int(QPalette::Text) << Red << 11 << false << false;
    QTest::newRow("FileList") << "" << int(QPalette::Text) << Red << 11 << false << false;
}

void TestMainForm::captionsAndColours() {
    QFETCH(QString, text);
    QFETCH(int, role);
    QFETCH(QColor, colour);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    const auto* control = Find<QWidget>(QTest::currentDataTag());
    if (const auto* label = qobject_cast<const QLabel*>(control))
        QCOMPARE(label->text(), text);
    else if (const auto* box = qobject_cast<const QGroupBox*>(control))
        QCOMPARE(box->title(), text);
    else if (const auto* button = qobject_cast<const QPushButton*>(control))
        QCOMPARE(button->text(), text);
    QCOMPARE(control->palette().color(static_cast<QPalette::ColorRole>(role)), colour);
    QCOMPARE(control->font().pixelSize(), pixelSize);
    QCOMPARE(control->font().bold(), bold);
    QCOMPARE(control->font().italic(), italic);
}

void TestMainForm::stateAtStart() {
    QCOMPARE(Form->windowTitle(), QStringLiteral("Veltrane Encryption - 32bit"));
    QVERIFY(Find<QLineEdit>("KeyBox")->text().isEmpty());
    QVERIFY(Find<QLineEdit>("VKeyBox")->text().isEmpty());
    QCOMPARE(Find<QListWidget>("FileList")->count(), 0);
    QCOMPARE(Form->LoadedCount(), 0);
    QCOMPARE(Status(), WelcomeText);
    auto* gauge = Find<veltrane::TGauge>("PercentDoneGauge");
    QVERIFY(!gauge->isVisible());
    QCOMPARE(gauge->Progress(), 0);
    QVERIFY(Find<QWidget>("Image1")->isVisible());
    QCOMPARE(Form->focusWidget(), Find<QWidget>("KeyBox"));
    QVERIFY(!Form->windowIcon().isNull());
    // The gauge covers the emblem completely and lies above it.
    const QWidget* emblem = Find<QWidget>("Image1");
    QVERIFY(gauge->geometry().contains(emblem->geometry()));
    const QObjectList& stacking = emblem->parentWidget()->children();
    QVERIFY(stacking.indexOf(gauge) > stacking.indexOf(emblem));
}

void TestMainForm::keyBoxesShowStars_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("letters") << "secret";
    QTest::newRow("blanks kept") << " two  words ";
    QTest::newRow("beyond ASCII") << QStringLiteral("\u00e4\u20ac\u00df!");
    QTest::newRow("long") << QString(300, QLatin1Char('k'));
}

void TestMainForm::keyBoxesShowStars() {
    QFETCH(QString, typed);
    for (const char* name : {"KeyBox", "VKeyBox"}) {
        auto* box = Find<QLineEdit>(name);
        TypeText(box, typed);
        QCOMPARE(box->text(), typed);
        QCOMPARE(box->displayText(), QString(typed.size(), QLatin1Char('*')));
        // Nor does a screen reader learn the key: it is told as many stars.
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
        QVERIFY(accessible->state().passwordEdit);
        QCOMPARE(accessible->text(QAccessible::Value), box->displayText());
        const QString told = accessible->textInterface()->text(0, accessible->textInterface()->characterCount());
        QCOMPARE(told.count(QLatin1Char('*')), told.size());
    }

    // What is drawn must be the stars themselves: the box looks exactly like one showing "*"s.
    auto* box = Find<QLineEdit>("KeyBox");
    box->clearFocus();
    box->setText(QStringLiteral("abc d"));
    QLineEdit reference(box->parentWidget());
    reference.setStyle(box->style());
    reference.setFont(box->font());
    reference.setPalette(box->palette());
    reference.setGeometry(box->geometry());
    reference.setText(QStringLiteral("*****"));
    reference.show();
    QCOMPARE(box->grab().toImage(), reference.grab().toImage());
}

void TestMainForm::menu() {
    auto* bar = Form->menuBar();
    QCOMPARE(bar->objectName(), QStringLiteral("MainMenu"));
    const QList<QAction*> top = bar->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0]->text(), QStringLiteral("&File"));
    QVERIFY(top[0]->menu() != nullptr);
    QCOMPARE(top[1]->objectName(), QStringLiteral("About1"));
    QCOMPARE(top[1]->text(), QStringLiteral("&About"));
    QVERIFY(top[1]->menu() == nullptr);
    QCOMPARE(top[2]->objectName(), QStringLiteral("Readme"));
    QCOMPARE(top[2]->text(), QStringLiteral("&Readme"));
    QVERIFY(top[2]->menu() == nullptr);

    const QList<QAction*> file = top[0]->menu()->actions();
    QCOMPARE(file.size(), 3);
    QCOMPARE(file[0]->objectName(), QStringLiteral("FileOpenItem"));
    QCOMPARE(file[0]->text(), QStringLiteral("&Open..."));
    QVERIFY(file[0]->font().bold());
    QVERIFY(file[1]->isSeparator());
    QCOMPARE(file[2]->objectName(), QStringLiteral("FileExitItem"));
    QCOMPARE(file[2]->text(), QStringLiteral("E&xit"));
    QCOMPARE(file[2]->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
    QCOMPARE(file[2]->shortcut().toString(QKeySequence::NativeText), QStringLiteral("Alt+X"));
}

void TestMainForm::tabOrder() {
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    QCOMPARE(QApplication::focusWidget(), Find<QWidget>("KeyBox"));
    const QStringList forward{"VKeyBox", "EncryptButton", "FileList", "DecryptButton", "KeyBox"};
    for (const QString& name : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
    const QStringList backward{"DecryptButton", "FileList", "EncryptButton", "VKeyBox", "KeyBox"};
    for (const QString& name : backward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void TestMainForm::focusVisible_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("other"); // where the focus goes away to
    QTest::addColumn<bool>("filled");   // files in the list
    QTest::newRow("empty list") << "FileList"
                                << "KeyBox" << false;
    QTest::newRow("list with files") << "FileList"
                                     << "KeyBox" << true;
    QTest::newRow("key box") << "KeyBox"
                             << "DecryptButton" << false;
    QTest::newRow("Encrypt") << "EncryptButton"
                             << "KeyBox" << false;
    QTest::newRow("Decrypt") << "DecryptButton"
                             << "KeyBox" << false;
}

// Keyboard focus shows on each control that takes it: the window looks different around the control
// with the focus on it and away from it.
void TestMainForm::focusVisible() {
    QFETCH(QString, control);
    QFETCH(QString, other);
    QFETCH(bool, filled);
    if (filled)
        Load({MakeFile("a", "x"), MakeFile("b", "x")});
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    // As after moving the focus with the keyboard, which is when styles draw it.
    Form->setAttribute(Qt::WA_KeyboardFocusChange);
    auto* focused = Find<QWidget>(control.toLatin1().constData());
    auto* client = Find<QWidget>("ClientArea");
    const QRect around(focused->mapTo(client, QPoint(-4, -4)), focused->size() + QSize(8, 8));
    QWidget* entries = Find<QListWidget>("FileList")->viewport();
    const QRect entriesBefore(entries->mapTo(client, QPoint(0, 0)), entries->size());
    const auto shot = [&] { return client->grab(around).toImage(); };
    focused->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(focused->hasFocus());
    const QImage with = shot();
    // The list's entries stay where they are whatever the focus.
    QCOMPARE(QRect(entries->mapTo(client, QPoint(0, 0)), entries->size()), entriesBefore);
    Find<QWidget>(other.toLatin1().constData())->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(!focused->hasFocus());
    QVERIFY(with != shot());
    QCOMPARE(QRect(entries->mapTo(client, QPoint(0, 0)), entries->size()), entriesBefore);
}

void TestMainForm::accelerators_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected"); // the control whose command runs, or empty for none
    const int alt = Qt::AltModifier;
    const int none = Qt::NoModifier;
    QTest::newRow("Alt+E in the key box") << "KeyBox" << int(Qt::Key_E) << alt << "EncryptButton";
    QTest::newRow("Alt+D in the list") << "FileList" << int(Qt::Key_D) << alt << "DecryptButton";
    QTest::newRow("E on a button") << "DecryptButton" << int(Qt::Key_E) << none << "EncryptButton";
    QTest::newRow("D on a button") << "EncryptButton" << int(Qt::Key_D) << none << "DecryptButton";
    QTest::newRow("Space on a button") << "DecryptButton" << int(Qt::Key_Space) << none << "DecryptButton";
    QTest::newRow("Enter on a button") << "EncryptButton" << int(Qt::Key_Return) << none << "EncryptButton";
    QTest::newRow("keypad Enter on a button")
        << "DecryptButton" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "DecryptButton";
    QTest::newRow("Shift+E on a button") << "EncryptButton" << int(Qt::Key_E) << int(Qt::ShiftModifier) << "";
    QTest::newRow("Ctrl+D on a button") << "EncryptButton" << int(Qt::Key_D) << int(Qt::ControlModifier) << "";
    QTest::newRow("E in the key box is typed") << "KeyBox" << int(Qt::Key_E) << none << "";
    QTest::newRow("Enter in the key box") << "KeyBox" << int(Qt::Key_Return) << none << "";
    QTest::newRow("Enter in the list") << "FileList" << int(Qt::Key_Return) << none << "";
    QTest::newRow("Alt+A") << "KeyBox" << int(Qt::Key_A) << alt << "About1";
    QTest::newRow("Alt+R") << "FileList" << int(Qt::Key_R) << alt << "Readme";
    QTest::newRow("Alt+X") << "VKeyBox" << int(Qt::Key_X) << alt << "FileExitItem";
}

void TestMainForm::accelerators() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    auto* focused = Find<QWidget>(qPrintable(focus));
    focused->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), focused);

    QSignalSpy encrypt(Find<QPushButton>("EncryptButton"), &QAbstractButton::clicked);
    QSignalSpy decrypt(Find<QPushButton>("DecryptButton"), &QAbstractButton::clicked);
    QSignalSpy about(Find<QAction>("About1"), &QAction::triggered);
    QSignalSpy readme(Find<QAction>("Readme"), &QAction::triggered);
    QSignalSpy exit(Find<QAction>("FileExitItem"), &QAction::triggered);
    QTest::keyClick(focused, static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
    // An accelerator presses its button with the toolkit's short click animation.
    QTest::qWait(250);

    QCOMPARE(encrypt.count(), expected == "EncryptButton" ? 1 : 0);
    QCOMPARE(decrypt.count(), expected == "DecryptButton" ? 1 : 0);
    QCOMPARE(about.count(), expected == "About1" ? 1 : 0);
    QCOMPARE(readme.count(), expected == "Readme" ? 1 : 0);
    QCOMPARE(exit.count(), expected == "FileExitItem" ? 1 : 0);
    if (expected == "FileExitItem")
        QVERIFY(!Form->isVisible());
}

void TestMainForm::loading_data() {
    QTest::addColumn<QList<QStringList>>("answers"); // one per showing; {"<cancel>"} cancels
    QTest::addColumn<QStringList>("entries");
    const QStringList cancel{"<cancel>"};
    QTest::newRow("one file") << QList<QStringList>{{"a"}} << QStringList{"a"};
    QTest::newRow("several, order kept") << QList<QStringList>{{"c", "a", "b"}} << QStringList{"c", "a", "b"};
    QTest::newRow("second loading replaces") << QList<QStringList>{{"a", "b"}, {"c"}} << QStringList{"c"};
    QTest::newRow("cancel keeps the list") << QList<QStringList>{{"a", "b"}, cancel} << QStringList{"a", "b"};
    QTest::newRow("cancel at start") << QList<QStringList>{cancel} << QStringList{};
}

void TestMainForm::loading() {
    QFETCH(QList<QStringList>, answers);
    QFETCH(QStringList, entries);
    for (const char* name : {"a", "b", "c"})
        MakeFile(QLatin1String(name), "x");
    std::deque<QStringList> queue(answers.begin(), answers.end());
    Form->OpenDialog().setChooser([&](QWidget*, const QString&) -> std::optional<QStringList> {
        const QStringList answer = queue.front();
        queue.pop_front();
        if (answer == QStringList{"<cancel>"})
            return std::nullopt;
        QStringList paths;
        for (const QString& name : answer)
            paths.append(Path(name));
        return paths;
    });
    for (qsizetype showing = 0; showing < answers.size(); ++showing)
        Form->FileOpen();

    QStringList expected;
    for (const QString& name : entries)
        expected.append(Path(name));
    QCOMPARE(Entries(), expected);
    QCOMPARE(Form->LoadedCount(), static_cast<int>(entries.size()));
    // Loading never touches the status line.
    QCOMPARE(Status(), WelcomeText);
}

void TestMainForm::loadingPrefillsFirstFileOfPreviousChoice() {
    const QString a = MakeFile("a", "x");
    const QString b = MakeFile("b", "x");
    QStringList prefilled;
    Form->OpenDialog().setChooser([&](QWidget*, const QString& fileName) {
        prefilled.append(fileName);
        return std::optional<QStringList>(QStringList{a, b});
    });
    Form->FileOpen();
    Form->FileOpen();
    QCOMPARE(prefilled, (QStringList{QString(), a}));

    // The program's own dialog: the one filter, the first file of the choice pre-filled, placed
    // centred across the screen and a third of the way down. Cancel it.
    Form->OpenDialog().setChooser({});
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<FileChooser*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        seen = true;
        QCOMPARE(dialog->findChild<QComboBox*>("FileTypeCombo")->currentText(), QStringLiteral("All Files (*)"));
        QCOMPARE(dialog->Folder(), QFile::encodeName(Dir->path()));
        QCOMPARE(dialog->findChild<QLineEdit*>("FileNameEdit")->text(), QStringLiteral("a"));
        const QRect screen = dialog->screen()->geometry();
        const QSize outer = dialog->frameGeometry().size();
        QCOMPARE(dialog->frameGeometry().topLeft(),
                 QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 3));
        dialog->reject();
    });
    Form->FileOpen();
    QVERIFY(seen);
    QCOMPARE(Entries(), (QStringList{a, b}));
    QCOMPARE(Form->LoadedCount(), 2);
}

void TestMainForm::chooserTypedNames_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal"); // a line of the refusal, or empty when accepted
    QTest::addColumn<QStringList>("entries");
    const QStringList none;
    QTest::newRow("two names") << R"("a" "b")"
                               << "" << QStringList{"a", "b"};
    QTest::newRow("one name") << "b"
                              << "" << QStringList{"b"};
    QTest::newRow("full path") << "<dir>/b"
                               << "" << QStringList{"b"};
    QTest::newRow("one of several missing") << R"("a" "missing")"
                                            << "File not found." << none;
    QTest::newRow("missing alone") << "missing"
                                   << "File not found." << none;
    QTest::newRow("folder among files") << R"("a" "sub")"
                                        << "This is not an ordinary file." << none;
    QTest::newRow("read-only") << R"("a" "locked")"
                               << "This file is read-only or lies in a write-protected folder." << none;
    QTest::newRow("a folder alone is entered") << "sub"
                                               << "<sub>" << none;
}

// Names typed into the program's dialog: what it refuses keeps it open with a message and changes nothing.
void TestMainForm::chooserTypedNames() {
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    QFETCH(QStringList, entries);
    MakeFile("a", "x");
    MakeFile("b", "x");
    QVERIFY(QFile::setPermissions(MakeFile("locked", "x"), QFile::ReadOwner));
    QVERIFY(QDir(Dir->path()).mkdir("sub"));
    Form->OpenDialog().setChooser({});
    QStringList messages;
    bool stayedOpen = false;
    QByteArray folderAfter;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<FileChooser*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->OpenFolder(QFile::encodeName(Dir->path()));
        dialog->findChild<QLineEdit*>("FileNameEdit")->setText(QString(typed).replace("<dir>", Dir->path()));
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                messages.append(box->text());
                box->accept();
            }
        });
        QTest::mouseClick(dialog->findChild<QPushButton*>("OpenButton"), Qt::LeftButton);
        QCoreApplication::processEvents();
        stayedOpen = dialog->isVisible();
        folderAfter = dialog->Folder();
        if (stayedOpen)
            dialog->reject();
    });
    Form->FileOpen();
    QStringList expected;
    for (const QString& name : entries)
        expected.append(Path(name));
    QCOMPARE(Entries(), expected);
    QCOMPARE(stayedOpen, !refusal.isEmpty());
    if (refusal == "<sub>") {
        QVERIFY(messages.isEmpty());
        QCOMPARE(folderAfter, QFile::encodeName(Path("sub")));
    } else if (!refusal.isEmpty()) {
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].split('\n').contains(refusal), qPrintable(messages[0]));
    }
}

void TestMainForm::chooserStartAndPlaces_data() {
    QTest::addColumn<QString>("working"); // the working folder: "<dir>" the test folder, or "/"
    QTest::addColumn<QString>("place");   // a place clicked, or empty
    QTest::addColumn<QString>("folder");  // the folder listed then: "<dir>", "<home>" or "/"
    QTest::newRow("in the working folder") << "<dir>"
                                           << ""
                                           << "<dir>";
    QTest::newRow("started in the root folder: home") << "/"
                                                      << ""
                                                      << "<home>";
    QTest::newRow("place Home") << "<dir>"
                                << "Home"
                                << "<home>";
    QTest::newRow("place Computer") << "<dir>"
                                    << "Computer"
                                    << "/";
}

// The program's own chooser starts where the user works, never in the root folder a launcher
// leaves the program in, and its places jump to the usual folders.
void TestMainForm::chooserStartAndPlaces() {
    QFETCH(QString, working);
    QFETCH(QString, place);
    QFETCH(QString, folder);
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(working == "/" ? QStringLiteral("/") : Dir->path()));
    QByteArray listed;
    {
        FileChooser chooser;
        if (!place.isEmpty()) {
            auto* places = chooser.findChild<QListWidget*>("Places");
            QVERIFY(places != nullptr);
            const QList<QListWidgetItem*> found = places->findItems(place, Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            emit places->itemClicked(found.front());
        }
        listed = chooser.Folder();
    }
    QVERIFY(QDir::setCurrent(before));
    const QString expected = folder == "<dir>" ? Dir->path() : folder == "<home>" ? QDir::homePath() : folder;
    QCOMPARE(listed, QFile::encodeName(expected));
}

void TestMainForm::portalAddresses_data() {
    QTest::addColumn<QStringList>("uris");
    QTest::addColumn<QList<QByteArray>>("natives");
    QTest::addColumn<bool>("local");
    QTest::newRow("blank and percent") << QStringList{"file:///home/u/my%20100%25.txt"}
                                       << QList<QByteArray>{"/home/u/my 100%.txt"} << true;
    QTest::newRow("a name that is not UTF-8")
        << QStringList{"file:///tmp/%FF%FEx", "file:///tmp/b"} << QList<QByteArray>{"/tmp/\xff\xfex", "/tmp/b"} << true;
    QTest::newRow("a file elsewhere") << QStringList{"file:///tmp/a", "sftp://host/tmp/b"} << QList<QByteArray>{}
                                      << false;
}

// The desktop's chooser hands back addresses; their bytes are the names on disk exactly.
void TestMainForm::portalAddresses() {
    QFETCH(QStringList, uris);
    QFETCH(QList<QByteArray>, natives);
    QFETCH(bool, local);
    const auto got = veltrane::PortalFileChooser::NativesOfUris(uris);
    QCOMPARE(got.has_value(), local);
    if (got)
        QCOMPARE(QList<QByteArray>(got->begin(), got->end()), natives);
}

void TestMainForm::droppingFiles_data() {
    QTest::addColumn<QStringList>("dropped"); // names in the test folder, or whole addresses with "://"
    QTest::addColumn<QString>("refusal");     // a line of the refusal shown, or empty
    QTest::addColumn<QStringList>("entries");
    const QStringList before{"c"};
    QTest::newRow("two files") << QStringList{"a", "b"} << "" << QStringList{"a", "b"};
    QTest::newRow("blank and percent in the name") << QStringList{"my 100%"} << "" << QStringList{"my 100%"};
    QTest::newRow("a missing file") << QStringList{"a", "missing"} << "File not found." << before;
    QTest::newRow("a folder") << QStringList{"sub", "a"} << "This is not an ordinary file." << before;
    QTest::newRow("not a local file") << QStringList{"https://example.org/a"} << "" << before;
}

// Files dragged from a file manager onto the window load as a choice in the open dialog does.
void TestMainForm::droppingFiles() {
    QFETCH(QStringList, dropped);
    QFETCH(QString, refusal);
    QFETCH(QStringList, entries);
    for (const char* name : {"a", "b", "c", "my 100%"})
        MakeFile(QLatin1String(name), "x");
    QVERIFY(QDir(Dir->path()).mkdir("sub"));
    Load({Path("c")});
    QList<QUrl> urls;
    for (const QString& name : dropped)
        urls.append(name.contains("://") ? QUrl(name) : QUrl::fromLocalFile(Path(name)));
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &enter);
    QCOMPARE(enter.isAccepted(), !dropped.front().contains("://"));
    QStringList messages;
    if (enter.isAccepted()) {
        QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Form.get(), &drop);
        QCOMPARE(drop.isAccepted(), refusal.isEmpty());
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                messages.append(box->text());
                box->accept();
            }
        });
        QTest::qWait(50);
    }
    QStringList expected;
    for (const QString& name : entries)
        expected.append(Path(name));
    QCOMPARE(Entries(), expected);
    QCOMPARE(Form->LoadedCount(), static_cast<int>(entries.size()));
    QCOMPARE(messages.size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty())
        QVERIFY2(messages[0].split('\n').contains(refusal), qPrintable(messages[0]));
}

void TestMainForm::startFiles_data() {
    QTest::addColumn<QStringList>("named"); // names in the test folder
    QTest::addColumn<QString>("refusal");   // a line of the refusal shown, or empty
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("names with spaces") << QStringList{"my letter.txt", " lead and trail "} << ""
                                       << QStringList{"my letter.txt", " lead and trail "};
    QTest::newRow("order kept") << QStringList{"c", "a", "b"} << "" << QStringList{"c", "a", "b"};
    QTest::newRow("a missing file") << QStringList{"a", "missing"} << "File not found." << QStringList{};
    QTest::newRow("a folder") << QStringList{"a", "sub"} << "This is not an ordinary file." << QStringList{};
    QTest::newRow("read-only") << QStringList{"locked"} << "This file is read-only or lies in a write-protected folder."
                               << QStringList{};
}

// Files named on the command line load as a choice in the open dialog does: the same rules, the
// same list and count, the key box keeping the focus for the key.
void TestMainForm::startFiles() {
    QFETCH(QStringList, named);
    QFETCH(QString, refusal);
    QFETCH(QStringList, entries);
    for (const char* name : {"a", "b", "c", "my letter.txt", " lead and trail "})
        MakeFile(QLatin1String(name), "x");
    QVERIFY(QFile::setPermissions(MakeFile("locked", "x"), QFile::ReadOwner));
    QVERIFY(QDir(Dir->path()).mkdir("sub"));
    std::vector<QByteArray> natives;
    for (const QString& name : named)
        natives.push_back(QFile::encodeName(Path(name)));
    QStringList messages;
    Form->LoadStartFiles(natives);
    QTimer::singleShot(0, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messages.append(box->text());
            box->accept();
        }
    });
    QTest::qWait(50);
    QStringList expected;
    for (const QString& name : entries)
        expected.append(Path(name));
    QCOMPARE(Entries(), expected);
    QCOMPARE(Form->LoadedCount(), static_cast<int>(entries.size()));
    QCOMPARE(Form->focusWidget(), Find<QWidget>("KeyBox"));
    QCOMPARE(messages.size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty())
        QVERIFY2(messages[0].split('\n').contains(refusal), qPrintable(messages[0]));
    // The loaded files go through a run as chosen ones do.
    if (!entries.isEmpty()) {
        SetKeys("key", "key");
        Form->EncryptButtonClick();
        QCOMPARE(Status(), EncryptedPhrase);
        QVERIFY(ReadFile(Path(entries.first())).endsWith(Marker));
    }
}

void TestMainForm::accessibleNamesAndRoles_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("focusable");
    QTest::addColumn<QString>("labelledBy");
    const int button = QAccessible::Button;
    const int text = QAccessible::StaticText;
    const QString none;
    QTest::newRow("KeyBox") << int(QAccessible::EditableText) << "Key"
                            << "Type a keyword here. Any character on your keyboard is acceptable" << true
                            << "KeyLabel";
    QTest::newRow("VKeyBox") << int(QAccessible::EditableText) << "Verify"
                             << "Type the same keyword here to make sure you got it right" << true << "VKeyLabel";
    QTest::newRow("KeyLabel") << text << "Key:" << none << false << none;
    QTest::newRow("EncryptButton") << button << "Encrypt"
                                   << "Encrypts or 'Locks' the loaded files" << true << none;
    QTest::newRow("DecryptButton") << button << "Decrypt"
                                   << "Decrypts or 'Unlocks' the loaded files" << true << none;
    QTest::newRow("Image5") << button << "Open"
                            << "Click here to load files to be encrypted or decrypted" << true << none;
    QTest::newRow("Image2") << button << "Exit"
                            << "Exits the program" << true << none;
    QTest::newRow("Image1") << int(QAccessible::Graphic) << "Emblem"
                            << "This symbol means infinity" << false << none;
    QTest::newRow("LabelTitle") << text << "Veltrane!"
                                << "Leave me alone!" << false << none;
    QTest::newRow("FileList") << int(QAccessible::List) << "Loaded Files"
                              << "This tells you what files are ready to be encrypted or decrypted" << true << none;
    QTest::newRow("GroupBox1") << int(QAccessible::Grouping) << "Loaded Files" << none << false << none;
    QTest::newRow("SatusBox") << int(QAccessible::Grouping) << "Status Box" << none << false << none;
    QTest::newRow("StatusText") << int(QAccessible::StatusBar) << WelcomeText << "How the last command went" << false
                                << "SatusBox";
    QTest::newRow("TopPanel") << int(QAccessible::Pane) << none << none << false << none;
    QTest::newRow("Panel1") << int(QAccessible::Pane) << none << none << false << none;
    QTest::newRow("PercentDoneGauge") << int(QAccessible::ProgressBar) << "Percent done"
                                      << "How far the file in hand has got" << false << none;
}

// What a screen reader finds in the window: every control named by its caption and described by its hint.
void TestMainForm::accessibleNamesAndRoles() {
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(bool, focusable);
    QFETCH(QString, labelledBy);
    QWidget* control = Find<QWidget>(QTest::currentDataTag());
    const QStringList labels = labelledBy.isEmpty() ? QStringList() : QStringList{labelledBy};
    QCOMPARE(AccessibleFactsOf(control), (AccessibleFacts{role, name, description, labels}));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QCOMPARE(bool(accessible->state().focusable), focusable);

    // The list's entries are read out as their paths.
    if (QTest::currentDataTag() == QLatin1String("FileList")) {
        const QString file = MakeFile("a b", "x");
        Load({file});
        QCOMPARE(accessible->childCount(), 1);
        QCOMPARE(accessible->child(0)->text(QAccessible::Name), file);
    }
}

void TestMainForm::picturesActAsButtons_data() {
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("how"); // "action", "click", or a key pressed while the picture has the focus
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("presses");
    QTest::addColumn<QString>("keyRoute");
    const int none = Qt::NoModifier;
    QTest::newRow("Open by its press action") << "Image5"
                                              << "action" << none << true << "Alt+F, O";
    QTest::newRow("Exit by its press action") << "Image2"
                                              << "action" << none << true << "Alt+X";
    QTest::newRow("Open by a click") << "Image5"
                                     << "click" << none << true << "Alt+F, O";
    QTest::newRow("Open by Space") << "Image5"
                                   << "Space" << none << true << "Alt+F, O";
    QTest::newRow("Open by Enter") << "Image5"
                                   << "Return" << none << true << "Alt+F, O";
    QTest::newRow("Exit by keypad Enter") << "Image2"
                                          << "Enter" << int(Qt::KeypadModifier) << true << "Alt+X";
    QTest::newRow("not by Ctrl+Space") << "Image5"
                                       << "Space" << int(Qt::ControlModifier) << false << "Alt+F, O";
    QTest::newRow("not by a letter") << "Image2"
                                     << "O" << none << false << "Alt+X";
}

// The computer and the stop sign are buttons to a screen reader: pressable through its action, named
// with the keys of their menu entries, and pressed by Space or Enter once they hold the focus.
void TestMainForm::picturesActAsButtons() {
    QFETCH(QString, picture);
    QFETCH(QString, how);
    QFETCH(int, modifiers);
    QFETCH(bool, presses);
    QFETCH(QString, keyRoute);
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    int dialogs = 0;
    Form->OpenDialog().setChooser([&](QWidget*, const QString&) {
        ++dialogs;
        return std::optional<QStringList>();
    });
    auto* image = Find<QWidget>(qPrintable(picture));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(image);
    QAccessibleActionInterface* actions = accessible->actionInterface();
    QVERIFY(actions != nullptr);
    QCOMPARE(actions->actionNames().value(0), QAccessibleActionInterface::pressAction());
    QCOMPARE(actions->keyBindingsForAction(QAccessibleActionInterface::pressAction()), QStringList{keyRoute});

    if (how == "action") {
        actions->doAction(QAccessibleActionInterface::pressAction());
        // The command runs once the request has been answered, not inside it.
        QCOMPARE(dialogs, 0);
        QVERIFY(Form->isVisible());
        QCoreApplication::processEvents();
    } else if (how == "click") {
        QTest::mouseClick(image, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), image);
    } else {
        image->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), image);
        const QKeySequence key = QKeySequence::fromString(how);
        QTest::keyClick(image, static_cast<Qt::Key>(key[0].key()), static_cast<Qt::KeyboardModifiers>(modifiers));
    }
    const bool opened = dialogs == 1;
    const bool exited = !Form->isVisible();
    QCOMPARE(picture == "Image5" ? opened : exited, presses);
    QVERIFY(picture == "Image5" ? !exited : !opened);
}

void TestMainForm::readOnlyFileRefused() {
    const QString a = MakeFile("a", "x");
    const QString locked = MakeFile("locked", "x");
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY(TOpenDialog::IsReadOnly(locked));
    QVERIFY(!TOpenDialog::IsReadOnly(a));
    Load({a});
    Load({a, locked});
    QCOMPARE(Entries(), QStringList{a});
    QCOMPARE(Form->LoadedCount(), 1);
}

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    TestMainForm test;
    return QTest::qExec(&test, argc, argv);
}
