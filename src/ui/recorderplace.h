#ifndef RECORDERPLACE_H
#define RECORDERPLACE_H

#include <QString>
#include <QStringList>

#include "base/zvrecordmode.h"

// Where on the recorder the window's listing is: the tree and the folder
// path below its top, as the sync record names a recording ("music",
// "LIVE/take.wav"). The protocol cannot ask for either: a connection starts
// at the top of the tree the recorder is on (music until it reports
// otherwise), and the window follows its own moves from there.
class RecorderPlace
{
public:
    void connected() { folders.clear(), pending = Pending::None; }
    void treeChanged(ZVRecordMode mode);
    void enterRequested(const QString &folder) { pending = Pending::Enter, pendingFolder = folder; }
    void upRequested() { pending = Pending::Up; }
    // A listing arrived: the move asked for before it has happened.
    void listed();

    QString tree() const;
    // "" at the top, else the folders ending in "/".
    QString path() const;

private:
    enum class Pending { None, Enter, Up };
    ZVRecordMode mode = RecordModeMusic;
    QStringList folders;
    Pending pending = Pending::None;
    QString pendingFolder;
};

#endif // RECORDERPLACE_H
