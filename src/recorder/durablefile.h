#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QString>

class QFile;

// The file-system steps of a download beyond plain writes, in one place:
// opening a partial file without following a link, keeping a replaced
// file's permissions, handing written data to the disk, and the rename over
// the final name with the folder synced after it.
//
// durablefile_posix.cpp does them with POSIX calls; durablefile_qt.cpp (the
// ZV_QT_ONLY build) with Qt alone. Both keep the rules: the data is written
// under a ".part" name and renamed when complete, nothing is written outside
// the chosen folder, a link found under a name is replaced or left alone but
// never followed. What the Qt-only one cannot promise as strongly is noted
// there.
namespace DurableFile {

enum class Open {
    Opened, // `file` is open for writing, empty
    Taken,  // something that is not ours has the name: try another
    Failed, // the folder cannot be written (the reason in `error`)
};

// Opens `path` for writing: a regular file of that name that we may write
// (left by an earlier download) is emptied, a free name is created. A link,
// a folder or a file we may not write is Taken and stays as it is.
Open openForWriting(QFile *file, const QString &path, QString *error);

// An open file about to replace `replacedPath` takes its permissions when
// that is a regular file (not a link).
void keepPermissions(QFile *file, const QString &replacedPath);

// Waits until the bytes [`waitFrom`, `startFrom`) of the flushed `file`
// are on the disk and starts writing [`startFrom`, `startTo`): the disk
// works while data arrives, and flushToDisk() at the end finds little left.
void startWriteback(QFile *file, qint64 waitFrom, qint64 startFrom, qint64 startTo);

// Puts what was written to the flushed `file` on the disk.
bool flushToDisk(QFile *file, QString *error);

// Renames `from` over `to`; a link at `to` is replaced, never followed.
bool replace(const QString &from, const QString &to, QString *error);

// Puts a folder's entries (a rename in it) on the disk.
bool syncFolder(const QString &path, QString *error);

} // namespace DurableFile

#endif // DURABLEFILE_H
