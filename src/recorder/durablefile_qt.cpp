#include "recorder/durablefile.h"

#include <QFile>
#include <QFileInfo>

// With Qt alone some steps are weaker than with the system's own calls:
//
// - Qt has no call that puts a file's data or a folder's entries on the
//   disk. flushToDisk() and syncFolder() do nothing beyond the QFile::flush()
//   before them: the data is with the system, and a power cut soon after the
//   rename may leave the final name with less than the whole recording.
// - Nothing hands data to the disk in steps while a file arrives
//   (startWriteback() does nothing): the system writes it back at its own
//   pace.
// - A file's other names (hard links) cannot be seen. A ".part" file of ours
//   is therefore removed and created anew rather than emptied in place, so
//   that another name of it keeps its contents; its own permissions are not
//   kept (a replaced final file's still are, setuid bits and the like
//   aside).
// - Qt's rename refuses an existing name: what holds the final name is
//   removed first, so for a moment neither the old file nor the new one has
//   it (the new one still has its ".part" name). Should something be put
//   under the final name in that moment, QFile::rename falls back to copying
//   into it.
// Links are never followed: a link is taken for what holds a name, removing
// one removes the link, and new files are created only where nothing is.
namespace DurableFile {

Open openForWriting(QFile *file, const QString &path, QString *error)
{
    const QFileInfo existing(path);
    if (existing.isSymLink())
        return Open::Taken;
    if (existing.exists()) {
        if (!existing.isFile() || !existing.isWritable())
            return Open::Taken;
        if (!QFile::remove(path)) {
            *error = path + QLatin1String(": cannot be replaced");
            return Open::Failed;
        }
    }
    file->setFileName(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Open::Opened;
    const QFileInfo now(path);
    if (now.isSymLink() || now.exists())
        return Open::Taken; // put there meanwhile
    *error = path + QLatin1String(": ") + file->errorString();
    return Open::Failed;
}

void keepPermissions(QFile *file, const QString &replacedPath)
{
    const QFileInfo replaced(replacedPath);
    if (!replaced.isSymLink() && replaced.isFile())
        file->setPermissions(replaced.permissions());
}

void startWriteback(QFile *, qint64, qint64, qint64)
{
}

bool flushToDisk(QFile *, QString *)
{
    return true;
}

bool replace(const QString &from, const QString &to, QString *error)
{
    const QFileInfo target(to);
    if ((target.isSymLink() || target.isFile()) && !QFile::remove(to)) {
        *error = to + QLatin1String(": cannot be replaced");
        return false;
    }
    QFile moved(from);
    if (moved.rename(to))
        return true;
    *error = to + QLatin1String(": ") + moved.errorString();
    return false;
}

bool syncFolder(const QString &, QString *)
{
    return true;
}

} // namespace DurableFile
