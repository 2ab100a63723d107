#ifndef LOCALCOPIES_H
#define LOCALCOPIES_H

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class DownloadFileInfo;

// Which recordings of a listing are already on this computer: a file of the
// same name and size in one of the folders looked at, or a recording that
// the folder's sync record (SyncManifest) notes as taken into it, moved or
// deleted since. scan() reads each folder once, its names and sizes in one
// pass and its record; find() only looks them up, so marking a listing of
// any length costs one directory read per folder.
class LocalCopies
{
    Q_DECLARE_TR_FUNCTIONS(LocalCopies)
public:
    struct Copy
    {
        enum Kind { None, File, Taken };
        Kind kind = None;
        QString path; // File: the file; Taken: the folder it was taken into
    };

    // Forgets the folders read before; empty and repeated names are skipped.
    // The records are only read: a damaged one is left for the next download
    // into its folder to set aside.
    void scan(const QStringList &folders);
    Copy find(const DownloadFileInfo &entry) const;
    // The row's tooltip: where the copy is; empty for none.
    static QString tipText(const Copy &copy);
    // A listed recording time as the sync record writes it.
    static QString recordedText(const QDateTime &dateTime);

private:
    struct Folder
    {
        QString path;
        QHash<QString, qint64> sizes;  // file name -> size
        QHash<QString, QString> taken; // takenKey -> where, relative to the folder
    };
    static QString takenKey(const QString &name, qint64 size, const QString &recorded);

    QList<Folder> folders;
};

#endif // LOCALCOPIES_H
