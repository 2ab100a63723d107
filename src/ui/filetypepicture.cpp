#include "ui/filetypepicture.h"

#include "ui/hidpipicture.h"

namespace {
struct TypePictures
{
    const char *suffix;
    const char *icon;    // 16 x 15, the table's name column
    const char *picture; // 95 x 89, the detail panel
};
// A name ends with at most one of these, so the order decides nothing.
constexpr TypePictures Types[] = {
    {"wav", ":/images/resource/ZV_06_02_wav.png", ":/images/resource/ZV_06_02_wav_L.png"},
    {"mp3", ":/images/resource/ZV_06_02_mp3.png", ":/images/resource/ZV_06_02_mp3_L.png"},
    {"wma", ":/images/resource/ZV_06_02_wma.png", ":/images/resource/ZV_06_02_wma_L.png"},
    {"dsd", ":/images/resource/ZV_06_02_dsd.png", ":/images/resource/ZV_06_02_dsd_L.png"},
    {"aif", ":/images/resource/ZV_06_02_aif.png", ":/images/resource/ZV_06_02_aif_L.png"},
};
} // namespace

QPixmap FileTypePicture::tableIcon(const QString &name)
{
    const QString lower = name.toLower();
    for (const TypePictures &type : Types) {
        if (lower.endsWith(QLatin1String(type.suffix), Qt::CaseSensitive))
            return HiDpiPicture::pixmap(QString::fromLatin1(type.icon));
    }
    return QPixmap();
}

QPixmap FileTypePicture::detailPicture(const QString &name)
{
    for (const TypePictures &type : Types) {
        if (name.endsWith(QLatin1Char('.') + QLatin1String(type.suffix), Qt::CaseSensitive))
            return HiDpiPicture::pixmap(QString::fromLatin1(type.picture));
    }
    return QPixmap();
}
