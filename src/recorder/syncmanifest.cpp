#include "recorder/syncmanifest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

namespace {
// A record bigger than this is not ours.
constexpr qint64 MaxManifestBytes = 64 * 1024 * 1024;

// A local path written by sync: relative, without "." or ".." steps.
bool isPlainRelativePath(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path) || path.contains(QLatin1Char('\\')))
        return false;
    const QStringList steps = path.split(QLatin1Char('/'));
    return std::none_of(steps.cbegin(), steps.cend(), [](const QString &step) {
        return step.isEmpty() || step == QLatin1String(".") || step == QLatin1String("..");
    });
}
} // namespace

SyncManifest::SyncManifest(const QString &directory)
    : directory(directory)
{
}

QString SyncManifest::filePath() const
{
    return QDir(directory).filePath(fileName());
}

SyncManifest::Load SyncManifest::load(bool dryRun)
{
    records.clear();
    QFile file(filePath());
    if (!file.exists())
        return Load::Fresh;
    if (file.size() > MaxManifestBytes)
        why = QStringLiteral("larger than %1 bytes").arg(MaxManifestBytes);
    else if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (parse(file.readAll()))
        return Load::Loaded;
    file.close();
    records.clear();
    if (dryRun)
        return Load::SetAside;
    // Kept for whoever wants to look at it, under a name no later run reads.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = filePath() + QStringLiteral(".damaged-") + stamp;
    for (int count = 1; QFile::exists(aside); ++count)
        aside = filePath() + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(count);
    if (!QFile::rename(filePath(), aside))
        return Load::Unreadable;
    asidePath = aside;
    return Load::SetAside;
}

bool SyncManifest::parse(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        why = QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return false;
    }
    const QJsonObject top = document.object();
    if (top.value(QStringLiteral("version")).toInt() != Version || !top.value(QStringLiteral("files")).isArray()) {
        why = QStringLiteral("not a version %1 sync record").arg(Version);
        return false;
    }
    const QJsonArray files = top.value(QStringLiteral("files")).toArray();
    for (int i = 0; i < files.size(); ++i) {
        const QJsonObject o = files.at(i).toObject();
        Record r;
        r.tree = o.value(QStringLiteral("tree")).toString();
        r.path = o.value(QStringLiteral("path")).toString();
        const QJsonValue size = o.value(QStringLiteral("size"));
        r.size = qint64(size.toDouble(-1));
        r.recorded = o.value(QStringLiteral("recorded")).toString();
        r.local = o.value(QStringLiteral("local")).toString();
        r.when = o.value(QStringLiteral("when")).toString();
        const bool goodTree = r.tree == QLatin1String("music") || r.tree == QLatin1String("mtr");
        if (!goodTree || r.path.isEmpty() || !size.isDouble() || r.size < 0 || double(r.size) != size.toDouble()
            || !isPlainRelativePath(r.local)) {
            why = QStringLiteral("entry %1 is damaged").arg(i + 1);
            return false;
        }
        records.insert(key(r.tree, r.path), r);
    }
    return true;
}

const SyncManifest::Record *SyncManifest::find(const QString &tree, const QString &path) const
{
    const auto found = records.constFind(key(tree, path));
    return found == records.cend() ? nullptr : &found.value();
}

void SyncManifest::put(const Record &record)
{
    records.insert(key(record.tree, record.path), record);
}

bool SyncManifest::save()
{
    // In a stable order, so that two runs that took the same write the same.
    QStringList keys = records.keys();
    keys.sort();
    QJsonArray files;
    for (const QString &k : qAsConst(keys)) {
        const Record &r = records[k];
        files.append(QJsonObject{{QStringLiteral("tree"), r.tree},
                                 {QStringLiteral("path"), r.path},
                                 {QStringLiteral("size"), double(r.size)},
                                 {QStringLiteral("recorded"), r.recorded},
                                 {QStringLiteral("local"), r.local},
                                 {QStringLiteral("when"), r.when}});
    }
    const QJsonObject top{{QStringLiteral("version"), Version}, {QStringLiteral("files"), files}};
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(top).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        why = file.errorString();
        return false;
    }
    return true;
}
