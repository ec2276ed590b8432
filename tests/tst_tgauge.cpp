#include "gauge/tgauge.h"

#include "gauge/tbltbitmap.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QDir>
#include <QImage>
#include <QMetaEnum>
#include <QPixmap>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <climits>
#include <functional>

using veltrane::EInvalidOperation;
using veltrane::TBltBitmap;
using veltrane::TGauge;

namespace {

// Counts the paints that reach the gauge, whichever way they are asked for.
class CountingGauge : public TGauge {
public:
    using TGauge::TGauge;
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++Paints;
        TGauge::paintEvent(event);
    }
};

// One range operation of a setter table row: 'n' MinValue, 'x' MaxValue, 'p' Progress.
struct Step {
    char property;
    int value;
};

using Steps = QList<Step>;
using GaugeAction = std::function<void(TGauge&)>;

void Apply(TGauge& gauge, const Step& step) {
    switch (step.property) {
    case 'n':
        gauge.setMinValue(step.value);
        break;
    case 'x':
        gauge.setMaxValue(step.value);
        break;
    default:
        gauge.setProgress(step.value);
        break;
    }
}

// Colours as 0xRRGGBB; Pixel() drops the alpha byte.
const QRgb black = 0x000000;
const QRgb white = 0xFFFFFF;
const QRgb red = 0xFF0000;
const QRgb cyan = 0x00FFFF;
const QRgb blue = 0x0000FF;

QRgb Pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

