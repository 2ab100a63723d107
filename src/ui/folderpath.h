#ifndef FOLDERPATH_H
#define FOLDERPATH_H

#include <QString>
#include <QStringList>

#include "base/zvrecordmode.h"

// The recorder's current folder as the user walked it from the tree's top
// ("MUSIC/FOLDER01"). The recorder never names its folder itself: each move
// the window asks for is noted, and takes effect when the listing of the new
// folder arrives. A listing the recorder renewed on its own keeps the path.
class FolderPath
{
public:
    // The tree's top as the path shows it.
    static QString rootName(ZVRecordMode mode);

    // A new link or another tree: the listing that follows is the tree's top.
    void startAt(ZVRecordMode mode);
    void enter(const QString &folder);
    void up();
    // The listing asked for has arrived: the path shows its folder.
    void listed();
    // No recorder: no path.
    void clear();

    QString text() const { return shown.join(QLatin1Char('/')); }
    // The same place as the sync record names it: the tree ("music", "mtr")
    // and the folders below its top ("" there, else "LIVE/").
    QString recordTree() const;
    QString recordFolder() const;

private:
    // What the last move asked for makes of the path (the shown one when no
    // move is on its way).
    QStringList &next();

    QStringList shown;
    QStringList pending;
    bool movePending = false;
};

#endif // FOLDERPATH_H
