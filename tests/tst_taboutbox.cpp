// The About window driven as a user would: layout, first placement and remembered position, the keys, and
// showing and hiding.

#include "About/taboutbox.h"
#include "tests/support/windowchecks.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using veltrane::TAboutBox;
using namespace veltrane::testsupport;

class TestAboutBox : public QObject {
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void textsAndLook();
    void labelsShowTheirWholeText();
    void emblemAndHints();
    void fixedSizeWithCloseBoxOnly();
    void centredPosition_data();
    void centredPosition();
    void firstShowingIsCentredThenRemembered();
    void focusOnOkWhenShown();
    void keys_data();
    void keys();
    void closingOnlyHides_data();
    void closingOnlyHides();
    void showRaiseAndSingleInstance();
    void accessibleNamesAndRoles_data();
    void accessibleNamesAndRoles();
    void screenshot();
};

void TestAboutBox::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("Panel1") << "Panel1"
                            << "AboutBox" << QRect(9, 9, 302, 173);
    QTest::newRow("OKButton") << "OKButton"
                              << "AboutBox" << QRect(127, 192, 70, 28);
    QTest::newRow("Image1") << "Image1"
                            << "Panel1" << QRect(8, 8, 113, 97);
    QTest::newRow("Label1") << "Label1"
                            << "Panel1" << QRect(112, 32, 183, 22);
    QTest::newRow("Label2") << "Label2"
                            << "Panel1" << QRect(152, 56, 84, 19);
    QTest::newRow("Label3") << "Label3"
                            << "Panel1" << QRect(56, 144, 214, 19);
}

void TestAboutBox::layout() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    TAboutBox box;
    auto* widget = box.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
}

void TestAboutBox::textsAndLook() {
    TAboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Veltrane"));
    QCOMPARE(box.Label1->text(), QStringLiteral("Veltrane Encryption!"));
    QCOMPARE(box.Label2->text(), QStringLiteral("Version 1.01"));
    QVERIFY(box.Label3->text().contains(QLatin1String("2026")));
    QVERIFY(box.Label3->text().contains(QLatin1String("Veltrane")));
    QCOMPARE(box.OKButton->text(), QStringLiteral("OK"));
    QCOMPARE(box.Label1->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(box.Label2->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QCOMPARE(box.Label3->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QCOMPARE(box.Label1->font().pixelSize(), 19);
    for (QLabel* label : {box.Label1, box.Label2, box.Label3}) {
        QVERIFY(label->font().bold());
        QVERIFY(label->font().italic());
    }
    QCOMPARE(box.Label2->font().pixelSize(), 16);
    QCOMPARE(box.OKButton->font().pixelSize(), 11);
    QCOMPARE(box.Panel1->frameShadow(), QFrame::Sunken);
    QCOMPARE(box.Panel1->lineWidth(), 1);
}

void TestAboutBox::labelsShowTheirWholeText() {
    TAboutBox box;
    for (QLabel* label : {box.Label1, box.Label2, box.Label3}) {
        const QFontMetrics metrics(label->font());
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), qPrintable(label->objectName()));
        QVERIFY2(metrics.height() <= label->height() + 1, qPrintable(label->objectName()));
    }
}

void TestAboutBox::emblemAndHints() {
    TAboutBox box;
    const QPixmap emblem = box.Image1->pixmap();
    QCOMPARE(emblem.deviceIndependentSize().toSize(), QSize(115, 95));
    QVERIFY(!box.Image1->hasScaledContents());
    QCOMPARE(box.Image1->toolTip(), QStringLiteral("This symbol means infinity"));
    QVERIFY(box.toolTip().isEmpty());
    for (QWidget* child : box.findChildren<QWidget*>())
        if (child != box.Image1)
            QVERIFY2(child->toolTip().isEmpty(), qPrintable(child->objectName()));
    // Label1 lies over the emblem's right edge and must be drawn above it.
    const QObjectList& stack = box.Panel1->children();
    QVERIFY(stack.indexOf(box.Label1) > stack.indexOf(box.Image1));
}

void TestAboutBox::fixedSizeWithCloseBoxOnly() {
    TAboutBox box;
    QCOMPARE(box.size(), QSize(321, 225));
    QCOMPARE(box.minimumSize(), QSize(321, 225));
    QCOMPARE(box.maximumSize(), QSize(321, 225));
    const Qt::WindowFlags flags = box.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    // A dialog to the window manager, which alone keeps every manager from adding the other buttons.
    QCOMPARE(box.windowType(), Qt::Dialog);
    QVERIFY(box.isWindow());
    QVERIFY(!box.isModal());
}

void TestAboutBox::centredPosition_data() {
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("full HD") << QSize(1920, 1080) << QSize(327, 254) << QPoint(796, 413);
    QTest::newRow("odd spare room rounds down") << QSize(800, 600) << QSize(321, 225) << QPoint(239, 187);
    QTest::newRow("exact fit") << QSize(321, 225) << QSize(321, 225) << QPoint(0, 0);
    QTest::newRow("screen narrower than the window") << QSize(300, 600) << QSize(327, 254) << QPoint(0, 173);
    QTest::newRow("screen lower than the window") << QSize(640, 200) << QSize(327, 254) << QPoint(156, 0);
    QTest::newRow("one spare pixel") << QSize(328, 255) << QSize(327, 254) << QPoint(0, 0);
}

void TestAboutBox::centredPosition() {
    QFETCH(QSize, screen);
    QFETCH(QSize, window);
    QFETCH(QPoint, expected);
    QCOMPARE(TAboutBox::CentredPosition(screen, window), expected);
}

void TestAboutBox::firstShowingIsCentredThenRemembered() {
    TAboutBox box;
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QRect screen = box.screen()->geometry();
    const QRect outer = box.frameGeometry();
    QCOMPARE(outer.topLeft(), screen.topLeft() + TAboutBox::CentredPosition(screen.size(), outer.size()));

    box.move(50, 60);
    box.OKButtonClick();
    QVERIFY(!box.isVisible());
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.pos(), QPoint(50, 60));
    QCOMPARE(box.size(), QSize(321, 225));
}

