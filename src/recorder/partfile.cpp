#include "recorder/partfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <climits>

#include "base/logging.h"
#include "recorder/durablefile.h"
#include "recorder/samenamerule.h"

namespace {
// Highest count tried for a free ".part" name: as many as for counted names.
constexpr int MaxNameCount = SameNameRule::MaxNameCount;
// Payloads smaller than this are gathered into writes of up to GatherLimit
// bytes: one system call instead of one per 16 KiB (QFile's own buffer).
constexpr int GatherBelow = 16 * 1024;
constexpr int GatherLimit = 256 * 1024;
// Written data is handed to the disk in steps of this size while a file
// arrives.
constexpr qint64 WritebackStep = 8 * 1024 * 1024;
// Longest file name (in bytes of the local encoding) most file systems take.
constexpr int MaxFileNameBytes = 255;
} // namespace

PartFile::PartFile()
{
    gathered.reserve(GatherLimit);
}

PartFile::~PartFile()
{
    close();
}

QString PartFile::partFileName(const QString &fileName, int count)
{
    const QString suffix = count > 0 ? QStringLiteral("(%1).part").arg(count) : QStringLiteral(".part");
    if (QFile::encodeName(fileName + suffix).size() <= MaxFileNameBytes)
        return fileName + suffix;
    // Too long with the suffix: a shortened name that still tells which
    // recording it is and stays the same from run to run.
    const QString tag = QLatin1Char('~')
        + QString::fromLatin1(QCryptographicHash::hash(fileName.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    QString stem = fileName;
    while (!stem.isEmpty() && QFile::encodeName(stem + tag + suffix).size() > MaxFileNameBytes) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.at(stem.size() - 1).isHighSurrogate())
            stem.chop(1);
    }
    return stem + tag + suffix;
}

// A regular file of the ".part" name left by an earlier download is ours and
// written over; anything else of that name (a folder, a link, a file we may
// not write, one with other names) is left alone for a counted name. Links
// are never followed.
bool PartFile::open(const QString &path, const QDateTime &time)
{
    lastOpenError.clear();
    finalPath = path;
    partPath.clear();
    recordedAt = time;
    appended = 0;
    writebackFrom = 0;
    previousWriteback = 0;
    const QFileInfo finalInfo(path);
    const QString fileName = finalInfo.fileName();
    if (QFile::encodeName(fileName).size() > MaxFileNameBytes) {
        lastOpenError = path + QLatin1String(": the name is too long");
        qCWarning(lcDownload) << "download: File open error" << path << "the name is too long";
        return false;
    }
    file = std::make_unique<QFile>();
    if (!openFreePartName(finalInfo.absolutePath(), fileName)) {
        qCWarning(lcDownload) << "download: File open error" << path << lastOpenError;
        file.reset();
        return false;
    }
    // A replaced regular file keeps its permissions.
    DurableFile::keepPermissions(file.get(), path);
    return true;
}

// Opens `file` under the first ".part" name in `folder` that is free or ours
// and sets `partPath`; false with the reason in `lastOpenError`.
bool PartFile::openFreePartName(const QString &folder, const QString &fileName)
{
    lastOpenError = QStringLiteral("no free name for the partial file");
    for (int count = 0; count <= MaxNameCount; ++count) {
        const QString candidate = folder + QLatin1Char('/') + partFileName(fileName, count);
        switch (DurableFile::openForWriting(file.get(), candidate, &lastOpenError)) {
        case DurableFile::Open::Opened:
            partPath = candidate;
            return true;
        case DurableFile::Open::Taken:
            continue;
        case DurableFile::Open::Failed:
            return false;
        }
    }
    return false;
}

// Large payloads are written as they come; small ones wait in `gathered`.
bool PartFile::append(const char *data, int length)
{
    if (length < GatherBelow) {
        if (gathered.size() + length > GatherLimit && !flushGathered())
            return false;
        gathered.append(data, length);
    } else {
        if (!flushGathered())
            return false;
        const qint64 written = file->write(data, length);
        if (written != length)
            return fail(file->errorString(), length, int(written));
    }
    appended += length;
    return true;
}

bool PartFile::flushGathered()
{
    if (gathered.isEmpty())
        return true;
    const int attempted = gathered.size();
    const qint64 written = file->write(gathered);
    gathered.resize(0); // keeps the reserved capacity
    return written == attempted || fail(file->errorString(), attempted, int(written));
}

bool PartFile::fail(const QString &what, int param, int param2)
{
    lastFailure = Failure{what, param, param2};
    return false;
}

void PartFile::startWritebackIfDue()
{
    if (appended - writebackFrom >= WritebackStep)
        startWriteback();
}

// Asks the system to start writing what the file holds so far to the disk,
// and waits until the step before has reached it: the disk works while data
// arrives, at most two steps are ever waiting for it, and the fsync at the
// end finds little left to do (also on a disk slower than the link, which
// then sets the pace while progress goes on).
void PartFile::startWriteback()
{
    if (!file->flush())
        return; // the write error shows at the next write or at the end
    const qint64 upTo = file->pos();
    DurableFile::startWriteback(file.get(), previousWriteback, writebackFrom, upTo);
    previousWriteback = writebackFrom;
    writebackFrom = upTo;
}

// Flushed, given the recording's time and synced to the disk, then renamed
// over whatever holds the final name (a link is replaced, never followed),
// then the folder is synced. Until the rename nothing of the final name
// changes.
bool PartFile::finish()
{
    if (!flushGathered())
        return false;
    const int size = int(qMin<qint64>(appended, INT_MAX));
    if (!file->flush())
        return fail(file->errorString(), size, -1);
    keepRecordingTime();
    QString error;
    if (!DurableFile::flushToDisk(file.get(), &error))
        return fail(error, size, -1);
    file->close();
    if (!DurableFile::replace(partPath, finalPath, &error))
        return fail(error, size, -1);
    const QString folder = QFileInfo(finalPath).absolutePath();
    if (!DurableFile::syncFolder(folder, &error))
        qCWarning(lcDownload) << "download: Cannot sync the folder" << folder << error;
    file.reset();
    return true;
}

// A finished file carries the time it was recorded, as listed, not the time
// it was copied.
void PartFile::keepRecordingTime()
{
    if (recordedAt.isValid() && !file->setFileTime(recordedAt, QFileDevice::FileModificationTime))
        qCWarning(lcDownload) << "download: Cannot set the file time" << partPath << file->errorString();
}

void PartFile::close()
{
    if (!file)
        return;
    if (!flushGathered())
        qCWarning(lcDownload) << "download: File write error" << partPath << file->errorString();
    file->close();
    file.reset();
}
