#include "treewalk.h"

#include "console.h"
#include "recorder/samenamerule.h"

TreeWalk::TreeWalk(RecorderSession &session, const QDir &local)
    : session(session)
    , local(local)
{
}

bool TreeWalk::walk(const Visit &visit)
{
    return walkFolder(QString(), 0, visit);
}

bool TreeWalk::walkFolder(const QString &path, int depth, const Visit &visit)
{
    // The listing changes with every move: what this folder holds is taken
    // now, before entering any of it.
    const QList<RecorderSession::Entry> entries = session.entries();
    QList<RecorderSession::Entry> files;
    QList<RecorderSession::Entry> folders;
    for (const auto &e : entries)
        (e.isFolder ? folders : files).append(e);
    if (!visit(path, files))
        return false;

    for (const auto &folder : qAsConst(folders)) {
        const QString shown = path + Console::visibleName(folder.name) + QLatin1Char('/');
        if (!SameNameRule::isSafeFileName(folder.name, local)) {
            refusals.append({shown,
                             QStringLiteral("refused, the name cannot be used safely (%1)")
                                 .arg(Console::codeText({DownloadIllegalFileName, folder.index, 0, 1}))});
            continue;
        }
        if (depth + 1 > MaxDepth) {
            refusals.append({shown, QStringLiteral("not entered, deeper than %1 folders").arg(MaxDepth)});
            continue;
        }
        QString missing;
        if (!climb())
            return false;
        if (!session.enterPath(folder.name, &missing)) {
            why = QStringLiteral("the recorder did not open the folder %1").arg(shown);
            return false;
        }
        if (!walkFolder(path + folder.name + QLatin1Char('/'), depth + 1, visit))
            return false;
        // Back up only when another folder is to be entered: each move costs
        // the recorder's pause, and the last ones lead nowhere.
        ++pendingClimbs;
    }
    return true;
}

bool TreeWalk::climb()
{
    QString missing;
    for (; pendingClimbs > 0; --pendingClimbs) {
        if (!session.enterPath(QStringLiteral(".."), &missing)) {
            why = QStringLiteral("the recorder did not go back up a folder");
            return false;
        }
    }
    return true;
}
