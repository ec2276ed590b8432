#include "resources/pictures.h"

#include <QImage>
#include <QtMath>

namespace veltrane {

namespace {

QString PicturePath(const QString& name, bool twice) {
    return QStringLiteral(":/images/%1%2.png").arg(name, twice ? QStringLiteral("@2x") : QString());
}

} // namespace

QPixmap Picture(const QString& name, qreal devicePixelRatio) {
    if (devicePixelRatio <= 1.0)
        return QPixmap(PicturePath(name, false));
    QImage image(PicturePath(name, true));
    if (devicePixelRatio != 2.0) {
        // Between the two densities (1.5, say) the larger picture is brought down to the exact size,
        // which keeps more detail than blowing up the smaller one. The pictures are stored with a
        // palette; scaling is done on full colour (Qt's threaded scaling fails on palette images).
        const QSize designed = QImage(PicturePath(name, false)).size();
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                    .scaled(qCeil(designed.width() * devicePixelRatio), qCeil(designed.height() * devicePixelRatio),
                            Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(image);
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(PicturePath(QStringLiteral("veltrane32"), false));
    icon.addFile(PicturePath(QStringLiteral("veltrane32"), true));
    return icon;
}

} // namespace veltrane