QImage Render(TGauge& gauge) {
    return gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A gauge whose three colours and the frame can be told apart in a picture.
void DistinctColours(TGauge& gauge) {
    gauge.setForeColor(Qt::red);
    gauge.setBackColor(Qt::white);
    gauge.setColor(Qt::blue);
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(GaugeAction)

class TstTGauge : public QObject {
    Q_OBJECT
private slots:
    void defaults();
    void rangeSetters_data();
    void rangeSetters();
    void qtProperties();
    void repaintAtOnce_data();
    void repaintAtOnce();
    void wideRangeRepaintsOncePerPercent();
    void accessibleProgressBar_data();
    void accessibleProgressBar();
    void makeLike();
    void pieQuadrants_data();
    void pieQuadrants();
    void pieWedgeArea_data();
    void pieWedgeArea();
    void figureInvertsWhatItCovers_data();
    void figureInvertsWhatItCovers();
    void singleBorderFrame_data();
    void singleBorderFrame();
    void barLengths_data();
    void barLengths();
    void pictureAtRatioTwo_data();
    void pictureAtRatioTwo();
    void picturePerKind();
};

void TstTGauge::defaults() {
    QWidget parent;
    TGauge gauge(&parent);
    QCOMPARE(gauge.size(), QSize(100, 100));
    QCOMPARE(gauge.Kind(), TGauge::gkHorizontalBar);
    QCOMPARE(gauge.BorderStyle(), TGauge::bsSingle);
    QVERIFY(gauge.ShowText());
    QCOMPARE(gauge.ForeColor(), QColor(Qt::black));
    QCOMPARE(gauge.BackColor(), QColor(Qt::white));
    QCOMPARE(gauge.MinValue(), 0);
    QCOMPARE(gauge.MaxValue(), 100);
    QCOMPARE(gauge.Progress(), 0);
    QVERIFY(gauge.testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(gauge.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(gauge.focusPolicy(), Qt::NoFocus);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QVERIFY2(!gauge.testAttribute(Qt::WA_NativeWindow), "the gauge paints on its parent's surface");
}

void TstTGauge::rangeSetters_data() {
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("percentage");

    QTest::newRow("progress in range") << Steps{{'p', 42}} << QString() << 0 << 100 << 42 << 42;
    QTest::newRow("progress above range clamps") << Steps{{'p', 131}} << QString() << 0 << 100 << 100 << 100;
    QTest::newRow("progress below range clamps") << Steps{{'p', 7}, {'p', -5}} << QString() << 0 << 100 << 0 << 0;
    QTest::newRow("same percentage still stored")
        << Steps{{'x', 1000}, {'p', 10}, {'p', 11}} << QString() << 0 << 1000 << 11 << 1;
    QTest::newRow("percentage rounds down") << Steps{{'x', 3}, {'p', 2}} << QString() << 0 << 3 << 2 << 66;
    QTest::newRow("offset range") << Steps{{'x', 300}, {'n', 200}, {'p', 250}} << QString() << 200 << 300 << 250 << 50;
    QTest::newRow("negative range") << Steps{{'n', -300}, {'x', -100}, {'p', -250}} << QString() << -300 << -100 << -250
                                    << 25;
    QTest::newRow("MinValue raises Progress") << Steps{{'p', 10}, {'n', 30}} << QString() << 30 << 100 << 30 << 0;
    QTest::newRow("MaxValue lowers Progress") << Steps{{'p', 80}, {'x', 50}} << QString() << 0 << 50 << 50 << 100;
    QTest::newRow("empty range shows 0") << Steps{{'p', 40}, {'x', 40}, {'n', 40}} << QString() << 40 << 40 << 40 << 0;
    QTest::newRow("MinValue above MaxValue")
        << Steps{{'p', 60}, {'n', 200}} << "Value must be between -2147483647 and 99" << 0 << 100 << 60 << 60;
    QTest::newRow("MaxValue below MinValue")
        << Steps{{'p', 60}, {'x', -1}} << "Value must be between 1 and 2147483647" << 0 << 100 << 60 << 60;
    QTest::newRow("refused MinValue keeps an offset range")
        << Steps{{'x', 20}, {'n', 10}, {'p', 15}, {'n', 21}} << "Value must be between -2147483647 and 19" << 10 << 20
        << 15 << 50;
    QTest::newRow("refused MaxValue keeps an offset range")
        << Steps{{'x', 20}, {'n', 10}, {'p', 15}, {'x', 9}} << "Value must be between 11 and 2147483647" << 10 << 20
        << 15 << 50;
    // The quoted bounds are computed in 64 bits, so they never wrap around.
    QTest::newRow("message bound beyond 32 bits")
        << Steps{{'x', INT_MAX}, {'n', INT_MAX}, {'x', 5}} << "Value must be between 2147483648 and 2147483647"
        << INT_MAX << INT_MAX << INT_MAX << 0;
    // The width of these ranges does not fit in 32 bits; the percentage must still be exact.
    QTest::newRow("full 32-bit range, middle")
        << Steps{{'n', INT_MIN}, {'x', INT_MAX}, {'p', 0}} << QString() << INT_MIN << INT_MAX << 0 << 50;
    QTest::newRow("full 32-bit range, top")
        << Steps{{'n', INT_MIN}, {'x', INT_MAX}, {'p', INT_MAX}} << QString() << INT_MIN << INT_MAX << INT_MAX << 100;
    QTest::newRow("full 32-bit range, one short of top") << Steps{{'n', INT_MIN}, {'x', INT_MAX}, {'p', INT_MAX - 1}}
                                                         << QString() << INT_MIN << INT_MAX << INT_MAX - 1 << 99;
    QTest::newRow("wide positive range") << Steps{{'x', INT_MAX}, {'p', INT_MAX / 100 * 37}} << QString() << 0
                                         << INT_MAX << INT_MAX / 100 * 37 << 36;
}

void TstTGauge::rangeSetters() {
    QFETCH(Steps, steps);
    QFETCH(QString, error);

    TGauge gauge;
    QString thrown;
    for (const Step& step : steps) {
        try {
            Apply(gauge, step);
        } catch (const EInvalidOperation& failure) {
            thrown = QString::fromStdString(failure.what());
        }
    }
    QCOMPARE(thrown, error);
    QTEST(gauge.MinValue(), "minValue");
    QTEST(gauge.MaxValue(), "maxValue");
    QTEST(gauge.Progress(), "progress");
    QTEST(gauge.Percentage(), "percentage");
}

void TstTGauge::qtProperties() {
    TGauge gauge;
    QVERIFY(gauge.setProperty("Progress", 42));
    QCOMPARE(gauge.Progress(), 42);
    QCOMPARE(gauge.property("Percentage").toInt(), 42);
    QVERIFY(!gauge.setProperty("Percentage", 7));
    QVERIFY(gauge.setProperty("Kind", QStringLiteral("gkPie")));
    QCOMPARE(gauge.Kind(), TGauge::gkPie);
    QVERIFY(gauge.setProperty("BorderStyle", QVariant::fromValue(TGauge::bsNone)));
    QCOMPARE(gauge.BorderStyle(), TGauge::bsNone);
    QVERIFY(gauge.setProperty("ForeColor", QColor(Qt::red)));
    QCOMPARE(gauge.ForeColor(), QColor(Qt::red));
    QVERIFY(gauge.setProperty("Color", QColor(Qt::black)));
    QCOMPARE(gauge.Color(), QColor(Qt::black));

    const QMetaEnum kinds = QMetaEnum::fromType<TGauge::TGaugeKind>();
    QCOMPARE(kinds.keyCount(), 5);
    QCOMPARE(kinds.keyToValue("gkNeedle"), 4);
    QCOMPARE(QMetaEnum::fromType<TGauge::TBorderStyle>().keyToValue("bsSingle"), 1);
}

void TstTGauge::repaintAtOnce_data() {
    QTest::addColumn<bool>("visible");
    QTest::addColumn<GaugeAction>("action");
    QTest::addColumn<int>("paints");

    const auto row = [](const char* name, bool visible, GaugeAction action, int paints) {
        QTest::newRow(name) << visible << action << paints;
    };
    row(
        "Progress to a new percentage", true, [](TGauge& g) { g.setProgress(50); }, 1);
    row(
        "Progress to the same value", true, [](TGauge& g) { g.setProgress(20); }, 0);
    row(
        "Progress clamped to the same value", true, [](TGauge& g) { g.setMaxValue(20), g.setProgress(99); }, 1);
    row(
        "Progress within the same percentage", true,
        [](TGauge& g) {
            g.setMaxValue(1000);
            g.setProgress(21); // still 2% after the new range's own repaint
        },
        1);
    row(
        "hidden Progress", false, [](TGauge& g) { g.setProgress(0); }, 0);
    row(
        "hidden range and colours", false,
        [](TGauge& g) {
            g.setMaxValue(300);
            g.setForeColor(Qt::red);
            g.setKind(TGauge::gkPie);
        },
        0);
    row(
        "Kind", true, [](TGauge& g) { g.setKind(TGauge::gkNeedle); }, 1);
    row(
        "same Kind", true, [](TGauge& g) { g.setKind(TGauge::gkHorizontalBar); }, 0);
    row(
        "ShowText", true, [](TGauge& g) { g.setShowText(false); }, 1);
    row(
        "BorderStyle", true, [](TGauge& g) { g.setBorderStyle(TGauge::bsNone); }, 1);
    row(
        "same BorderStyle", true, [](TGauge& g) { g.setBorderStyle(TGauge::bsSingle); }, 0);
    row(
        "ForeColor", true, [](TGauge& g) { g.setForeColor(Qt::red); }, 1);
    row(
        "same BackColor", true, [](TGauge& g) { g.setBackColor(Qt::white); }, 0);
    row(
        "BackColor", true, [](TGauge& g) { g.setBackColor(Qt::green); }, 1);
    row(
        "Color", true, [](TGauge& g) { g.setColor(Qt::darkCyan); }, 1);
    row(
        "MinValue", true, [](TGauge& g) { g.setMinValue(10); }, 1);
    row(
        "MaxValue", true, [](TGauge& g) { g.setMaxValue(1000); }, 1);
    row(
        "refused MinValue", true,
        [](TGauge& g) {
            try {
                g.setMinValue(101);
            } catch (const EInvalidOperation&) {
            }
        },
        0);
}

void TstTGauge::repaintAtOnce() {
    QFETCH(bool, visible);
    QFETCH(GaugeAction, action);

    QWidget parent;
    parent.resize(200, 200);
    auto* gauge = new CountingGauge(&parent);
    gauge->setProgress(20);
    gauge->setVisible(visible);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCoreApplication::processEvents();
    gauge->Paints = 0;

    // No events are processed in between: a paint counted here happened inside the setter.
    action(*gauge);
    QTEST(gauge->Paints, "paints");
}

void TstTGauge::wideRangeRepaintsOncePerPercent() {
    QWidget parent;
    parent.resize(200, 200);
    auto* gauge = new CountingGauge(&parent);
    gauge->setMaxValue(1000);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCoreApplication::processEvents();
    gauge->Paints = 0;

    for (int step = 1; step <= 1000; ++step)
        gauge->setProgress(step);
    QVERIFY2(gauge->Paints <= 101, qPrintable(QString::number(gauge->Paints)));
    // Every whole percent from 1 to 100 was shown at once, without the event loop.
    QVERIFY2(gauge->Paints >= 100, qPrintable(QString::number(gauge->Paints)));
}

void TstTGauge::accessibleProgressBar_data() {
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("value");
    QTest::newRow("start") << 0 << 100 << 0 << 0;
    QTest::newRow("wide range") << 0 << 1000 << 379 << 37;
    QTest::newRow("offset range") << -50 << 50 << 25 << 75;
    QTest::newRow("full") << 0 << 7 << 7 << 100;
    QTest::newRow("empty range") << 5 << 5 << 5 << 0;
}

// A screen reader finds a progress bar whose value is the figure shown, whatever the range.
void TstTGauge::accessibleProgressBar() {
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, progress);
    QFETCH(int, value);
    TGauge gauge;
    gauge.setMinValue(minValue);
    gauge.setMaxValue(maxValue);
    gauge.setMinValue(minValue);
    gauge.setProgress(progress);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&gauge);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->role(), QAccessible::ProgressBar);
    QAccessibleValueInterface* told = accessible->valueInterface();
    QVERIFY(told != nullptr);
    QCOMPARE(told->currentValue().toInt(), value);
    QCOMPARE(told->minimumValue().toInt(), 0);
    QCOMPARE(told->maximumValue().toInt(), 100);
    QCOMPARE(accessible->text(QAccessible::Value), QString::number(value) + QLatin1Char('%'));
    // The gauge takes no input, from a reader neither, and says so.
    QVERIFY(accessible->state().readOnly);
    told->setCurrentValue(value == 100 ? 0 : 100);
    QCOMPARE(gauge.Progress(), progress);
}

void TstTGauge::makeLike() {
    const QImage wide(37, 11, QImage::Format_ARGB32);
    TBltBitmap image(5, 5);
    image.MakeLike(wide);
    QCOMPARE(image.size(), QSize(37, 11));
    QCOMPARE(image.format(), QImage::Format_RGB32);
}

void TstTGauge::pieQuadrants_data() {
    QTest::addColumn<int>("progress");
    QTest::addColumn<QList<QRgb>>("quadrants"); // north-east, south-east, south-west, north-west

    QTest::newRow("0%") << 0 << QList<QRgb>{white, white, white, white};
    QTest::newRow("25%") << 25 << QList<QRgb>{red, white, white, white};
    QTest::newRow("50%") << 50 << QList<QRgb>{red, red, white, white};
    QTest::newRow("75%") << 75 << QList<QRgb>{red, red, red, white};
    QTest::newRow("100%") << 100 << QList<QRgb>{red, red, red, red};
}

void TstTGauge::pieQuadrants() {
    QFETCH(int, progress);
    QFETCH(QList<QRgb>, quadrants);

    TGauge gauge;
    gauge.resize(113, 105);
    gauge.setKind(TGauge::gkPie);
    gauge.setBorderStyle(TGauge::bsNone);
    gauge.setShowText(false);
    DistinctColours(gauge);
    gauge.setProgress(progress);
    const QImage image = Render(gauge);

    // The ellipse's centre is (56, 52); these points lie well inside each quarter.
    QCOMPARE(Pixel(image, 56 + 25, 52 - 25), quadrants[0]);
    QCOMPARE(Pixel(image, 56 + 25, 52 + 25), quadrants[1]);
    QCOMPARE(Pixel(image, 56 - 25, 52 + 25), quadrants[2]);
    QCOMPARE(Pixel(image, 56 - 25, 52 - 25), quadrants[3]);
    // Outside the ellipse the gauge's Color shows; its outline touches all four sides.
    QCOMPARE(Pixel(image, 0, 0), blue);
    QCOMPARE(Pixel(image, 112, 104), blue);
    QCOMPARE(Pixel(image, 56, 0), red);
    QCOMPARE(Pixel(image, 56, 104), red);
    QCOMPARE(Pixel(image, 0, 52), red);
    QCOMPARE(Pixel(image, 112, 52), red);
    if (progress == 100) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QVERIFY2(Pixel(image, x, y) != white, "a full gauge leaves nothing of BackColor");
    }
}

