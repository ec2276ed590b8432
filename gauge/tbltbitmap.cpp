#include "gauge/tbltbitmap.h"

namespace veltrane {

TBltBitmap::TBltBitmap(int width, int height) : QImage(width, height, QImage::Format_RGB32) {}

void TBltBitmap::MakeLike(const QImage& templateImage) {
    // Always 32-bit RGB: the XOR combination of the gauge relies on every image having the same
    // pixel layout, whatever the template happens to be.
    QImage::operator=(QImage(templateImage.size(), QImage::Format_RGB32));
}

} // namespace veltrane
