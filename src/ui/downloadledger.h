#ifndef DOWNLOADLEDGER_H
#define DOWNLOADLEDGER_H

#include <QDateTime>
#include <QSet>
#include <QString>

#include "base/samenameoption.h"

// What one download of the window brought into its folder. Each file that
// completes (or that the same-name rule kept, being the same recording) is
// noted at once in the folder's sync record, the one zv-transfer sync keeps,
// so both programs agree on what was taken. The record is read again before
// every write, so a sync running into the same folder loses nothing; a
// damaged one, or one of another version, is set aside by SyncManifest and
// a new one started, and one that cannot be set aside is left alone.
class DownloadLedger
{
public:
    // A download into `folder` of recordings in `tree` below `recorderPath`
    // (FolderPath); reads the folder's names once, to tell later which
    // counted name the same-name rule gave a file.
    void begin(const QString &folder, SameNameOption rule, const QString &tree, const QString &recorderPath);
    const QString &folder() const { return directory; }

    // The controller's reports: a file kept by the same-name rule is told
    // before it is reported as started.
    void fileKept(const QString &name) { keptName = name; }
    void fileStarted(const QString &name, qint64 size, const QDateTime &recorded);
    void fileProgress(quint64 bytes) { current.bytes = bytes; }

    // The file reported last is done with: true, and its name in `name`,
    // when it is complete on disk (all its bytes arrived, or it was kept).
    // Called once per file, at the next start or at the end.
    bool settle(QString *name);

    int keptFiles() const { return kept; }

private:
    struct Current
    {
        QString name;
        qint64 size = -1;
        QDateTime recorded;
        quint64 bytes = 0;
        bool kept = false;
        bool open = false;
    };
    // Where the current file went, relative to the folder; empty when it is
    // not there as the recording.
    QString writtenAs() const;
    void note(const QString &local);

    QString directory;
    SameNameOption rule = SaveNewer;
    QString tree;
    QString recorderPath;
    QSet<QString> present; // names in the folder before, and written since
    QString keptName;
    Current current;
    int kept = 0;
    bool recordTrouble = false;
};

#endif // DOWNLOADLEDGER_H