void TestAboutBox::focusOnOkWhenShown() {
    TAboutBox box;
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QCOMPARE(box.focusWidget(), box.OKButton);
    box.Panel1->setFocus();
    box.OKButtonClick();
    box.ShowWindow();
    QCOMPARE(box.focusWidget(), box.OKButton);
}

void TestAboutBox::keys_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Enter on OK") << "OKButton" << int(Qt::Key_Return) << true;
    QTest::newRow("keypad Enter on OK") << "OKButton" << int(Qt::Key_Enter) << true;
    QTest::newRow("Space on OK") << "OKButton" << int(Qt::Key_Space) << true;
    QTest::newRow("Enter elsewhere in the window") << "AboutBox" << int(Qt::Key_Return) << true;
    QTest::newRow("Escape on OK") << "OKButton" << int(Qt::Key_Escape) << false;
    QTest::newRow("Escape elsewhere") << "AboutBox" << int(Qt::Key_Escape) << false;
    QTest::newRow("another key") << "OKButton" << int(Qt::Key_X) << false;
}

void TestAboutBox::keys() {
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(bool, closes);
    TAboutBox box;
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QWidget* widget = target == box.objectName() ? static_cast<QWidget*>(&box) : box.findChild<QWidget*>(target);
    QVERIFY(widget);
    QTest::keyClick(widget, Qt::Key(key));
    QCoreApplication::processEvents();
    QCOMPARE(box.isVisible(), !closes);
}

void TestAboutBox::closingOnlyHides_data() {
    QTest::addColumn<int>("route");
    QTest::newRow("OK clicked") << 0;
    QTest::newRow("close box / close key") << 1;
    QTest::newRow("OKButtonClick") << 2;
}

void TestAboutBox::closingOnlyHides() {
    QFETCH(int, route);
    CheckClosingOnlyHides(route, &TAboutBox::OKButton, &TAboutBox::OKButtonClick);
}

void TestAboutBox::showRaiseAndSingleInstance() {
    TAboutBox box;
    CheckShowingRaisesTheOneWindow(box);
}

void TestAboutBox::accessibleNamesAndRoles_data() {
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    const int text = QAccessible::StaticText;
    const QString none;
    QTest::newRow("AboutBox") << int(QAccessible::Dialog) << "About Veltrane" << none;
    QTest::newRow("Image1") << int(QAccessible::Graphic) << "Emblem"
                            << "This symbol means infinity";
    QTest::newRow("Label1") << text << "Veltrane Encryption!" << none;
    QTest::newRow("Label2") << text << "Version 1.01" << none;
    QTest::newRow("Label3") << text << "(c) 2026 The Veltrane team" << none;
    QTest::newRow("OKButton") << int(QAccessible::Button) << "OK"
                              << "Closes the About window";
}

// What a screen reader finds in the About window; OK is pressable through its action.
void TestAboutBox::accessibleNamesAndRoles() {
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    TAboutBox box;
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QLatin1String tag(QTest::currentDataTag());
    QWidget* control = tag == box.objectName() ? &box : box.findChild<QWidget*>(tag);
    QCOMPARE(AccessibleFactsOf(control), (AccessibleFacts{role, name, description, {}}));
    if (role == QAccessible::Button) {
        QAccessible::queryAccessibleInterface(control)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!box.isVisible());
    }
}

void TestAboutBox::screenshot() {
    TAboutBox box;
    box.ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage image = box.grab().toImage();
    QCOMPARE(image.size(), QSize(321, 225));
    // The emblem shows in its box: red ink inside, black ground at the window's edge.
    QCOMPARE(QColor(image.pixel(3, 3)), QColor(0, 0, 0));
    int red = 0;
    for (int y = 9 + 8; y < 9 + 8 + 97; ++y)
        for (int x = 9 + 8; x < 9 + 8 + 113; ++x)
            red += qRed(image.pixel(x, y)) > 128 && qGreen(image.pixel(x, y)) < 100 ? 1 : 0;
    QVERIFY(red > 113 * 97 / 8);
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/taboutbox.png");
    QVERIFY(image.save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

QTEST_MAIN(TestAboutBox)
#include "tst_taboutbox.moc"
