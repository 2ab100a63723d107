#include "ui/recorderplace.h"

void RecorderPlace::treeChanged(ZVRecordMode newMode)
{
    // A new tree is listed from its top.
    if (newMode != mode)
        folders.clear();
    mode = newMode;
    pending = Pending::None;
}

void RecorderPlace::listed()
{
    if (pending == Pending::Enter)
        folders << pendingFolder;
    else if (pending == Pending::Up && !folders.isEmpty())
        folders.removeLast();
    pending = Pending::None;
}

QString RecorderPlace::tree() const
{
    return mode == RecordModeMTR ? QStringLiteral("mtr") : QStringLiteral("music");
}

QString RecorderPlace::path() const
{
    return folders.isEmpty() ? QString() : folders.join(QLatin1Char('/')) + QLatin1Char('/');
}
