#pragma once
// The scratch image of a gauge paint: an off-screen 32-bit RGB image with its own painter surface.

#include <QImage>

namespace veltrane {

class TBltBitmap : public QImage {
public:
    TBltBitmap() = default;
    // A fresh image of the given size; its contents are undefined until filled.
    TBltBitmap(int width, int height);

    // Gives this image the template's width and height (and the 32-bit RGB format); the former
    // contents are discarded.
    void MakeLike(const QImage& templateImage);
};

} // namespace veltrane
