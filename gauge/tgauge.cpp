#include "gauge/tgauge.h"

#include "gauge/tbltbitmap.h"
#include "resources/accessiblerole.h"
#include "resources/colours.h"
#include "resources/fonts.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>
#include <string>

namespace veltrane {

namespace {

// A rectangle in the drawing convention of the gauge's geometry: right and bottom are exclusive.
struct Box {
    int Left;
    int Top;
    int Right;
    int Bottom;
};

// The gauge's figures round exact halves to the even neighbour (the default FE_TONEAREST mode).
int RoundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

std::string RangeMessage(std::int64_t low, std::int64_t high) {
    return "Value must be between " + std::to_string(low) + " and " + std::to_string(high);
}

void FillBox(QPainter& painter, const Box& box, const QColor& color) {
    if (box.Right > box.Left && box.Bottom > box.Top)
        painter.fillRect(QRect(box.Left, box.Top, box.Right - box.Left, box.Bottom - box.Top), color);
}

// An aliased 1-pixel outline of a QRect covers its width + 1 columns, so the exclusive box loses
// one pixel on the right and bottom to cover exactly the columns left .. right - 1.
QRect OutlineRect(const Box& box) {
    return QRect(box.Left, box.Top, box.Right - box.Left - 1, box.Bottom - box.Top - 1);
}

// The pie slice of the ellipse inscribed in `box`, bounded by the radials from its centre towards
// `from` and `to` and by the arc running counterclockwise (on screen) from `from` to `to`. The
// points need not lie on the ellipse; only their directions count. The painter's angles are
// parametric (a circle's angles stretched with the ellipse), so each direction is turned into the
// parameter of the point where its ray meets the ellipse: divide by the radii, then take the angle.
void DrawPieTowards(QPainter& painter, const Box& box, QPoint from, QPoint to) {
    const QRect rect = OutlineRect(box);
    if (from == to) {
        painter.drawEllipse(rect);
        return;
    }
    // Pixel coordinates of the centre: the outline covers columns left .. right - 1.
    const double centreX = (box.Left + box.Right - 1) / 2.0;
    const double centreY = (box.Top + box.Bottom - 1) / 2.0;
    const double radiusX = (box.Right - box.Left - 1) / 2.0;
    const double radiusY = (box.Bottom - box.Top - 1) / 2.0;
    const auto parameterDegrees = [&](QPoint point) {
        double dx = point.x() - centreX;
        double dy = centreY - point.y(); // screen y grows downwards; angles count upwards
        if (radiusX > 0)
            dx /= radiusX;
        if (radiusY > 0)
            dy /= radiusY;
        return std::atan2(dy, dx) * 180.0 / std::numbers::pi;
    };
    const double start = parameterDegrees(from);
    double span = parameterDegrees(to) - start;
    // Counterclockwise from `from` to `to`: a span in (0, 360]; two points on one ray make the whole ellipse.
    while (span <= 0)
        span += 360.0;
    while (span > 360.0)
        span -= 360.0;
    const int start16 = static_cast<int>(std::lround(start * 16));
    const int span16 = static_cast<int>(std::lround(span * 16));
    if (span16 >= 360 * 16)
        painter.drawEllipse(rect);
    else
        painter.drawPie(rect, start16, span16);
}

struct KindPainter {
    QPainter& Painter;
    Box Area;
    int Percentage;
    bool Single;
    int ControlWidth;
    QColor Color;
    QColor ForeColor;
    QColor BackColor;

    void Text() const { FillBox(Painter, Area, BackColor); }

    void HorizontalBar() const {
        const int w = Area.Right - Area.Left + 1;
        const int h = Area.Bottom - Area.Top + 1;
        FillBox(Painter, Area, BackColor);
        // The factor 0.01 is not exact in binary, so a whole product may land one pixel short.
        const int n = std::min(w, static_cast<int>(w * (Percentage * 0.01)));
        FillBox(Painter, {Area.Left, Area.Top, n, h}, ForeColor);
    }

    void VerticalBar() const {
        const int w = Area.Right - Area.Left + 1;
        const int h = Area.Bottom - Area.Top + 1;
        FillBox(Painter, Area, BackColor);
        const int n = std::min(h - 1, static_cast<int>(h * (Percentage * 0.01)));
        FillBox(Painter, {Area.Left, h - n, w, h}, ForeColor);
    }

