#pragma once
// A small progress widget showing how far Progress has come through MinValue..MaxValue as a whole
// percentage, in one of five kinds (the program uses the pie). It has no native window of its own,
// paints only inside its own rectangle, takes no input, and composes every picture off-screen so
// that the screen is touched by a single copy.

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace veltrane {

// What a setter throws when it would put the range out of order (MinValue above MaxValue).
class EInvalidOperation : public std::runtime_error {
public:
    explicit EInvalidOperation(const std::string& message) : std::runtime_error(message) {}
};

class TGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TGaugeKind Kind READ Kind WRITE setKind)
    Q_PROPERTY(bool ShowText READ ShowText WRITE setShowText)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE setBorderStyle)
    Q_PROPERTY(QColor Color READ Color WRITE setColor)
    Q_PROPERTY(QColor ForeColor READ ForeColor WRITE setForeColor)
    Q_PROPERTY(QColor BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(int MinValue READ MinValue WRITE setMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE setMaxValue)
    Q_PROPERTY(int Progress READ Progress WRITE setProgress)
    Q_PROPERTY(int Percentage READ Percentage)

public:
    enum TGaugeKind : std::uint8_t { gkText = 0, gkHorizontalBar = 1, gkVerticalBar = 2, gkPie = 3, gkNeedle = 4 };
    Q_ENUM(TGaugeKind)
    enum TBorderStyle { bsNone = 0, bsSingle = 1 };
    Q_ENUM(TBorderStyle)

    // 100 x 100, a black horizontal bar on white over 0..100, framed, with its figure.
    explicit TGauge(QWidget* parent = nullptr);

    TGaugeKind Kind() const { return m_kind; }
    bool ShowText() const { return m_showText; }
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    // Background of the pie and needle kinds, outside their ellipse.
    QColor Color() const { return m_color; }
    QColor ForeColor() const { return m_foreColor; }
    QColor BackColor() const { return m_backColor; }
    int MinValue() const { return m_minValue; }
    int MaxValue() const { return m_maxValue; }
    int Progress() const { return m_progress; }
    // (Progress - MinValue) * 100 / (MaxValue - MinValue) rounded down; 0 for an empty range.
    int Percentage() const;

    // Each setter ignores a value equal to the stored one; otherwise it stores the value and, when
    // the gauge is visible, repaints before returning.
    void setKind(TGaugeKind kind) { Store(m_kind, kind); }
    void setShowText(bool showText) { Store(m_showText, showText); }
    void setBorderStyle(TBorderStyle borderStyle) { Store(m_borderStyle, borderStyle); }
    void setColor(const QColor& color) { Store(m_color, color); }
    void setForeColor(const QColor& color) { Store(m_foreColor, color); }
    void setBackColor(const QColor& color) { Store(m_backColor, color); }
    // Throws EInvalidOperation, changing nothing, when the value would put MinValue above MaxValue.
    void setMinValue(int value);
    // Throws EInvalidOperation, changing nothing, when the value would put MaxValue below MinValue.
    void setMaxValue(int value);
    // Clamps into MinValue..MaxValue; repaints only when the whole percentage changes.
    void setProgress(int value);

    // The gauge's picture as a paint puts it on the screen, composed at `devicePixelRatio` device
    // pixels per pixel: the drawing's geometry stays in device-independent pixels, only finer.
    QImage Picture(qreal devicePixelRatio) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Stores a look setting that differs from the one stored, repainting at once when visible.
    template <typename T> void Store(T& setting, const T& value) {
        if (value == setting)
            return;
        setting = value;
        RepaintAtOnce();
    }
    void RepaintAtOnce();
    // Tells assistive technology the new percentage when it differs from `before`.
    void AnnouncePercentage(int before);

    TGaugeKind m_kind = gkHorizontalBar;
    bool m_showText = true;
    TBorderStyle m_borderStyle = bsSingle;
    QColor m_color;
    QColor m_foreColor = Qt::black;
    QColor m_backColor = Qt::white;
    int m_minValue = 0;
    int m_maxValue = 100;
    int m_progress = 0;
};

// Makes `gauge` the main window's: a red pie on black with its figure in the casual face, hidden at 0.
// Placement (113 x 105 at 16, 0 in the bottom panel) belongs to the window's layout.
void ConfigurePercentDoneGauge(TGauge& gauge);

} // namespace veltrane