void TstTGauge::pieWedgeArea_data() {
    QTest::addColumn<int>("progress");
    QTest::addColumn<QSize>("size");
    for (int progress : {1, 5, 12, 25, 33, 50, 66, 80, 99}) {
        QTest::addRow("113x105 at %d%%", progress) << progress << QSize(113, 105);
        QTest::addRow("200x60 at %d%%", progress) << progress << QSize(200, 60);
    }
}

void TstTGauge::pieWedgeArea() {
    QFETCH(int, progress);
    QFETCH(QSize, size);

    TGauge gauge;
    gauge.resize(size);
    gauge.setKind(TGauge::gkPie);
    gauge.setBorderStyle(TGauge::bsNone);
    gauge.setShowText(false);
    DistinctColours(gauge);
    gauge.setProgress(progress);
    const QImage image = Render(gauge);

    // Only pixels well inside the outline count: the outline itself is drawn in the wedge colour.
    const double centreX = (size.width() - 1) / 2.0;
    const double centreY = (size.height() - 1) / 2.0;
    const double innerX = centreX - 2;
    const double innerY = centreY - 2;
    int wedge = 0;
    int rest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double u = (x - centreX) / innerX;
            const double v = (y - centreY) / innerY;
            if (u * u + v * v > 1)
                continue;
            const QRgb colour = Pixel(image, x, y);
            QVERIFY(colour == white || colour == red);
            if (colour == white) {
                ++rest;
                continue;
            }
            ++wedge;
            // The wedge grows clockwise from 12 o'clock: up to a quarter it stays north-east, up to
            // a half it stays east (one pixel of tolerance for the radials).
            if (progress <= 25)
                QVERIFY2(x >= centreX - 1 && y <= centreY + 1, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            else if (progress <= 50)
                QVERIFY2(x >= centreX - 1, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    }
    const double share = 100.0 * wedge / (wedge + rest);
    QVERIFY2(qAbs(share - progress) < 2.5, qPrintable(QStringLiteral("wedge share %1%").arg(share)));
}

void TstTGauge::figureInvertsWhatItCovers_data() {
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("overBlack");
    QTest::addColumn<bool>("overRed");
    QTest::newRow("0%: all over black") << 0 << true << false;
    QTest::newRow("50%: across the wedge's edge") << 50 << true << true;
    QTest::newRow("100%: all over red") << 100 << false << true;
}

void TstTGauge::figureInvertsWhatItCovers() {
    QFETCH(int, progress);
    QFETCH(bool, overBlack);
    QFETCH(bool, overRed);

    QWidget parent;
    auto* gauge = new TGauge(&parent);
    veltrane::ConfigurePercentDoneGauge(*gauge);
    gauge->resize(113, 105);
    gauge->setProgress(progress);
    QVERIFY(gauge->isHidden());
    const QImage image = Render(*gauge);

    // Only the two drawing colours and their exact inverses may appear: glyph pixels are whole.
    const QSet<QRgb> allowed{black, red, white, cyan};
    bool white_seen = false;
    bool cyan_seen = false;
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = Pixel(image, x, y);
            QVERIFY2(allowed.contains(colour),
                     qPrintable(QStringLiteral("%1 at %2,%3").arg(colour, 6, 16).arg(x).arg(y)));
            if (colour == white || colour == cyan) {
                white_seen |= colour == white;
                cyan_seen |= colour == cyan;
                left = qMin(left, x);
                right = qMax(right, x);
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
        }
    }
    QCOMPARE(white_seen, overBlack);
    QCOMPARE(cyan_seen, overRed);
    // The figure sits in the middle of the gauge.
    QVERIFY2(qAbs((left + right) / 2.0 - 56) <= 4, qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));
    QVERIFY2(qAbs((top + bottom) / 2.0 - 52) <= 5, qPrintable(QStringLiteral("%1..%2").arg(top).arg(bottom)));
}

