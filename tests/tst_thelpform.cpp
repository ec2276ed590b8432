// The help window driven as a user would: its texts, layout, showing and hiding, and what typing does.

#include "help/thelpform.h"
#include "tests/support/windowchecks.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using veltrane::THelpForm;
using namespace veltrane::testsupport;

class TestHelpForm : public QObject {
    Q_OBJECT

private slots:
    void walkthroughLine_data();
    void walkthroughLine();
    void walkthroughShape();
    void infoTextShape();
    void infoTextUsesExampleAddressesOnly();
    void layout_data();
    void layout();
    void memosAreEditableWrappingScratchPads();
    void walkthroughLinesFitTheBox();
    void resizingMovesNothing();
    void firstShowingPlacement();
    void showRaiseAndSingleInstance();
    void closingOnlyHides_data();
    void closingOnlyHides();
    void typedTextSurvivesCloseAndReopen();
    void tabWalksTheControls();
    void accelerators_data();
    void accelerators();
    void noHints();
    void accessibleNamesAndRoles_data();
    void accessibleNamesAndRoles();
    void screenshot();
};

// The walkthrough as designed, line by line. Kept here independently of the window's source so that a slip in
// either shows up as a difference.
void TestHelpForm::walkthroughLine_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("text");
    const char* const lines[] = {
        "     Click on the little computer icon to bring up the ",
        "Open File window.  Now pick a directory that has a",
        "few files in it.  Encrypting or decrypting them all at ",
        "once is easy!  Just click and drag a box around all of ",
        "the files you want.  Alternately, you can hold down ",
        "the CNTRL key and click on individual files. Once ",
        "you do that click on OPEN and the files will be ",
        "loaded into Veltrane's memory. Now in the ",
        "Loaded  Files box you will see a big list of files. Now ",
        "click on the text boxes next to 'Key:' and 'Verify:' ",
        "Type a password in both of them, the password can ",
        "contain any character on your keyboard (not ",
        "counting Function keys). Try clicking on Decrypt ",
        "(don't worry) Whoa! All the files dissapeared! ",
        "Notice the Status Text box, it says some files were ",
        "ignored because they were not valid Veltrane ",
        "files.  This prevents you from messing anything up. ",
        "Now load those files up again, and click on Encrypt, ",
        "and there they go.  Don't forget the Key Word you ",
        "typed in, because you will need it to decrypt those ",
        "files.  Just do what you did before, then click on ",
        "Decrypt.  You're all set!",
    };
    int number = 1;
    for (const char* text : lines) {
        QTest::addRow("line %d", number) << number << QString::fromLatin1(text);
        ++number;
    }
}

void TestHelpForm::walkthroughLine() {
    QFETCH(int, line);
    QFETCH(QString, text);
    THelpForm form;
    const QStringList lines = form.Memo1->toPlainText().split(QLatin1Char('\n'));
    QVERIFY(line <= lines.size());
    const QString actual = lines.at(line - 1);
    for (qsizetype i = 0; i < std::min(actual.size(), text.size()); ++i)
        QVERIFY2(actual.at(i) == text.at(i), qPrintable(QStringLiteral("column %1: '%2'").arg(i + 1).arg(actual)));
    QCOMPARE(actual, text);
}

void TestHelpForm::walkthroughShape() {
    THelpForm form;
    const QString text = form.Memo1->toPlainText();
    QCOMPARE(text.count(QLatin1Char('\n')), 21);
    QVERIFY(!text.endsWith(QLatin1Char('\n')));
    QVERIFY(!text.contains(QLatin1Char('\r')));
    QCOMPARE(form.Memo1->document()->blockCount(), 22);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const bool blankEnd = lines.at(i).endsWith(QLatin1Char(' '));
        QCOMPARE(blankEnd, i != 1 && i != 21);
    }
}

