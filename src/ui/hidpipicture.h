#ifndef HIDPIPICTURE_H
#define HIDPIPICTURE_H

#include <QPixmap>
#include <QString>

// The window's pictures for the screen they are shown on: every picture
// "NAME.png" also exists drawn at twice the size as "NAME@2x.png", used when
// the screen scales by more than 1. At scale 1 the picture is the 1x file as
// it stands. (Icons made with QIcon::addFile, as the form's, find the larger
// file by themselves; a plain QPixmap does not.)
class HiDpiPicture
{
public:
    // The picture for the application's screens (their highest scale).
    static QPixmap pixmap(const QString &path);
    // The picture for a screen of `ratio` device pixels per pixel.
    static QPixmap pixmap(const QString &path, qreal ratio);
    // "NAME@2x.png" beside "NAME.png".
    static QString doubleSizePath(const QString &path);
};

#endif // HIDPIPICTURE_H