void TstTGauge::singleBorderFrame_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("progress");
    for (int kind = TGauge::gkText; kind <= TGauge::gkNeedle; ++kind) {
        const char* name = QMetaEnum::fromType<TGauge::TGaugeKind>().valueToKey(kind);
        QTest::addRow("%s at 0%%", name) << kind << 0;
        QTest::addRow("%s at 100%%", name) << kind << 100;
    }
}

void TstTGauge::singleBorderFrame() {
    QFETCH(int, kind);
    QFETCH(int, progress);

    TGauge gauge;
    gauge.resize(60, 40);
    gauge.setKind(TGauge::TGaugeKind(kind));
    gauge.setShowText(false);
    DistinctColours(gauge);
    gauge.setProgress(progress);

    const QImage framed = Render(gauge);
    const int w = framed.width();
    const int h = framed.height();
    for (int x = 0; x < w; ++x) {
        QCOMPARE(Pixel(framed, x, 0), black);
        QCOMPARE(Pixel(framed, x, h - 1), black);
    }
    for (int y = 0; y < h; ++y) {
        QCOMPARE(Pixel(framed, 0, y), black);
        QCOMPARE(Pixel(framed, w - 1, y), black);
    }
    // Inside the frame every kind draws in its colours, none of them black here.
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            QVERIFY2(Pixel(framed, x, y) != black, qPrintable(QStringLiteral("black at %1,%2").arg(x).arg(y)));

    // Without the frame the drawing reaches the edges.
    gauge.setBorderStyle(TGauge::bsNone);
    const QImage open = Render(gauge);
    QVERIFY(Pixel(open, 0, h / 2) != black || Pixel(open, w / 2, 0) != black);
}

