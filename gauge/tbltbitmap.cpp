#include "gauge/tbltbitmap.h"

#include <QRect>
#include <QtMath>

namespace veltrane {

TBltBitmap::TBltBitmap(const QSize& size, qreal devicePixelRatio)
    : QImage(qCeil(size.width() * devicePixelRatio), qCeil(size.height() * devicePixelRatio), QImage::Format_RGB32) {
    setDevicePixelRatio(devicePixelRatio);
}

void TBltBitmap::MakeLike(const QImage& templateImage) {
    // Always 32-bit RGB: the XOR combination of the gauge relies on every image having the same
    // pixel layout, whatever the template happens to be.
    QImage::operator=(QImage(templateImage.size(), QImage::Format_RGB32));
    setDevicePixelRatio(templateImage.devicePixelRatio());
}

void TBltBitmap::XorFrom(const QImage& source, const QRect& area) {
    Q_ASSERT(source.format() == QImage::Format_RGB32 && format() == QImage::Format_RGB32);
    const QRect whole = rect() & source.rect();
    const qreal ratio = devicePixelRatio();
    const QRect device =
        area.isEmpty() || ratio == 1.0
            ? area
            : QRect(QPoint(qFloor(area.left() * ratio), qFloor(area.top() * ratio)),
                    QPoint(qCeil((area.right() + 1) * ratio) - 1, qCeil((area.bottom() + 1) * ratio) - 1));
    const QRect part = area.isEmpty() ? whole : device & whole;
    if (part.isEmpty())
        return;
    uchar* const targetBits = bits();
    const uchar* const sourceBits = source.constBits();
    const qsizetype targetStride = bytesPerLine();
    const qsizetype sourceStride = source.bytesPerLine();
    for (int y = part.top(); y <= part.bottom(); ++y) {
        auto* target = reinterpret_cast<QRgb*>(targetBits + y * targetStride) + part.left();
        const auto* from = reinterpret_cast<const QRgb*>(sourceBits + y * sourceStride) + part.left();
        for (int x = 0; x < part.width(); ++x)
            target[x] = (target[x] ^ from[x]) | 0xFF000000u;
    }
}

} // namespace veltrane
