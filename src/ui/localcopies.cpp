#include "ui/localcopies.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "base/downloadfileinfo.h"
#include "recorder/syncmanifest.h"

void LocalCopies::scan(const QStringList &paths)
{
    folders.clear();
    QStringList seen;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        const QString clean = QDir::cleanPath(QDir(path).absolutePath());
        if (seen.contains(clean) || !QFileInfo(clean).isDir())
            continue;
        seen << clean;
        Folder folder;
        folder.path = clean;
        QDirIterator entries(clean, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        while (entries.hasNext()) {
            entries.next();
            folder.sizes.insert(entries.fileName(), entries.fileInfo().size());
        }
        SyncManifest record(clean);
        if (record.load(true) == SyncManifest::Load::Loaded) {
            for (const SyncManifest::Record &r : record.all()) {
                const QString name = r.path.section(QLatin1Char('/'), -1);
                folder.taken.insert(takenKey(name, r.size, r.recorded), r.local);
            }
        }
        folders << folder;
    }
}

LocalCopies::Copy LocalCopies::find(const DownloadFileInfo &entry) const
{
    if (entry.isFolder)
        return {};
    for (const Folder &folder : folders) {
        if (folder.sizes.value(entry.name, -1) == entry.size)
            return {Copy::File, QDir(folder.path).filePath(entry.name)};
    }
    const QString key = takenKey(entry.name, entry.size, recordedText(entry.dateTime));
    for (const Folder &folder : folders) {
        const auto taken = folder.taken.constFind(key);
        if (taken == folder.taken.cend())
            continue;
        // Renamed by the same-name rule, or below the folder (sync keeps each
        // tree in a subfolder): still there under the name the record gives.
        const QString local = QDir(folder.path).filePath(*taken);
        if (QFileInfo(local).size() == entry.size)
            return {Copy::File, local};
        return {Copy::Taken, folder.path};
    }
    return {};
}

QString LocalCopies::tipText(const Copy &copy)
{
    switch (copy.kind) {
    case Copy::File:
        return tr("Already on this computer: %1").arg(QDir::toNativeSeparators(copy.path));
    case Copy::Taken:
        return tr("Taken into %1 before (moved or deleted there since)").arg(QDir::toNativeSeparators(copy.path));
    case Copy::None:
        break;
    }
    return QString();
}

QString LocalCopies::recordedText(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toString(Qt::ISODate) : QString();
}

QString LocalCopies::takenKey(const QString &name, qint64 size, const QString &recorded)
{
    return name + QLatin1Char('\n') + QString::number(size) + QLatin1Char('\n') + recorded;
}