void TstTGauge::barLengths_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("border");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("foreLength"); // pixels of ForeColor along the middle row or column

    // Bar lengths follow W (or H) = extent + 1 times the percentage, from the paint rectangle's
    // edge to the length as an exclusive end coordinate.
    QTest::newRow("horizontal, open, 0%") << int(TGauge::gkHorizontalBar) << int(TGauge::bsNone) << 0 << 0;
    QTest::newRow("horizontal, open, 50%") << int(TGauge::gkHorizontalBar) << int(TGauge::bsNone) << 50 << 50;
    QTest::newRow("horizontal, open, 100%") << int(TGauge::gkHorizontalBar) << int(TGauge::bsNone) << 100 << 100;
    QTest::newRow("horizontal, framed, 50%") << int(TGauge::gkHorizontalBar) << int(TGauge::bsSingle) << 50 << 48;
    QTest::newRow("horizontal, framed, 100%") << int(TGauge::gkHorizontalBar) << int(TGauge::bsSingle) << 100 << 98;
    QTest::newRow("vertical, open, 0%") << int(TGauge::gkVerticalBar) << int(TGauge::bsNone) << 0 << 0;
    QTest::newRow("vertical, open, 50%") << int(TGauge::gkVerticalBar) << int(TGauge::bsNone) << 50 << 49;
    QTest::newRow("vertical, open, 100%") << int(TGauge::gkVerticalBar) << int(TGauge::bsNone) << 100 << 99;
    QTest::newRow("vertical, framed, 50%") << int(TGauge::gkVerticalBar) << int(TGauge::bsSingle) << 50 << 49;
}

