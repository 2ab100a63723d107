#ifndef FILETYPEPICTURE_H
#define FILETYPEPICTURE_H

#include <QObject>
#include <QPixmap>
#include <QString>

// The pictures of a recording's type, chosen by the ending of its name. One
// table of suffixes, read two ways: the file table's small icons and the
// detail panel's large picture do not test the name alike.
class FileTypePicture : public QObject
{
    Q_OBJECT
public:
    // The table's icon: the lower-cased name ends with the suffix, dot or
    // not ("take.WAV" and "takewav" both get the wav icon). Null for none.
    static QPixmap tableIcon(const QString &name);
    // The detail panel's picture: the name as it stands ends with a dot and
    // the suffix ("take.WAV" gets none). Null for none.
    static QPixmap detailPicture(const QString &name);

private:
    FileTypePicture() = delete;
};

#endif // FILETYPEPICTURE_H
