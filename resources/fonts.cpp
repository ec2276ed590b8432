#include "resources/fonts.h"

#include <QStringList>

namespace veltrane {

namespace {

QFont MakeFont(const QStringList& families, int pixelSize, FontStyle style) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    // The layout was designed for these exact faces: never let fontconfig wander to a wider face.
    font.setStyleHint(QFont::AnyStyle, QFont::PreferMatch);
    return font;
}

} // namespace

QFont SerifFont(int pixelSize, FontStyle style) {
    return MakeFont({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")}, pixelSize, style);
}

QFont SansFont(int pixelSize, FontStyle style) {
    return MakeFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")}, pixelSize, style);
}

QFont CasualFont(int pixelSize, FontStyle style) {
    return MakeFont({QStringLiteral("Lucida Casual"), QStringLiteral("Comic Neue"), QStringLiteral("Liberation Sans")},
                    pixelSize, style);
}

} // namespace veltrane
