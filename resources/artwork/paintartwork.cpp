// Paints the program's pictures and writes them as indexed PNG files:
//   paintartwork OUTPUT_FOLDER
//   paintartwork --icons THEME_FOLDER NAME SIZE...   (the program icon for an icon theme)
// Every picture comes at its designed size (NAME.png) and at twice that (NAME@2x.png) for screens of two device
// pixels per pixel, where Qt picks the larger file by itself. The pictures are made here, from code, so that they
// can be remade and changed on purpose; the committed PNGs in resources/images are this program's output. Nothing
// here draws text with a system font, so the result does not depend on what fonts the machine has: the letters of
// the stop sign are drawn from bitmaps below.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace veltrane {

namespace {

using Palette = QVector<QRgb>;

// The sixteen colours every 16-colour icon may use, with one entry given up for transparency: fuchsia is the
// one colour none of the pictures wants.
Palette IconPalette(bool transparent) {
    Palette p{qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
              qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
              qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
              qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    if (transparent)
        p[13] = qRgba(0, 0, 0, 0);
    return p;
}

// 256 shades for the emblem: black to full red, the last few lifted towards a pale red where the ink lies
// thickest, as wet paint catches the light.
Palette EmblemPalette() {
    Palette p;
    for (int i = 0; i < 240; ++i)
        p.append(qRgb(i * 255 / 239, 0, 0));
    for (int i = 1; i <= 16; ++i)
        p.append(qRgb(255, i * 6, i * 5));
    return p;
}

// Maps every pixel to the nearest palette entry (plain distance in RGB; no dithering, which would only add
// noise at these sizes). Pixels less than half opaque go to the transparent entry where the palette has one.
QImage Quantise(const QImage& source, const Palette& palette) {
    const QImage src = source.convertToFormat(QImage::Format_ARGB32);
    QImage out(src.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    const qsizetype transparentIndex =
        std::find_if(palette.begin(), palette.end(), [](QRgb c) { return qAlpha(c) == 0; }) - palette.begin();
    for (int y = 0; y < src.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        std::uint8_t* line = out.scanLine(y);
        for (int x = 0; x < src.width(); ++x) {
            const QRgb c = in[x];
            if (transparentIndex < palette.size() && qAlpha(c) < 128) {
                line[x] = static_cast<std::uint8_t>(transparentIndex);
                continue;
            }
            int best = 0;
            long bestDistance = -1;
            for (int i = 0; i < palette.size(); ++i) {
                if (qAlpha(palette[i]) == 0)
                    continue;
                const long dr = qRed(c) - qRed(palette[i]);
                const long dg = qGreen(c) - qGreen(palette[i]);
                const long db = qBlue(c) - qBlue(palette[i]);
                const long d = dr * dr + dg * dg + db * db;
                if (bestDistance < 0 || d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            line[x] = static_cast<std::uint8_t>(best);
        }
    }
    return out;
}

// A cheap, repeatable noise: the same stroke comes out the same on every machine.
double HashNoise(int a, int b) {
    std::uint32_t h = static_cast<std::uint32_t>(a) * 0x9E3779B1u ^ static_cast<std::uint32_t>(b) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<double>(h & 0xFFFFFF) / static_cast<double>(0xFFFFFF);
}

double SmoothNoise(int bristle, double t, double scale) {
    const double x = t * scale;
    const int i = static_cast<int>(std::floor(x));
    const double f = x - i;
    const double s = f * f * (3 - 2 * f);
    return HashNoise(bristle, i) * (1 - s) + HashNoise(bristle, i + 1) * s;
}

// The brush character: one stroke around a lying figure eight, written the way a loaded brush moves. It
// starts pressed down at the crossing, runs round the right loop and the left one, and lifts off in a dry
// tail past the crossing. A bristle is a small round stamp offset across the brush; near the end of the stroke
// the bristles run out of ink one by one, which gives the streaky finish.
// The character is drawn into a box of `size` (in pixels of `image`), with black around it.
void PaintBrushInfinity(QImage& image, QRectF box, double weight) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const double unit = box.width() / 115.0;
    const QPointF centre = box.center() + QPointF(0, -1.5 * unit);
    const double tilt = -7.0 * std::numbers::pi / 180.0;
    const double a = 52.0 * unit;
    const double b = 96.0 * unit;

    auto pointAt = [&](double s) {
        // A lemniscate, s = 0 at the crossing, heightened so the loops come out round as a brush makes them;
        // the right loop a little larger than the left: a hand never writes both the same.
        const double t = s + std::numbers::pi / 2;
        const double d = 1.0 + std::sin(t) * std::sin(t);
        const double right = std::cos(t) <= 0 ? 1.05 : 0.95;
        const double x = -a * std::cos(t) / d * right;
        const double y = -b * std::sin(t) * std::cos(t) / d * right;
        // Past the crossing the second time, the hand drifts off the figure as it lifts, so the tail shows beside
        // the first, pressed part of the stroke instead of on top of it.
        const double past = std::max(0.0, s - 2 * std::numbers::pi);
        const QPointF drift = QPointF(-4.0, 30.0) * unit * past * past;
        return QPointF(centre.x() + x * std::cos(tilt) - y * std::sin(tilt),
                       centre.y() + x * std::sin(tilt) + y * std::cos(tilt)) +
               drift;
    };

    const double start = -0.45;
    const double end = 2 * std::numbers::pi + 0.62;
    const int steps = 900;
    const int bristles = 18;
    const double nibAngle = -38.0 * std::numbers::pi / 180.0;
    const QPointF nib(std::cos(nibAngle), std::sin(nibAngle));

    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double s = start + (end - start) * t;
        const QPointF p = pointAt(s);
        const QPointF q = pointAt(s + 0.002);
        QPointF dir = q - p;
        const double len = std::hypot(dir.x(), dir.y());
        if (len > 0)
            dir /= len;
        const QPointF across(-dir.y(), dir.x());
        // A brush's width lies across its motion, the calligrapher's broad nib at a fixed slant; a mix of the two
        // gives the swelling and thinning of a brush held at an angle.
        QPointF spread = across * 0.2 + nib * 0.8;
        const double spreadLength = std::hypot(spread.x(), spread.y());
        spread /= spreadLength;
        const double thin = std::abs(dir.x() * nib.x() + dir.y() * nib.y()); // moving along the nib: thin line

        // Pressure: pressed at the start, a little swell through each loop, lifted towards the end.
        double pressure = 0.78 + 0.22 * std::sin(t * 2 * std::numbers::pi * 2 + 0.6);
        if (t < 0.05)
            pressure *= 0.45 + 0.8 * std::sqrt(t / 0.05);
        else if (t < 0.10)
            pressure *= 1.25 - 0.25 * (t - 0.05) / 0.05;
        if (t > 0.84)
            pressure *= std::max(0.1, 1.0 - (t - 0.84) / 0.16 * 0.9);

        const double width = weight * unit * (21.0 - 15.0 * thin) * pressure;
        const double dryness = t > 0.62 ? (t - 0.62) / 0.38 : 0.0;

        for (int k = 0; k < bristles; ++k) {
            const double u = (k + 0.5) / bristles * 2.0 - 1.0;
            // Outer bristles dry first; each one skips where its own noise falls under the dryness.
            const double reserve = SmoothNoise(k, t, 9.0 + k % 5) * 0.85 + 0.15 * (1.0 - std::abs(u));
            if (reserve < dryness * 1.1)
                continue;
            const double jitter = (SmoothNoise(k + 100, t, 23.0) - 0.5) * 0.12;
            const QPointF at = p + spread * ((u + jitter) * width / 2.0);
            const double radius = weight * unit * (0.85 + 0.35 * SmoothNoise(k + 300, t, 4.0));
            const int shade = 200 + static_cast<int>(55 * SmoothNoise(k + 200, t, 3.0));
            const bool wet = t < 0.5 && std::abs(u) < 0.25 && SmoothNoise(k + 400, t, 6.0) > 0.82;
            painter.setBrush(wet ? QColor(255, 70, 60) : QColor(shade, 0, 0));
            painter.drawEllipse(at, radius, radius);
        }
    }
}

QImage BrushCharacter(int width, int height, double weight) {
    const int oversample = 4;
    QImage big(width * oversample, height * oversample, QImage::Format_RGB32);
    big.fill(Qt::black);
    PaintBrushInfinity(big, QRectF(0, 0, width * oversample, height * oversample), weight);
    return big.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The emblem at `scale` times its designed 115 x 95 pixels, in its 256 shades. The window shows it in a
// place 113 pixels wide and cuts off the rest, so the character keeps to the first 113 columns (times
// the scale) and the last two stay background: whole at every scale.
QImage Emblem(int scale) {
    QImage canvas(115 * scale, 95 * scale, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.drawImage(0, 0, BrushCharacter(113 * scale, 95 * scale, 1.0));
    painter.end();
    return Quantise(canvas, EmblemPalette());
}

// The program icon, `size` pixels square. The classic sizes up to 32 keep the sixteen icon colours; larger ones
// take the emblem's shades, which keep the brush's edge smooth where sixteen colours would band it.
QImage ProgramIcon(int size) {
    return Quantise(BrushCharacter(size, size, 1.25), size <= 32 ? IconPalette(false) : EmblemPalette());
}

// Doubles a pixel picture the way a pixel artist would (the Scale2x rule): each pixel becomes four, and a corner
// takes the colour of the two neighbours beside it where they agree and differ from the other two, so a diagonal
// edge stays a diagonal instead of turning into steps twice the size.
QImage Scale2x(const QImage& src) {
    const int w = src.width(), h = src.height();
    auto at = [&](int x, int y) { return src.pixel(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1)); };
    QImage out(w * 2, h * 2, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = at(x, y), up = at(x, y - 1), right = at(x + 1, y), left = at(x - 1, y), down = at(x, y + 1);
            out.setPixel(2 * x, 2 * y, left == up && left != down && up != right ? up : p);
            out.setPixel(2 * x + 1, 2 * y, up == right && up != left && right != down ? right : p);
            out.setPixel(2 * x, 2 * y + 1, down == left && down != right && left != up ? left : p);
            out.setPixel(2 * x + 1, 2 * y + 1, right == down && right != up && down != left ? down : p);
        }
    return out;
}

// --- the small computer: a monitor on a desktop case, a yellow folder on its screen ---------------------------

void Fill(QImage& img, int x0, int y0, int x1, int y1, QRgb c) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
                img.setPixel(x, y, c);
}

// A raised box: light top and left, dark bottom and right, as on a classic beige machine.
void BevelBox(QImage& img, int x0, int y0, int x1, int y1) {
    Fill(img, x0, y0, x1, y1, qRgb(0, 0, 0));
    Fill(img, x0 + 1, y0 + 1, x1 - 1, y1 - 1, qRgb(192, 192, 192));
    Fill(img, x0 + 1, y0 + 1, x1 - 2, y0 + 1, qRgb(255, 255, 255));
    Fill(img, x0 + 1, y0 + 1, x0 + 1, y1 - 2, qRgb(255, 255, 255));
    Fill(img, x0 + 2, y1 - 1, x1 - 1, y1 - 1, qRgb(128, 128, 128));
    Fill(img, x1 - 1, y0 + 2, x1 - 1, y1 - 1, qRgb(128, 128, 128));
}

QImage Computer32() {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    const QRgb black = qRgb(0, 0, 0), yellow = qRgb(255, 255, 0), olive = qRgb(128, 128, 0), navy = qRgb(0, 0, 128),
               gray = qRgb(128, 128, 128), lime = qRgb(0, 255, 0), silver = qRgb(192, 192, 192);
    // Monitor with its screen.
    BevelBox(img, 3, 0, 28, 21);
    Fill(img, 6, 3, 25, 17, gray);
    Fill(img, 7, 4, 25, 17, navy);
    Fill(img, 6, 3, 25, 3, gray);
    Fill(img, 6, 3, 6, 17, gray);
    Fill(img, 7, 18, 25, 18, qRgb(255, 255, 255));
    // The folder: tab, body, shade, outline.
    Fill(img, 9, 6, 14, 7, black);
    Fill(img, 10, 7, 13, 7, yellow);
    Fill(img, 9, 8, 22, 15, black);
    Fill(img, 10, 8, 21, 14, yellow);
    Fill(img, 10, 14, 21, 14, olive);
    Fill(img, 21, 9, 21, 14, olive);
    Fill(img, 10, 8, 13, 8, yellow);
    Fill(img, 14, 8, 21, 8, qRgb(255, 255, 255));
    Fill(img, 14, 8, 14, 8, yellow);
    // Power light under the screen.
    Fill(img, 24, 19, 25, 19, lime);
    // Neck, then the desktop case with a floppy slot and a drive light.
    Fill(img, 12, 22, 19, 23, black);
    Fill(img, 13, 22, 18, 22, gray);
    BevelBox(img, 1, 23, 30, 31);
    Fill(img, 4, 26, 15, 27, black);
    Fill(img, 4, 27, 15, 27, gray);
    Fill(img, 26, 27, 27, 27, lime);
    Fill(img, 19, 28, 23, 28, gray);
    Fill(img, 19, 26, 23, 26, silver);
    return img;
}

QImage Computer16() {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    const QRgb black = qRgb(0, 0, 0), yellow = qRgb(255, 255, 0), olive = qRgb(128, 128, 0), navy = qRgb(0, 0, 128),
               lime = qRgb(0, 255, 0);
    BevelBox(img, 1, 0, 14, 11);
    Fill(img, 3, 2, 12, 8, navy);
    // Folder: a tab and a body, shaded at the bottom.
    Fill(img, 4, 3, 6, 3, yellow);
    Fill(img, 4, 4, 10, 7, yellow);
    Fill(img, 5, 7, 10, 7, olive);
    Fill(img, 11, 4, 11, 7, black);
    Fill(img, 12, 10, 12, 10, lime);
    Fill(img, 6, 12, 9, 12, black);
    BevelBox(img, 0, 13, 15, 15);
    Fill(img, 2, 14, 7, 14, black);
    Fill(img, 12, 14, 13, 14, lime);
    return img;
}

// --- the stop sign ----------------------------------------------------------------------------------------------

// Distance from the centre in the octagon's own measure: the largest of |dx|, |dy| and (|dx|+|dy|)/sqrt(2), so that
// all points of equal measure lie on a regular octagon with flat top, bottom and sides.
double OctagonMeasure(double dx, double dy) {
    return std::max({std::abs(dx), std::abs(dy), (std::abs(dx) + std::abs(dy)) / std::numbers::sqrt2});
}

void drawGlyphs(QImage& img, int x, int y, const std::array<const char*, 4>& glyphs, int rows, const int* gaps,
                QRgb colour) {
    for (int g = 0; g < 4; ++g) {
        const char* rowsText = glyphs[static_cast<std::size_t>(g)];
        const auto width = static_cast<int>(std::strchr(rowsText, '|') - rowsText);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < width; ++c)
                if (rowsText[r * (width + 1) + c] == '#')
                    img.setPixel(x + c, y + r, colour);
        x += width + (g < 3 ? gaps[g] : 0);
    }
}

// The sign's face at `scale` device pixels per pixel of its `size`: the octagon is measured in the design's
// pixels and sampled at every device pixel, so the larger picture has a smooth outline, not a doubled staircase.
QImage StopFace(int size, int scale) {
    QImage img(size * scale, size * scale, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    const double c = size / 2.0;
    const double radius = size / 2.0;
    // The small sign has no room for a white rim beside its letters; a dark edge frames it instead.
    const double rim = size >= 32 ? 2.2 : 0.0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double dx = (x + 0.5) / scale - c, dy = (y + 0.5) / scale - c;
            const double m = OctagonMeasure(dx, dy);
            if (m > radius + 0.05)
                continue;
            QRgb colour = qRgb(255, 0, 0);
            if (m > radius - 1.0)
                colour = qRgb(128, 0, 0);
            else if (m > radius - 1.0 - rim)
                colour = qRgb(255, 255, 255);
            else if (size >= 32 && dx + dy > 0 && m > radius - 1.0 - rim - 1.0)
                colour = qRgb(128, 0, 0); // inner shade on the lower right gives the face some depth
            img.setPixel(x, y, colour);
        }
    return img;
}

// The word STOP, white on transparent, at the sign's designed size.
QImage StopLetters(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    const QRgb white = qRgb(255, 255, 255);
    if (size >= 32) {
        // 5 x 7 letters, one pixel apart.
        const std::array<const char*, 4> glyphs{
            ".###.|#...#|#....|.###.|....#|#...#|.###.|", "#####|..#..|..#..|..#..|..#..|..#..|..#..|",
            ".###.|#...#|#...#|#...#|#...#|#...#|.###.|", "####.|#...#|#...#|####.|#....|#....|#....|"};
        const int gaps[3] = {1, 1, 1};
        drawGlyphs(img, (size - 23) / 2, (size - 7) / 2, glyphs, 7, gaps, white);
    } else {
        // 3 x 5 letters; the round O tucks under the arm of the T, which buys the pixel the word needs.
        const std::array<const char*, 4> glyphs{".##|#..|.#.|..#|##.|", "###|.#.|.#.|.#.|.#.|", ".#.|#.#|#.#|#.#|.#.|",
                                                "##.|#.#|##.|#..|#..|"};
        const int gaps[3] = {1, 0, 1};
        drawGlyphs(img, 1, (size - 5) / 2, glyphs, 5, gaps, white);
    }
    return img;
}

// The sign at `scale` 1 or 2; the letters are doubled as pixel art, the face is painted anew.
QImage StopSign(int size, int scale) {
    QImage img = StopFace(size, scale);
    const QImage letters = StopLetters(size);
    QPainter painter(&img);
    painter.drawImage(0, 0, scale == 2 ? Scale2x(letters) : letters);
    return img;
}

bool Save(const QImage& image, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "paintartwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// One picture of the program: its file name without ".png", and how to paint it at 1 or 2 device pixels per pixel.
// A 16-pixel picture doubled is the 32-pixel design, which has the detail that the small one had to leave out.
struct Picture {
    const char* Name;
    QImage (*Paint)(int scale);
};

const Picture Pictures[] = {
    {"emblem", [](int scale) { return Emblem(scale); }},
    {"veltrane32", [](int scale) { return ProgramIcon(32 * scale); }},
    {"open32",
     [](int scale) { return Quantise(scale == 2 ? Scale2x(Computer32()) : Computer32(), IconPalette(true)); }},
    {"open16", [](int scale) { return Quantise(scale == 2 ? Computer32() : Computer16(), IconPalette(true)); }},
    {"stop32", [](int scale) { return Quantise(StopSign(32, scale), IconPalette(true)); }},
    {"stop16", [](int scale) { return Quantise(scale == 2 ? StopSign(32, 1) : StopSign(16, 1), IconPalette(true)); }},
};

} // namespace

// The program icon for a desktop's icon theme: THEME_FOLDER/NxN/apps/NAME.png for each size N.
int PaintThemeIcons(const QString& themeFolder, const QString& name, const QStringList& sizes) {
    bool ok = !sizes.isEmpty();
    for (const QString& text : sizes) {
        const int size = text.toInt();
        const QDir dir(QStringLiteral("%1/%2x%2/apps").arg(themeFolder).arg(size));
        if (size < 1 || !QDir().mkpath(dir.path())) {
            std::fprintf(stderr, "paintartwork: cannot make an icon of size %s in %s\n", qPrintable(text),
                         qPrintable(themeFolder));
            return 1;
        }
        ok &= Save(ProgramIcon(size), dir, name + QStringLiteral(".png"));
    }
    return ok ? 0 : 1;
}

} // namespace veltrane

int main(int argc, char* argv[]) {
    if (argc >= 5 && std::strcmp(argv[1], "--icons") == 0) {
        QStringList sizes;
        for (int n = 4; n < argc; ++n)
            sizes << QString::fromLocal8Bit(argv[n]);
        return veltrane::PaintThemeIcons(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), sizes);
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: paintartwork OUTPUT_FOLDER\n"
                             "       paintartwork --icons THEME_FOLDER NAME SIZE...\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "paintartwork: cannot make %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    for (const veltrane::Picture& picture : veltrane::Pictures) {
        const QString name = QString::fromLatin1(picture.Name);
        ok &= veltrane::Save(picture.Paint(1), dir, name + QStringLiteral(".png"));
        ok &= veltrane::Save(picture.Paint(2), dir, name + QStringLiteral("@2x.png"));
    }
    return ok ? 0 : 1;
}