void TestHelpForm::infoTextShape() {
    THelpForm form;
    const QStringList lines = form.Memo2->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 16);
    QVERIFY(lines.at(0).contains(QLatin1Char('@')));
    QVERIFY(lines.at(1).contains(QLatin1String("www.")));
    QVERIFY(lines.at(2).isEmpty());
    for (int i = 3; i < 8; ++i)
        QVERIFY2(!lines.at(i).trimmed().isEmpty(), qPrintable(QString::number(i + 1)));
    QVERIFY(lines.at(8).isEmpty());
    for (int i = 9; i < 13; ++i)
        QVERIFY2(!lines.at(i).trimmed().isEmpty(), qPrintable(QString::number(i + 1)));
    QCOMPARE(lines.at(13), QStringLiteral("Notes:"));
    QVERIFY(lines.at(14).startsWith(QLatin1String("     *")));
    QVERIFY(lines.at(14).contains(QLatin1String("interchangeable")));
    QVERIFY(!lines.at(15).trimmed().isEmpty());
}

void TestHelpForm::infoTextUsesExampleAddressesOnly() {
    const QString text = THelpForm::InfoText();
    const QRegularExpression host(QStringLiteral(R"((?:@|www\.|://)([A-Za-z0-9.-]+))"));
    int hosts = 0;
    for (auto it = host.globalMatch(text); it.hasNext();) {
        const QString name = it.next().captured(1).toLower();
        QVERIFY2(name.endsWith(QLatin1String("example.com")) || name.endsWith(QLatin1String("example.org")),
                 qPrintable(name));
        ++hosts;
    }
    QVERIFY(hosts >= 2);
}

void TestHelpForm::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::newRow("Label1") << "Label1" << QRect(0, 0, 92, 19) << 16 << true;
    QTest::newRow("Label2") << "Label2" << QRect(288, 0, 32, 19) << 16 << true;
    QTest::newRow("Memo1") << "Memo1" << QRect(0, 24, 281, 353) << 13 << false;
    QTest::newRow("Memo2") << "Memo2" << QRect(304, 24, 313, 329) << 13 << false;
    QTest::newRow("Button1") << "Button1" << QRect(520, 344, 97, 33) << 16 << true;
}

void TestHelpForm::layout() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    THelpForm form;
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), &form);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        // A label may grow to the right to show its whole caption, never shrink or move.
        QCOMPARE(label->pos(), geometry.topLeft());
        QCOMPARE(label->height(), geometry.height());
        QVERIFY(label->width() >= geometry.width());
        QVERIFY(label->width() >= QFontMetrics(label->font()).horizontalAdvance(label->text()));
    } else {
        QCOMPARE(widget->geometry(), geometry);
    }
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(widget->font().bold(), bold);
    QVERIFY(!widget->font().italic());
}

void TestHelpForm::memosAreEditableWrappingScratchPads() {
    THelpForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Help!"));
    QCOMPARE(form.Label1->text(), QStringLiteral("Walkthrough:"));
    QCOMPARE(form.Label2->text(), QStringLiteral("Info:"));
    QCOMPARE(form.Button1->text(), QStringLiteral("&Adios"));
    QCOMPARE(form.Label1->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    for (QPlainTextEdit* memo : {form.Memo1, form.Memo2}) {
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->frameShape(), QFrame::NoFrame);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memo->wordWrapMode(), QTextOption::WordWrap);
        QCOMPARE(memo->palette().color(QPalette::Text), QColor(255, 0, 0));
        QCOMPARE(memo->palette().color(QPalette::Base), QColor(0, 0, 0));
    }
}

void TestHelpForm::walkthroughLinesFitTheBox() {
    // The walkthrough was broken into lines by hand to fit its box: none may wrap a second time.
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QTextDocument* document = form.Memo1->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QVERIFY(block.layout());
        QVERIFY2(block.layout()->lineCount() == 1, qPrintable(block.text()));
    }
    // And text longer than the box does wrap, at a word boundary.
    form.Memo1->setPlainText(QStringLiteral("word ").repeated(100));
    QTest::qWait(0);
    const QTextBlock block = form.Memo1->document()->begin();
    QVERIFY(block.layout()->lineCount() > 1);
    const QTextLine first = block.layout()->lineAt(0);
    QCOMPARE(block.text().at(first.textStart() + first.textLength() - 1), QLatin1Char(' '));
}