    void Pie() const {
        const int w = Area.Right - Area.Left + (Single ? 1 : 0);
        const int h = Area.Bottom - Area.Top + (Single ? 1 : 0);
        const Box ellipse{Area.Left, Area.Top, w, h};
        FillBox(Painter, Area, Color);
        Painter.setPen(QPen(ForeColor, 1));
        Painter.setBrush(BackColor);
        Painter.drawEllipse(OutlineRect(ellipse));
        if (Percentage <= 0)
            return;
        const int halfW = w / 2;
        const int halfH = h / 2;
        const double theta = (Percentage * 0.02 + 0.5) * std::numbers::pi;
        const QPoint a(RoundHalfEven(halfW * (1 - std::cos(theta))), RoundHalfEven(halfH * (1 - std::sin(theta))));
        const QPoint b(halfW, 0);
        Painter.setBrush(ForeColor);
        DrawPieTowards(Painter, ellipse, a, b);
    }

    void Needle() const {
        const int w = Area.Right - Area.Left + (Single ? 1 : 0);
        const int h = Area.Bottom - Area.Top + (Single ? 1 : 0);
        FillBox(Painter, Area, Color);
        Painter.setPen(QPen(ForeColor, 1));
        Painter.setBrush(BackColor);
        DrawPieTowards(Painter, {Area.Left, Area.Top, w, 2 * h - 1}, QPoint(Area.Left + w, Area.Bottom - 1),
                       QPoint(Area.Left, Area.Bottom - 1));
        // Lines leave out their last pixel, as the platform's line drawing does.
        if (w > 1)
            Painter.drawLine(Area.Left, Area.Bottom, Area.Left + w - 1, Area.Bottom);
        if (Percentage <= 0)
            return;
        const int m = ControlWidth / 2;
        const double phi = Percentage * 0.01 * std::numbers::pi;
        const QPoint tip(RoundHalfEven(m * (1 - std::cos(phi))),
                         RoundHalfEven((Area.Bottom - 1) * (1 - std::sin(phi))));
        Painter.drawLine(QPoint(m, Area.Bottom - 1), tip);
    }
};

// What assistive technology (a screen reader, through AT-SPI) sees of a TGauge: a progress bar whose
// value is the gauge's whole percentage, 0 to 100, also given as the text "37%". The gauge takes no
// input, so the value cannot be set from outside.
class TGaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TGaugeAccessible(TGauge* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return QString::number(gauge().Percentage()) + QLatin1Char('%');
        return QAccessibleWidget::text(kind);
    }

    // Read-only: a reader tells the user that the value cannot be changed. (The toolkit's bridge still
    // lists Increase and Decrease for every object with a value; here they change nothing.)
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }

    // The figure the gauge shows, not Progress: a reader says "37 percent" whatever the range.
    QVariant currentValue() const override { return gauge().Percentage(); }
    // Progress comes from the pass over the file alone.
    void setCurrentValue(const QVariant& /*value*/) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const TGauge& gauge() const { return *static_cast<const TGauge*>(widget()); }
};

// How each kind draws, by TGaugeKind.
using KindDrawing = void (KindPainter::*)() const;
constexpr KindDrawing KindDrawings[] = {&KindPainter::Text, &KindPainter::HorizontalBar, &KindPainter::VerticalBar,
                                        &KindPainter::Pie, &KindPainter::Needle};
static_assert(std::size(KindDrawings) == TGauge::gkNeedle + 1);

} // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent), m_color(palette().color(QPalette::Window)) {
    // Every paint covers the whole rectangle, so nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(100, 100);
    // Assistive technology sees a progress bar with the percentage as its value.
    PresentAccessibleAs<TGauge, TGaugeAccessible>();
}

int TGauge::Percentage() const {
    if (m_maxValue == m_minValue)
        return 0;
    // 64-bit differences: a range wider than 2^31 still gives the exact quotient.
    const std::int64_t done = std::int64_t{m_progress} - m_minValue;
    const std::int64_t range = std::int64_t{m_maxValue} - m_minValue;
    return static_cast<int>(done * 100 / range);
}

void TGauge::setMinValue(int value) {
    if (value == m_minValue)
        return;
    if (value > m_maxValue)
        throw EInvalidOperation(RangeMessage(-2147483647, std::int64_t{m_maxValue} - 1));
    const int before = Percentage();
    m_minValue = value;
    m_progress = std::max(m_progress, value);
    RepaintAtOnce();
    AnnouncePercentage(before);
}

