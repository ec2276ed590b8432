// The pictures load from the resource set of a plain static library link, with the sizes and colour limits the
// windows are laid out for.

#include "resources/pictures.h"

#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QTest>

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void pictures_data();
    void pictures();
    void brushCharacterIsRedOnBlack_data();
    void brushCharacterIsRedOnBlack();
    void pictureForDensity_data();
    void pictureForDensity();
};

void TestResources::pictures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("maxColours");
    QTest::newRow("emblem") << "emblem" << QSize(115, 95) << 256;
    QTest::newRow("program icon") << "veltrane32" << QSize(32, 32) << 16;
    QTest::newRow("open 32") << "open32" << QSize(32, 32) << 16;
    QTest::newRow("open 16") << "open16" << QSize(16, 16) << 16;
    QTest::newRow("stop 32") << "stop32" << QSize(32, 32) << 16;
    QTest::newRow("stop 16") << "stop16" << QSize(16, 16) << 16;
    QTest::newRow("emblem 2x") << "emblem@2x" << QSize(230, 190) << 256;
    QTest::newRow("program icon 2x") << "veltrane32@2x" << QSize(64, 64) << 256;
    QTest::newRow("open 32 2x") << "open32@2x" << QSize(64, 64) << 16;
    QTest::newRow("open 16 2x") << "open16@2x" << QSize(32, 32) << 16;
    QTest::newRow("stop 32 2x") << "stop32@2x" << QSize(64, 64) << 16;
    QTest::newRow("stop 16 2x") << "stop16@2x" << QSize(32, 32) << 16;
}

void TestResources::pictures() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(int, maxColours);

    // No Q_INIT_RESOURCE here on purpose: linking the library must be enough.
    const QImage image(QStringLiteral(":/images/%1.png").arg(name));
    QVERIFY2(!image.isNull(), qPrintable(name));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_Indexed8);
    QVERIFY(image.colorCount() <= maxColours);

    // Count the colours really used, the transparent entry included.
    QSet<QRgb> used;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            used.insert(image.pixel(x, y));
    QVERIFY2(used.size() <= maxColours, qPrintable(QString::number(used.size())));
    QVERIFY(used.size() > 2);
}

void TestResources::brushCharacterIsRedOnBlack_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("inkWidth"); // the columns the character keeps to: the window shows no more
    QTest::newRow("emblem") << "emblem" << 113;
    QTest::newRow("program icon") << "veltrane32" << 32;
    QTest::newRow("emblem 2x") << "emblem@2x" << 226;
    QTest::newRow("program icon 2x") << "veltrane32@2x" << 64;
}

void TestResources::brushCharacterIsRedOnBlack() {
    QFETCH(QString, name);
    QFETCH(int, inkWidth);
    const QImage image = QImage(QStringLiteral(":/images/%1.png").arg(name)).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!image.isNull());
    // Past the columns that the window shows, nothing but background: the character is never cut off.
    for (int y = 0; y < image.height(); ++y)
        for (int x = inkWidth; x < image.width(); ++x)
            QVERIFY2(image.pixel(x, y) == qRgb(0, 0, 0), qPrintable(QStringLiteral("ink at %1, %2").arg(x).arg(y)));
    int black = 0;
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            QCOMPARE(qAlpha(c), 255);
            if (c == qRgb(0, 0, 0))
                ++black;
            else if (qRed(c) >= 128 && qGreen(c) < 100 && qBlue(c) < 100)
                ++red;
            else
                QVERIFY2(qGreen(c) <= qRed(c) && qBlue(c) <= qRed(c), "only shades of red on the black");
        }
    // The corners are background, and the character covers a fair share of the picture.
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), qRgb(0, 0, 0));
    const int area = image.width() * image.height();
    QVERIFY(black > area / 3);
    QVERIFY(red > area / 8);
}

void TestResources::pictureForDensity_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QString>("file"); // the file whose pixels it must be, or empty when scaled to size
    QTest::newRow("open 32 at 1") << "open32" << 1.0 << "open32";
    QTest::newRow("open 32 at 2") << "open32" << 2.0 << "open32@2x";
    QTest::newRow("emblem at 2") << "emblem" << 2.0 << "emblem@2x";
    QTest::newRow("emblem at 1.5") << "emblem" << 1.5 << "";
    QTest::newRow("stop 32 at 1.25") << "stop32" << 1.25 << "";
}

// A picture keeps its designed size in device-independent pixels at every density; at 2 it is the
// picture painted at twice the size, not the small one blown up.
void TestResources::pictureForDensity() {
    QFETCH(QString, name);
    QFETCH(double, ratio);
    QFETCH(QString, file);
    const QPixmap picture = veltrane::Picture(name, ratio);
    const QSize designed = QImage(QStringLiteral(":/images/%1.png").arg(name)).size();
    QCOMPARE(picture.deviceIndependentSize().toSize(), designed);
    QCOMPARE(picture.devicePixelRatio(), ratio);
    if (!file.isEmpty())
        QCOMPARE(picture.toImage().convertToFormat(QImage::Format_ARGB32),
                 QImage(QStringLiteral(":/images/%1.png").arg(file)).convertToFormat(QImage::Format_ARGB32));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
