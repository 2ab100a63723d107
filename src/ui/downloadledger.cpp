#include "ui/downloadledger.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "base/logging.h"
#include "recorder/samenamerule.h"
#include "recorder/syncmanifest.h"
#include "ui/localcopies.h"

void DownloadLedger::begin(const QString &folder, SameNameOption sameNameRule, const QString &treeName,
                           const QString &path)
{
    *this = DownloadLedger();
    directory = QDir::cleanPath(QDir(folder).absolutePath());
    rule = sameNameRule;
    tree = treeName;
    recorderPath = path;
    QDirIterator entries(directory, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        present.insert(entries.fileName());
    }
}

void DownloadLedger::fileStarted(const QString &name, qint64 size, const QDateTime &recorded)
{
    current = Current{name, size, recorded, 0, keptName == name, true};
    keptName.clear();
    if (current.kept)
        ++kept;
}

bool DownloadLedger::settle(QString *name)
{
    if (!current.open)
        return false;
    current.open = false;
    if (!current.kept && current.bytes != quint64(current.size))
        return false;
    *name = current.name;
    const QString local = writtenAs();
    if (!local.isEmpty())
        note(local);
    // A kept file of another size is not this recording, but the rule took
    // it for done: its row is done with as well.
    return current.kept || !local.isEmpty();
}

// The rule wrote under the recording's name, or (renaming) under the first
// counted name that was free when the file started.
QString DownloadLedger::writtenAs() const
{
    const QDir folder(directory);
    QString local = current.name;
    if (!current.kept && rule == SaveRename && present.contains(current.name)) {
        local.clear();
        for (int count = 1; count <= SameNameRule::MaxNameCount && local.isEmpty(); ++count) {
            const QString candidate = QFileInfo(SameNameRule::makeCountFileName(count, current.name)).fileName();
            if (!present.contains(candidate))
                local = candidate;
        }
    }
    const QFileInfo written(folder.filePath(local));
    return !local.isEmpty() && written.isFile() && written.size() == current.size ? local : QString();
}

void DownloadLedger::note(const QString &local)
{
    present.insert(local);
    SyncManifest record(directory);
    const SyncManifest::Load load = record.load(false);
    if (load == SyncManifest::Load::SetAside)
        qCWarning(lcDownload).noquote() << QStringLiteral(
                                               "download: The sync record %1 was damaged (%2); set aside as %3")
                                               .arg(record.filePath(), record.problem(), record.setAsidePath());
    if (load == SyncManifest::Load::Unreadable) {
        if (!recordTrouble)
            qCWarning(lcDownload).noquote()
                << QStringLiteral("download: The sync record %1 is damaged (%2) and cannot be set aside; not written")
                       .arg(record.filePath(), record.problem());
        recordTrouble = true;
        return;
    }
    SyncManifest::Record r;
    r.tree = tree;
    r.path = recorderPath + current.name;
    r.size = current.size;
    r.recorded = LocalCopies::recordedText(current.recorded);
    r.local = local;
    r.when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    record.put(r);
    if (!record.save() && !recordTrouble) {
        recordTrouble = true;
        qCWarning(lcDownload).noquote() << "download: Cannot write the sync record" << record.filePath() << ":"
                                        << record.problem();
    }
}