void TestHelpForm::resizingMovesNothing() {
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<QRect> before;
    const auto children = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        before.append(child->geometry());
    for (const QSize size : {QSize(900, 700), QSize(200, 150)}) {
        form.resize(size);
        QCOMPARE(form.size(), size);
        for (int i = 0; i < children.size(); ++i)
            QCOMPARE(children.at(i)->geometry(), before.at(i));
    }
}

void TestHelpForm::firstShowingPlacement() {
    THelpForm form;
    QVERIFY(!form.isVisible());
    form.ShowWindow();
    // Read before events run: the headless test platform later nudges a frame off negative coordinates by itself.
    QCOMPARE(form.frameGeometry().topLeft(), QPoint(-1, 36));
    QCOMPARE(form.frameGeometry().size(), QSize(632, 413));
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.frameGeometry().size(), QSize(632, 413));
    QVERIFY(form.minimumSize() != form.maximumSize());

    // Moved and resized by the user, it comes back as it was left.
    form.move(40, 70);
    form.resize(500, 300);
    form.close();
    form.ShowWindow();
    QCOMPARE(form.pos(), QPoint(40, 70));
    QCOMPARE(form.size(), QSize(500, 300));
}

void TestHelpForm::showRaiseAndSingleInstance() {
    THelpForm form;
    CheckShowingRaisesTheOneWindow(form);
}

void TestHelpForm::closingOnlyHides_data() {
    QTest::addColumn<int>("route");
    QTest::newRow("Adios button") << 0;
    QTest::newRow("close box / close key") << 1;
    QTest::newRow("Button1Click") << 2;
}

void TestHelpForm::closingOnlyHides() {
    QFETCH(int, route);
    CheckClosingOnlyHides(route, &THelpForm::Button1, &THelpForm::Button1Click);
}

void TestHelpForm::typedTextSurvivesCloseAndReopen() {
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Memo1->moveCursor(QTextCursor::Start);
    QTest::keyClicks(form.Memo1, QStringLiteral("Hello"));
    QTest::keyClick(form.Memo1, Qt::Key_Return);
    const QString typed = form.Memo1->toPlainText();
    QVERIFY(typed.startsWith(QLatin1String("Hello\n     Click on")));
    QCOMPARE(typed.count(QLatin1Char('\n')), 22);

    form.Button1Click();
    QVERIFY(!form.isVisible());
    form.ShowWindow();
    QCOMPARE(form.Memo1->toPlainText(), typed);

    // A fresh window starts from the designed text again: nothing was saved.
    THelpForm fresh;
    QCOMPARE(fresh.Memo1->toPlainText(), THelpForm::WalkthroughText());
}

void TestHelpForm::tabWalksTheControls() {
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(form.focusWidget(), form.Memo1);
    const QString before = form.Memo1->toPlainText();
    QTest::keyClick(form.Memo1, Qt::Key_Tab);
    QCOMPARE(form.focusWidget(), form.Memo2);
    QTest::keyClick(form.Memo2, Qt::Key_Tab);
    QCOMPARE(form.focusWidget(), form.Button1);
    QTest::keyClick(form.Button1, Qt::Key_Tab);
    QCOMPARE(form.focusWidget(), form.Memo1);
    QTest::keyClick(form.Memo1, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(form.focusWidget(), form.Button1);
    QCOMPARE(form.Memo1->toPlainText(), before);
    QVERIFY(!form.Memo2->toPlainText().contains(QLatin1Char('\t')));
}

void TestHelpForm::accelerators_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");
    const int a = Qt::Key_A;
    QTest::newRow("Alt+A in the walkthrough") << "Memo1" << a << int(Qt::AltModifier) << true;
    QTest::newRow("Alt+A in the info text") << "Memo2" << a << int(Qt::AltModifier) << true;
    QTest::newRow("A on the button") << "Button1" << a << int(Qt::NoModifier) << true;
    QTest::newRow("Shift+A on the button") << "Button1" << a << int(Qt::ShiftModifier) << false;
    QTest::newRow("Enter on the button") << "Button1" << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
    QTest::newRow("A in the walkthrough types") << "Memo1" << a << int(Qt::NoModifier) << false;
    QTest::newRow("Enter in the walkthrough") << "Memo1" << int(Qt::Key_Return) << int(Qt::NoModifier) << false;
}

