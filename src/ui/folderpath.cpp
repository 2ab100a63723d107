#include "ui/folderpath.h"

QString FolderPath::rootName(ZVRecordMode mode)
{
    return mode == RecordModeMTR ? QStringLiteral("MTR") : QStringLiteral("MUSIC");
}

QStringList &FolderPath::next()
{
    if (!movePending) {
        pending = shown;
        movePending = true;
    }
    return pending;
}

void FolderPath::startAt(ZVRecordMode mode)
{
    next() = QStringList{rootName(mode)};
}

void FolderPath::enter(const QString &folder)
{
    next().append(folder);
}

// The top of the tree has no parent: the recorder stays there.
void FolderPath::up()
{
    QStringList &path = next();
    if (path.size() > 1)
        path.removeLast();
}

void FolderPath::listed()
{
    if (!movePending)
        return;
    shown = pending;
    movePending = false;
}

void FolderPath::clear()
{
    shown.clear();
    pending.clear();
    movePending = false;
}

QString FolderPath::recordTree() const
{
    const bool mtr = !shown.isEmpty() && shown.first() == rootName(RecordModeMTR);
    return mtr ? QStringLiteral("mtr") : QStringLiteral("music");
}

QString FolderPath::recordFolder() const
{
    const QStringList below = shown.mid(1);
    return below.isEmpty() ? QString() : below.join(QLatin1Char('/')) + QLatin1Char('/');
}
