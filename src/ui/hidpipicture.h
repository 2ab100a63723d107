#ifndef HIDPIPICTURE_H
#define HIDPIPICTURE_H

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <initializer_list>

// The window's pictures for the screen they are shown on: every picture
// "NAME.png" also exists drawn at twice the size as "NAME@2x.png", used when
// the screen scales by more than 1. At scale 1 the picture is the 1x file as
// it stands.
class HiDpiPicture
{
public:
    // One file of a button's icon and where it goes.
    struct IconFile
    {
        QString path;
        QIcon::Mode mode;
        QIcon::State state;
    };

    // The picture for the application's screens (their highest scale).
    static QPixmap pixmap(const QString &path);
    // The picture for a screen of `ratio` device pixels per pixel.
    static QPixmap pixmap(const QString &path, qreal ratio);
    // An icon of exactly these files, one picture each for the application's
    // screens. (An icon that looked for the larger files itself would pick
    // one of them on a 1x screen too wherever the asked size is larger than
    // the picture, and scale it down.)
    static QIcon icon(std::initializer_list<IconFile> files);
    // "NAME@2x.png" beside "NAME.png".
    static QString doubleSizePath(const QString &path);
};

#endif // HIDPIPICTURE_H
