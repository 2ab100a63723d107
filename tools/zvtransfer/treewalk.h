#ifndef TREEWALK_H
#define TREEWALK_H

#include <QDir>
#include <QList>
#include <QString>
#include <functional>

#include "recordersession.h"

// Walks the recorder's current folder and every folder below it, depth
// first, entering each in turn and coming back up when a sibling follows (the
// recorder is left in the last folder walked). A folder whose name could
// not be a folder of ours on disk (a separator, "..", a hidden name, control
// characters: the rule the download engine applies to file names) is not
// entered, nor is one nested deeper than MaxDepth; each such folder is noted
// with the reason.
class TreeWalk
{
public:
    static constexpr int MaxDepth = 24;

    struct Refusal
    {
        QString path; // "/"-separated below the start, as printed
        QString why;
    };

    // Gets each folder's path below the start ("" for the start itself,
    // else ending in "/") and its recordings while the recorder is in it;
    // returning false ends the walk.
    using Visit = std::function<bool(const QString &path, const QList<RecorderSession::Entry> &files)>;

    // `local` is the folder on disk that the start stands for; folder names
    // are judged against it.
    TreeWalk(RecorderSession &session, const QDir &local);

    // False when the walk could not go on: the recorder did not answer a
    // move, a signal came, or `visit` said so.
    bool walk(const Visit &visit);

    const QList<Refusal> &refused() const { return refusals; }
    // Why walk() ended early, as one line ("" when it did not).
    QString failure() const { return why; }

private:
    bool walkFolder(const QString &path, int depth, const Visit &visit);
    // Goes up the folders left since the last move down.
    bool climb();

    RecorderSession &session;
    const QDir local;
    QList<Refusal> refusals;
    QString why;
    int pendingClimbs = 0;
};

#endif // TREEWALK_H