void TGauge::setMaxValue(int value) {
    if (value == m_maxValue)
        return;
    if (value < m_minValue)
        throw EInvalidOperation(RangeMessage(std::int64_t{m_minValue} + 1, 2147483647));
    const int before = Percentage();
    m_maxValue = value;
    m_progress = std::min(m_progress, value);
    RepaintAtOnce();
    AnnouncePercentage(before);
}

void TGauge::setProgress(int value) {
    value = std::clamp(value, m_minValue, m_maxValue);
    if (value == m_progress)
        return;
    const int before = Percentage();
    m_progress = value;
    // A long run sets Progress after every block: only a new whole percentage is worth a paint.
    if (Percentage() != before)
        RepaintAtOnce();
    AnnouncePercentage(before);
}

void TGauge::AnnouncePercentage(int before) {
    const int now = Percentage();
    if (now == before)
        return;
    QAccessibleValueChangeEvent event(this, now);
    QAccessible::updateAccessibility(&event);
}

void TGauge::RepaintAtOnce() {
    // A batch run holds the event loop, so a queued update() would only show after the run.
    if (isVisible())
        repaint();
}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
    if (width() <= 0 || height() <= 0)
        return;
    // Composed at the screen's own pixel density, so a high-density screen shows a sharp pie and
    // figure rather than a blown-up picture; the image is freed when the paint returns.
    const QImage picture = Picture(devicePixelRatioF());
    QPainter screen(this);
    screen.drawImage(0, 0, picture);
}

QImage TGauge::Picture(qreal devicePixelRatio) const {
    // Each scratch image lives on the stack of this paint and is freed on every way out of it.
    TBltBitmap result(size(), devicePixelRatio);
    result.fill(Qt::black);
    const Box area = m_borderStyle == bsSingle ? Box{1, 1, width() - 1, height() - 1} : Box{0, 0, width(), height()};
    const QRect areaRect(area.Left, area.Top, area.Right - area.Left, area.Bottom - area.Top);
    const int percentage = Percentage();

    {
        TBltBitmap kindImage;
        kindImage.MakeLike(result);
        kindImage.fill(Qt::black);
        {
            QPainter painter(&kindImage);
            // Crisp 1-pixel shapes: blended edge pixels would not survive the XOR combinations.
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setClipRect(areaRect);
            const KindPainter kind{painter, area,    percentage,  m_borderStyle == bsSingle,
                                   width(), m_color, m_foreColor, m_backColor};
            // A kind outside the enumeration (set as a number through the property) draws nothing.
            if (m_kind < std::size(KindDrawings))
                (kind.*KindDrawings[m_kind])();
        }
        result.XorFrom(kindImage);
    }

    if (m_showText) {
        TBltBitmap textImage;
        textImage.MakeLike(result);
        textImage.fill(Qt::black);
        // The rows the figure can touch (a little beyond its line, for glyphs that overshoot);
        // XOR-ing the black rows elsewhere would change nothing.
        QRect figureRows;
        {
            QPainter painter(&textImage);
            // Whole glyph pixels only: XOR-ing pure white inverts each pixel under the figure
            // exactly, where a blended edge would leave muddy in-between colours.
            QFont figureFont = font();
            figureFont.setStyleStrategy(QFont::StyleStrategy(figureFont.styleStrategy() | QFont::NoAntialias));
            painter.setFont(figureFont);
            painter.setRenderHint(QPainter::TextAntialiasing, false);
            painter.setPen(Qt::white);
            const QString figure = QString::number(percentage) + QLatin1Char('%');
            const QFontMetrics metrics = painter.fontMetrics();
            // Centred by the rectangle's extent alone; its left and top are not added.
            const int x = (area.Right - area.Left + 1 - metrics.horizontalAdvance(figure)) / 2;
            const int y = (area.Bottom - area.Top + 1 - metrics.height()) / 2;
            painter.setClipRect(areaRect);
            painter.drawText(x, y + metrics.ascent(), figure);
            figureRows = QRect(0, y - 2, width(), metrics.height() + 4);
        }
        result.XorFrom(textImage, figureRows);
    }
    return result;
}

void ConfigurePercentDoneGauge(TGauge& gauge) {
    gauge.setKind(TGauge::gkPie);
    gauge.setBorderStyle(TGauge::bsNone);
    gauge.setForeColor(colours::Red);
    gauge.setBackColor(colours::Black);
    gauge.setColor(colours::Black);
    // The designed font colour (blue) is never used: the figure is always drawn white and XOR-ed.
    gauge.setFont(CasualFont(12));
    gauge.setProgress(0);
    gauge.setVisible(false);
}

} // namespace veltrane
