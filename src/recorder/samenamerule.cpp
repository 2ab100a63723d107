#include "recorder/samenamerule.h"

#include <QFile>
#include <QFileInfo>

#include "base/logging.h"
#include "protocol/zvfilelist.h"

namespace {
bool isRefusedCharacter(ushort u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) // C0, DEL, C1 controls
        || (u >= 0x202A && u <= 0x202E)         // bidirectional embeddings and overrides
        || (u >= 0x2066 && u <= 0x2069)         // bidirectional isolates
        || u == '/' || u == '\\';
}
} // namespace

SameNameRule::Action SameNameRule::apply(QString *path, qint64 size) const
{
    return settle(path, size, {}, true);
}

SameNameRule::Action SameNameRule::foresee(QString *path, qint64 size, const QHash<QString, qint64> &pending) const
{
    return settle(path, size, pending, false);
}

// A folder in the way is never written into or replaced.
SameNameRule::Action SameNameRule::settle(QString *path, qint64 size, const QHash<QString, qint64> &pending,
                                          bool logCountOver) const
{
    const QFileInfo existing(*path);
    if (existing.isDir() && !existing.isSymLink())
        return Action::Refuse;
    if (keepsExistingFile(*path, size, pending))
        return Action::Skip;
    if (option == SaveRename && (existing.exists() || pending.contains(*path)))
        *path = newCountFileName(*path, pending, logCountOver);
    return Action::Write;
}

bool SameNameRule::writes(const QDir &directory, const QString &name, qint64 size) const
{
    return isSafeFileName(name, directory) && !keepsExistingFile(filePathIn(directory, name), size, {});
}

// Only the final name counts: an unfinished ".part" file is never the
// recording. A pending file stands for what is on disk under its name.
bool SameNameRule::keepsExistingFile(const QString &path, qint64 size, const QHash<QString, qint64> &pending) const
{
    const auto written = pending.constFind(path);
    switch (option) {
    case SaveNoWrite:
        return written != pending.cend() || QFile::exists(path);
    case SaveNewer:
        if (written != pending.cend())
            return *written == size;
        return QFile::exists(path) && QFileInfo(path).size() == size;
    default:
        return false;
    }
}

QString SameNameRule::makeCountFileName(int count, const QString &path)
{
    const QFileInfo info(path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("(%1)").arg(count)
        + QLatin1Char('.') + info.suffix();
}

QString SameNameRule::makeNewCountFileName(const QString &path)
{
    return newCountFileName(path, {}, true);
}

QString SameNameRule::newCountFileName(const QString &path, const QHash<QString, qint64> &pending, bool logCountOver)
{
    for (int count = 1; count <= MaxNameCount; ++count) {
        const QString candidate = makeCountFileName(count, path);
        if (!pending.contains(candidate) && !QFile::exists(candidate))
            return candidate;
    }
    if (logCountOver)
        qCWarning(lcDownload) << "download: name count is over. Overwrite by last count name.";
    return makeCountFileName(MaxNameCount, path);
}

bool SameNameRule::isSafeFileName(const QString &name, const QDir &directory)
{
    // Empty, too long for a recording's name, hidden (".bashrc"), "." and "..".
    if (name.isEmpty() || name.size() > ZVFileList::MaxNameUnits || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (isRefusedCharacter(c.unicode()))
            return false;
    }
    // Whatever the checks above miss must still land directly in the folder.
    const QFileInfo target(filePathIn(directory, name));
    return QDir::cleanPath(target.absolutePath()) == QDir::cleanPath(directory.absolutePath());
}

QString SameNameRule::filePathIn(const QDir &directory, const QString &name)
{
    QString path = directory.absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}
