#ifndef SYNCMANIFEST_H
#define SYNCMANIFEST_H

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// What sync took from the recorder into one folder, kept in that folder as a
// small JSON file: per recording its tree, path, size and recording time as
// listed, where it was written (relative to the folder) and when. The file
// is replaced atomically after every recording, so an interrupted run loses
// nothing it finished. A file that cannot be read back as such a record is
// never trusted: it is renamed aside and the run starts from an empty one.
class SyncManifest
{
public:
    static constexpr int Version = 1;

    struct Record
    {
        QString tree; // "music" or "mtr"
        QString path; // on the recorder, "/"-separated below the tree's top
        qint64 size = 0;
        QString recorded; // the listed recording time, ISO 8601; empty when the recorder gives none
        QString local;    // where it was written, relative to the folder
        QString when;     // when it was taken, ISO 8601 UTC
    };

    enum class Load { Fresh, Loaded, SetAside, Unreadable };

    explicit SyncManifest(const QString &directory);

    static QString fileName() { return QStringLiteral(".zv-transfer-sync.json"); }
    QString filePath() const;

    // Reads the record. A damaged one is renamed aside unless `dryRun`
    // (then it is only reported); problem() says what was wrong and
    // setAsidePath() where it went.
    Load load(bool dryRun);
    QString problem() const { return why; }
    QString setAsidePath() const { return asidePath; }

    const Record *find(const QString &tree, const QString &path) const;
    // Every recording noted, in no particular order.
    QList<Record> all() const { return records.values(); }
    void put(const Record &record);
    // Writes the whole record through a temporary file renamed over the old
    // one; false (with problem()) when that failed.
    bool save();

private:
    bool parse(const QByteArray &bytes);
    static QString key(const QString &tree, const QString &path) { return tree + QLatin1Char(':') + path; }

    QString directory;
    QHash<QString, Record> records;
    QString why;
    QString asidePath;
};

#endif // SYNCMANIFEST_H
