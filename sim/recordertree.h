#ifndef RECORDERTREE_H
#define RECORDERTREE_H

#include <QString>
#include <QVector>

#include "sim/treeentry.h"

// One of the recorder's two folder trees (music or multitrack), backed by a
// directory on disk.
class RecorderTree
{
public:
    void setRoot(const QString &path) { rootPath = path; }
    QString root() const { return rootPath; }

    // Entries of `directory` (the root or a folder entry's path): folders
    // first, then files, each group by name (case-insensitive, then exact).
    // Hidden files are left out, as are entries past FolderListing::MaxEntries.
    // `withHostileEntries` mixes the hostile entries in (the simulator does
    // that at the root only).
    QVector<TreeEntry> list(const QString &directory, bool withHostileEntries = false) const;

    // Virtual entries with names no client should trust: path separators,
    // ".."/"." and empty names, control characters, an embedded 00 0D pair.
    // Each file is a small valid WAV so that details and downloads work.
    static QVector<TreeEntry> hostileEntries();

private:
    QString rootPath;
};

#endif // RECORDERTREE_H
