#ifndef TREEENTRY_H
#define TREEENTRY_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One folder or file as the recorder lists it. Most entries stand for a file
// or folder on disk; a virtual entry (hostile names, which no file system can
// hold) carries its bytes itself.
struct TreeEntry
{
    QString name;
    bool isFolder = false;
    qint64 size = 0;
    QDateTime modified;
    QString filePath;   // on disk; empty for a virtual entry
    QByteArray content; // bytes of a virtual file

    bool isVirtual() const { return filePath.isEmpty(); }
};

#endif // TREEENTRY_H
