#include "ui/hidpipicture.h"

#include <QFile>
#include <QGuiApplication>

namespace {
const QString DoubleSizeSuffix = QStringLiteral("@2x");
}

QPixmap HiDpiPicture::pixmap(const QString &path)
{
    return pixmap(path, qApp ? qApp->devicePixelRatio() : 1.0);
}

QPixmap HiDpiPicture::pixmap(const QString &path, qreal ratio)
{
    if (ratio > 1.0) {
        const QString larger = doubleSizePath(path);
        QPixmap picture;
        if (QFile::exists(larger) && picture.load(larger)) {
            picture.setDevicePixelRatio(2.0);
            return picture;
        }
    }
    return QPixmap(path);
}

QString HiDpiPicture::doubleSizePath(const QString &path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= path.lastIndexOf(QLatin1Char('/')))
        return path + DoubleSizeSuffix;
    return path.left(dot) + DoubleSizeSuffix + path.mid(dot);
}
