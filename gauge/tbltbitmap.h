#pragma once
// The scratch image of a gauge paint: an off-screen 32-bit RGB image with its own painter surface.

#include <QImage>

namespace veltrane {

class TBltBitmap : public QImage {
public:
    TBltBitmap() = default;
    // A fresh image of the given size in pixels; its contents are undefined until filled.
    TBltBitmap(int width, int height) : QImage(width, height, QImage::Format_RGB32) {}
    // A fresh image covering `size` device-independent pixels at `devicePixelRatio` device pixels
    // each (rounded up), painted in device-independent coordinates.
    TBltBitmap(const QSize& size, qreal devicePixelRatio);

    // Gives this image the template's width and height and device pixel ratio (and the 32-bit RGB
    // format); the former contents are discarded.
    void MakeLike(const QImage& templateImage);
    // XORs `source` (32-bit RGB, this image's size) into this image pixel by pixel within `area`
    // (device-independent pixels; all of it when empty), as the source-XOR-destination raster
    // operation does, the pixels staying opaque. Done here in one plain loop: the painter hands such
    // a combination to worker threads, which for an image this small costs far more in waking them
    // than the work itself.
    void XorFrom(const QImage& source, const QRect& area = QRect());
};

} // namespace veltrane