void TestHelpForm::accelerators() {
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* widget = form.findChild<QWidget*>(target);
    widget->setFocus();
    const QString before = form.Memo1->toPlainText();
    QTest::keyClick(widget, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    // An accelerator presses the button the way a click does, with its short visible press first.
    if (closes)
        QTRY_VERIFY(!form.isVisible());
    else
        QTest::qWait(250);
    QCOMPARE(form.isVisible(), !closes);
    QCOMPARE(form.Memo1->toPlainText() != before, !closes && target == QLatin1String("Memo1"));
}

void TestHelpForm::noHints() {
    THelpForm form;
    QVERIFY(form.toolTip().isEmpty());
    const auto children = form.findChildren<QWidget*>();
    QVERIFY(children.size() >= 5);
    for (QWidget* child : children)
        QVERIFY2(child->toolTip().isEmpty(), qPrintable(child->objectName()));
}

void TestHelpForm::accessibleNamesAndRoles_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("labelledBy");
    const int text = QAccessible::StaticText;
    const QString none;
    QTest::newRow("HelpForm") << int(QAccessible::Window) << "Help!" << none << none;
    QTest::newRow("Label1") << text << "Walkthrough:" << none << none;
    QTest::newRow("Label2") << text << "Info:" << none << none;
    QTest::newRow("Memo1") << int(QAccessible::EditableText) << "Walkthrough"
                           << "How to use the program, step by step"
                           << "Label1";
    QTest::newRow("Memo2") << int(QAccessible::EditableText) << "Info"
                           << "How to reach us and order the registered version"
                           << "Label2";
    QTest::newRow("Button1") << int(QAccessible::Button) << "Adios"
                             << "Closes the help window" << none;
}

// What a screen reader finds: each text box named after the label above it, the button by its caption.
void TestHelpForm::accessibleNamesAndRoles() {
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, labelledBy);
    THelpForm form;
    const QLatin1String tag(QTest::currentDataTag());
    QWidget* control = tag == form.objectName() ? &form : form.findChild<QWidget*>(tag);
    const QStringList labels = labelledBy.isEmpty() ? QStringList() : QStringList{labelledBy};
    QCOMPARE(AccessibleFactsOf(control), (AccessibleFacts{role, name, description, labels}));
}

void TestHelpForm::screenshot() {
    THelpForm form;
    form.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage image = form.grab().toImage();
    QCOMPARE(image.size(), form.size());
    // Black ground, yellow heading, red text: sample a pixel of each.
    QCOMPARE(QColor(image.pixel(620, 10)), QColor(0, 0, 0));
    bool yellow = false;
    bool red = false;
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 92; ++x)
            yellow |= image.pixel(x, y) == qRgb(255, 255, 0);
    for (int y = 24; y < 60; ++y)
        for (int x = 0; x < 281; ++x)
            red |= image.pixel(x, y) == qRgb(255, 0, 0);
    QVERIFY(yellow);
    QVERIFY(red);
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/thelpform.png");
    QVERIFY(image.save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

QTEST_MAIN(TestHelpForm)
#include "tst_thelpform.moc"