void TstTGauge::barLengths() {
    QFETCH(int, kind);
    QFETCH(int, border);
    QFETCH(int, progress);

    TGauge gauge;
    gauge.setKind(TGauge::TGaugeKind(kind));
    gauge.setBorderStyle(TGauge::TBorderStyle(border));
    gauge.setShowText(false);
    DistinctColours(gauge);
    gauge.setProgress(progress);
    const QImage image = Render(gauge);

    int length = 0;
    for (int i = 0; i < 100; ++i) {
        const QRgb colour = kind == TGauge::gkHorizontalBar ? Pixel(image, i, 50) : Pixel(image, 50, i);
        if (colour == red)
            ++length;
    }
    QTEST(length, "foreLength");
}

void TstTGauge::pictureAtRatioTwo_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("progress");
    for (int progress : {0, 25, 37, 63, 100})
        QTest::addRow("pie %d%%", progress) << int(TGauge::gkPie) << progress;
    QTest::newRow("horizontal bar") << int(TGauge::gkHorizontalBar) << 42;
    QTest::newRow("needle") << int(TGauge::gkNeedle) << 70;
}

// On a screen of two device pixels per pixel the gauge is the same picture in twice the detail: shrunk back to
// ratio 1 it matches the picture at ratio 1, yet it is no blown-up copy of it.
void TstTGauge::pictureAtRatioTwo() {
    QFETCH(int, kind);
    QFETCH(int, progress);
    TGauge gauge;
    veltrane::ConfigurePercentDoneGauge(gauge);
    gauge.setKind(TGauge::TGaugeKind(kind));
    gauge.resize(113, 105);
    gauge.setProgress(progress);
    const QImage single = gauge.Picture(1);
    const QImage twice = gauge.Picture(2);
    QCOMPARE(single, Render(gauge));
    QCOMPARE(twice.size(), single.size() * 2);
    QCOMPARE(twice.devicePixelRatio(), 2.0);
    int matching = 0;
    int mixedBlocks = 0;
    for (int y = 0; y < single.height(); ++y)
        for (int x = 0; x < single.width(); ++x) {
            const QRgb block[4] = {twice.pixel(2 * x, 2 * y), twice.pixel(2 * x + 1, 2 * y),
                                   twice.pixel(2 * x, 2 * y + 1), twice.pixel(2 * x + 1, 2 * y + 1)};
            matching += std::count(block, block + 4, single.pixel(x, y)) > 0 ? 1 : 0;
            mixedBlocks += std::count(block, block + 4, block[0]) < 4 ? 1 : 0;
        }
    const int area = single.width() * single.height();
    QVERIFY2(matching >= area * 97 / 100, qPrintable(QString::number(matching)));
    QVERIFY2(mixedBlocks > 0, "the picture at ratio 2 is only the one at ratio 1 blown up");
}

