#include "fetchplan.h"

#include <QFileInfo>

#include "console.h"

FetchPlan::FetchPlan(SameNameOption rule)
    : rule(rule)
{
}

void FetchPlan::show(const QDir &folder, const QString &label, const QList<RecorderSession::Entry> &files)
{
    for (const auto &file : files) {
        QString what;
        QString path = SameNameRule::filePathIn(folder, file.name);
        if (!SameNameRule::isSafeFileName(file.name, folder)) {
            what = QStringLiteral("would be refused (%1)")
                       .arg(Console::codeText({DownloadIllegalFileName, file.index, 0, 1}));
        } else {
            switch (rule.apply(&path, file.size)) {
            case SameNameRule::Action::Write:
                ++fetch;
                bytes += qulonglong(file.size);
                what = QFileInfo(path).fileName() == file.name
                    ? QStringLiteral("would fetch")
                    : QStringLiteral("would fetch as %1").arg(Console::visibleName(QFileInfo(path).fileName()));
                break;
            case SameNameRule::Action::Skip:
                ++keep;
                what = QStringLiteral("would skip (exists)");
                break;
            case SameNameRule::Action::Refuse:
                what = QStringLiteral("would fail (a folder holds the name)");
                break;
            }
        }
        Console::out(QStringLiteral("%1  %2  %3\n")
                         .arg(label + Console::visibleName(file.name), Console::humanBytes(double(file.size)), what));
    }
}

void FetchPlan::printSummary() const
{
    Console::out(QStringLiteral("dry run: would download %1 (%2 bytes), skip %3; nothing written\n")
                     .arg(fetch)
                     .arg(bytes)
                     .arg(keep));
}