void TstTGauge::picturePerKind() {
    // Pictures to look at by eye: every kind at 37% in distinct colours, framed, plus the
    // program's own pie. Written to $VELTRANE_GAUGE_PICTURES or else the working folder (under CTest,
    // the build's tests folder), never to a place that others share, such as /tmp.
    QString folder = qEnvironmentVariable("VELTRANE_GAUGE_PICTURES");
    if (folder.isEmpty())
        folder = QDir::current().filePath(QStringLiteral("gauge-pictures"));
    QVERIFY(QDir().mkpath(folder));

    const QMetaEnum kinds = QMetaEnum::fromType<TGauge::TGaugeKind>();
    for (int kind = TGauge::gkText; kind <= TGauge::gkNeedle; ++kind) {
        TGauge gauge;
        gauge.setKind(TGauge::TGaugeKind(kind));
        DistinctColours(gauge);
        gauge.setProgress(37);
        const QImage image = Render(gauge);
        QVERIFY(image.save(QDir(folder).filePath(QString::fromLatin1(kinds.valueToKey(kind)) + ".png")));
    }
    TGauge pie;
    veltrane::ConfigurePercentDoneGauge(pie);
    pie.resize(113, 105);
    pie.setProgress(37);
    QVERIFY(Render(pie).save(QDir(folder).filePath(QStringLiteral("PercentDoneGauge.png"))));
    qInfo("pictures in %s", qPrintable(folder));
}

QTEST_MAIN(TstTGauge)
#include "tst_tgauge.moc"
