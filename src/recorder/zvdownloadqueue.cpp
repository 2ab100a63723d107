#include "recorder/zvdownloadqueue.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/logging.h"
#include "base/mutexlocker.h"
#include "protocol/zvfilelist.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"

namespace {
constexpr int MaxNameCount = 29999;
// Payloads smaller than this are gathered into writes of up to GatherLimit
// bytes: one system call instead of one per 16 KiB (QFile's own buffer).
constexpr int GatherBelow = 16 * 1024;
constexpr int GatherLimit = 256 * 1024;
// Written data is handed to the disk in steps of this size while a file
// arrives.
constexpr qint64 WritebackStep = 8 * 1024 * 1024;
// Longest name a recording may have, in UTF-16 code units; longer listed
// names are only shortened display names.
constexpr int MaxNameUnits = 255;
// Longest file name (in bytes of the local encoding) most file systems take.
constexpr int MaxFileNameBytes = 255;

bool isRefusedCharacter(ushort u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F)      // C0, DEL, C1 controls
        || (u >= 0x202A && u <= 0x202E)              // bidirectional embeddings and overrides
        || (u >= 0x2066 && u <= 0x2069)              // bidirectional isolates
        || u == '/' || u == '\\';
}

// Flushes a folder's entries (a rename in it) to the disk.
bool syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder; their renames are as safe as they get.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    ::close(fd);
    return synced;
}
} // namespace

ZVDownloadQueue::ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QObject *parent)
    : QObject(parent)
    , connection(connection)
    , fileList(fileList)
    , saveDirectory(QString())
{
    gathered.reserve(GatherLimit);
}

// Closing the window or ending a program keeps what was verified in the
// ".part" file.
ZVDownloadQueue::~ZVDownloadQueue()
{
    closeFile();
}

void ZVDownloadQueue::clearTargets()
{
    targets.clear();
}

void ZVDownloadQueue::addTarget(int index)
{
    Target target;
    target.index = index;
    if (fileList->containsIndex(index)) {
        const DownloadFileInfo *info = fileList->findByIndex(index);
        target.name = info->name;
        target.size = info->size;
        target.dateTime = info->dateTime;
        target.listed = !info->isFolder;
    }
    targets.append(target);
}

void ZVDownloadQueue::setDirectory(const QString &path)
{
    // A relative path beginning with ':' would name a resource.
    saveDirectory = QDir(path.startsWith(QLatin1Char(':')) ? QDir::currentPath() + QLatin1Char('/') + path : path);
}

void ZVDownloadQueue::setSameOption(SameNameOption option)
{
    sameOption = option;
}

void ZVDownloadQueue::fileListCleared()
{
    listingPending = true;
    if (!running)
        targets.clear();
}

void ZVDownloadQueue::listingFinished()
{
    listingPending = false;
    if (!waitingForListing)
        return;
    waitingForListing = false;
    qCDebug(lcDownload) << "download: the new listing is complete; going on";
    startNextTarget();
}

QString ZVDownloadQueue::filePathIn(const QDir &directory, const QString &name)
{
    QString path = directory.absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

bool ZVDownloadQueue::isSafeFileName(const QString &name, const QDir &directory)
{
    // Empty, too long for a recording's name, hidden (".bashrc"), "." and "..".
    if (name.isEmpty() || name.size() > MaxNameUnits || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (isRefusedCharacter(c.unicode()))
            return false;
    }
    // Whatever the checks above miss must still land directly in the folder.
    const QFileInfo target(filePathIn(directory, name));
    return QDir::cleanPath(target.absolutePath()) == QDir::cleanPath(directory.absolutePath());
}

QString ZVDownloadQueue::partFileName(const QString &fileName, int count)
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

// The first target as it was chosen, checked against the current list: a
// target whose entry (index, name, size) is not listed now is lost and
// removed.
ZVDownloadQueue::Next ZVDownloadQueue::takeFirstTarget(Target *target)
{
    MutexLocker locker(mutex);
    if (targets.isEmpty())
        return Next::None;
    // Which targets are still listed is known once the listing is.
    if (listingPending)
        return Next::Wait;
    *target = targets.first();
    const DownloadFileInfo *info = target->listed && fileList->containsIndex(target->index)
        ? fileList->findByIndex(target->index)
        : nullptr;
    if (!info || info->isFolder || info->name != target->name || info->size != target->size) {
        targets.removeFirst();
        return Next::Lost;
    }
    target->path = filePathIn(saveDirectory, target->name);
    target->option = sameOption;
    target->safeName = isSafeFileName(target->name, saveDirectory);
    return Next::Start;
}

void ZVDownloadQueue::removeFirstTarget()
{
    MutexLocker locker(mutex);
    if (!targets.isEmpty())
        targets.removeFirst();
}

// Whether the same-name rule leaves an existing file at `path` alone. Only
// the final name counts: an unfinished ".part" file is never the recording.
bool ZVDownloadQueue::keepsExistingFile(int option, const QString &path, qint64 size)
{
    switch (option) {
    case SaveNoWrite:
        return QFile::exists(path);
    case SaveNewer:
        return QFile::exists(path) && QFileInfo(path).size() == size;
    default:
        return false;
    }
}

// Refuses a download whose files cannot all fit in the chosen folder, before
// anything is written or requested.
bool ZVDownloadQueue::checkFreeSpace()
{
    qint64 needed = 0;
    QString directory;
    {
        MutexLocker locker(mutex);
        directory = saveDirectory.absolutePath();
        for (const Target &target : qAsConst(targets)) {
            if (target.listed && isSafeFileName(target.name, saveDirectory)
                && !keepsExistingFile(sameOption, filePathIn(saveDirectory, target.name), target.size))
                needed += target.size;
        }
    }
    const QStorageInfo storage(directory);
    if (needed == 0 || !storage.isValid())
        return true;
    const qint64 available = storage.bytesAvailable();
    if (needed <= available)
        return true;

    constexpr qint64 MiB = 1024 * 1024;
    qCWarning(lcDownload) << "download: Not enough free space" << needed << available;
    fail(DownloadNoSpace, int(qMin<qint64>((needed + MiB - 1) / MiB, INT_MAX)), int(qMin<qint64>(available / MiB, INT_MAX)));
    return false;
}

void ZVDownloadQueue::startDownload()
{
    canceled = false;
    {
        MutexLocker locker(mutex);
        if (targets.isEmpty()) {
            qCWarning(lcDownload) << "download: Illegal sequence. Download target is empty.";
            return;
        }
    }
    if (file) {
        qCWarning(lcDownload) << "download: Prev file is unclosed.";
        closeFile();
    }
    running = true;
    waitingForListing = false;
    lostTargets = 0;
    if (!checkFreeSpace())
        return;
    startNextTarget();
}

void ZVDownloadQueue::startNextTarget()
{
    for (;;) {
        Target target;
        const Next next = takeFirstTarget(&target);
        if (next == Next::None) {
            finishDownload();
            return;
        }
        if (next == Next::Wait) {
            waitingForListing = true;
            return;
        }
        if (next == Next::Lost) {
            qCWarning(lcDownload) << "download: Target is no longer listed:" << target.index << target.name;
            ++lostTargets;
            continue;
        }
        estimatedSize = target.size;
        recordedAt = target.dateTime;

        if (!target.safeName) {
            qCWarning(lcDownload) << "download: Illegal file name" << target.name;
            fail(DownloadIllegalFileName, target.index, 0);
            return;
        }
        // A folder in the way is never written into or replaced.
        const QFileInfo existing(target.path);
        if (existing.isDir() && !existing.isSymLink()) {
            qCWarning(lcDownload) << "download: Illegal file name" << target.name << "(a folder of that name exists)";
            fail(DownloadIllegalFileName, target.index, 0);
            return;
        }
        if (keepsExistingFile(target.option, target.path, target.size)) {
            skipTarget(target);
            continue;
        }
        if (target.option == SaveRename && existing.exists())
            target.path = makeNewCountFileName(target.path);

        receivedSize = 0;
        writebackFrom = 0;
        previousWriteback = 0;
        openTarget(target.path);
        emit downloadStarted(target.name, qulonglong(target.size));
        if (target.size > 0) {
            connection->sendPacket(ZVCommandFactory::createDownloadRequest(qint16(target.index)));
            return;
        }
        // Nothing to transfer: the empty file is complete as created.
        if (!file) {
            fail(DownloadFileWriteError, 0, -1);
            return;
        }
        if (!finishFile())
            return;
        qCDebug(lcDownload) << "download: complete file.";
        emit downloadProgress(0);
        removeFirstTarget();
    }
}

// For the window a file left alone is a file transferred in full.
void ZVDownloadQueue::skipTarget(const Target &target)
{
    emit fileSkipped(target.name);
    emit downloadStarted(target.name, qulonglong(target.size));
    emit downloadProgress(qulonglong(target.size));
    removeFirstTarget();
}

// The end of a download that was not cancelled: targets that were no longer
// listed are reported once, just before the end.
void ZVDownloadQueue::finishDownload()
{
    running = false;
    if (lostTargets > 0) {
        qCWarning(lcDownload) << "download:" << lostTargets << "targets were no longer listed and not downloaded";
        emit error(DownloadTargetLost, lostTargets, 0);
    }
    qCDebug(lcDownload) << "download: Downloaded all files.";
    emit downloadFinished();
}

void ZVDownloadQueue::saveDownloadData(ZVCommand *command)
{
    if (canceled)
        return;

    const quint32 offset = command->headerLong(DATA_OFFSET_OFFSET);
    const quint16 checksum = command->headerWord(CHECK_OFFSET);
    const quint16 length = command->headerWord(LENGTH_OFFSET);
    const int payloadSize = command->payloadSize();

    if (!file) {
        if (openError.isEmpty())
            qCWarning(lcDownload) << "download: Illegal sequence. file not open";
        else
            qCWarning(lcDownload) << "download: Illegal sequence. file not open" << openError;
        fail(DownloadFileNotOpen, 0, 0);
        return;
    }
    if (length != payloadSize) {
        qCWarning(lcDownload) << "download: Packet Length error";
        fail(DownloadPacketLengthError, length, payloadSize);
        return;
    }
    if (offset != receivedSize) {
        qCWarning(lcDownload) << "download: Illegal offset. :" << offset << receivedSize;
        fail(DownloadIllegalOffset, int(offset), int(receivedSize));
        return;
    }
    const quint16 computed = quint16(command->crc() & 0xFFFF);
    if (checksum != computed) {
        qCWarning(lcDownload) << "download: Packet CRC error" << checksum << computed;
        fail(DownloadPacketCrcError, checksum, computed);
        return;
    }
    const qint64 end = qint64(offset) + length;
    if (end > estimatedSize) {
        qCWarning(lcDownload) << "download: Packet Length over estimated file size";
        fail(DownloadSizeExceeded, int(qMin<qint64>(end, INT_MAX)), int(qMin<qint64>(estimatedSize, INT_MAX)));
        return;
    }

    qint64 attempted = 0;
    qint64 written = 0;
    if (!writePayload(command->payloadData(), length, &attempted, &written)) {
        writeError(file->errorString(), int(attempted), int(written));
        return;
    }
    receivedSize += length;
    emit downloadProgress(receivedSize);

    if (receivedSize == estimatedSize)
        completeFile();
    else if (receivedSize - writebackFrom >= WritebackStep)
        startWriteback();
}

// Asks the system to start writing what the file holds so far to the disk,
// and waits until the step before has reached it: the disk works while data
// arrives, at most two steps are ever waiting for it, and the fsync at the
// end finds little left to do (also on a disk slower than the link, which
// then sets the pace while progress goes on).
void ZVDownloadQueue::startWriteback()
{
    if (!file->flush())
        return;   // the write error shows at the next write or at the end
    const qint64 upTo = file->pos();
#ifdef Q_OS_LINUX
    const int fd = file->handle();
    if (writebackFrom > previousWriteback)
        ::sync_file_range(fd, previousWriteback, writebackFrom - previousWriteback,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::sync_file_range(fd, writebackFrom, upTo - writebackFrom, SYNC_FILE_RANGE_WRITE);
#endif
    previousWriteback = writebackFrom;
    writebackFrom = upTo;
}

void ZVDownloadQueue::completeFile()
{
    if (!finishFile())
        return;
    qCDebug(lcDownload) << "download: complete file.";
    removeFirstTarget();

    bool more;
    {
        MutexLocker locker(mutex);
        more = !targets.isEmpty();
    }
    if (more)
        QThread::msleep(PauseBetweenFilesMs);
    startNextTarget();
}

// A finished file carries the time it was recorded, as listed, not the time
// it was copied.
void ZVDownloadQueue::keepRecordingTime()
{
    if (recordedAt.isValid() && !file->setFileTime(recordedAt, QFileDevice::FileModificationTime))
        qCWarning(lcDownload) << "download: Cannot set the file time" << partPath << file->errorString();
}

void ZVDownloadQueue::fail(AppErrorCode code, int param, int param2)
{
    emit error(code, param, param2);
    cancel();
}

void ZVDownloadQueue::writeError(const QString &what, int param, int param2)
{
    qCWarning(lcDownload) << "download: File write error" << partPath << what;
    fail(DownloadFileWriteError, param, param2);
}

// Opens the ".part" file the recording for `path` is written to. A regular
// file of that name left by an earlier download is ours and written over;
// anything else of that name (a folder, a link, a file we may not write, one
// with other names) is left alone for a counted name. Links are never
// followed.
bool ZVDownloadQueue::openTarget(const QString &path)
{
    openError.clear();
    finalPath = path;
    partPath.clear();
    const QFileInfo finalInfo(path);
    const QString fileName = finalInfo.fileName();
    const QString folder = finalInfo.absolutePath();
    if (QFile::encodeName(fileName).size() > MaxFileNameBytes) {
        openError = path + QLatin1String(": the name is too long");
        qCWarning(lcDownload) << "download: File open error" << path << "the name is too long";
        return false;
    }

    int fd = -1;
    QString reason = QStringLiteral("no free name for the partial file");
    for (int count = 0; count <= MaxNameCount && fd < 0; ++count) {
        const QString candidate = folder + QLatin1Char('/') + partFileName(fileName, count);
        const QByteArray native = QFile::encodeName(candidate);
        struct stat status {};
        if (::lstat(native.constData(), &status) == 0) {
            if (!S_ISREG(status.st_mode) || status.st_nlink != 1)
                continue;
            fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && (errno == EACCES || errno == EPERM || errno == ELOOP))
                continue;
        } else if (errno == ENOENT) {
            fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST)
                continue;
        }
        if (fd < 0) {
            reason = candidate + QLatin1String(": ") + QString::fromLocal8Bit(strerror(errno));
            break;
        }
        partPath = candidate;
    }
    if (fd < 0) {
        openError = reason;
        qCWarning(lcDownload) << "download: File open error" << path << reason;
        return false;
    }

    // A replaced regular file keeps its permissions.
    struct stat replaced {};
    if (::lstat(QFile::encodeName(path).constData(), &replaced) == 0 && S_ISREG(replaced.st_mode))
        ::fchmod(fd, replaced.st_mode & 07777);

    file = new QFile;
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        openError = partPath + QLatin1String(": ") + file->errorString();
        qCWarning(lcDownload) << "download: File open error" << partPath << file->errorString();
        delete file;
        file = nullptr;
        return false;
    }
    return true;
}

// Makes the complete file durable and gives it its final name: flushed,
// given the recording's time and synced to the disk, then renamed over
// whatever holds the final name (a link is replaced, never followed), then
// the folder is synced. Until the rename nothing of the final name changes.
// Reports a failure (and cancels) when any of that fails.
bool ZVDownloadQueue::finishFile()
{
    qint64 attempted = 0;
    qint64 written = 0;
    if (!flushGathered(&attempted, &written)) {
        writeError(file->errorString(), int(attempted), int(written));
        return false;
    }
    const int size = int(qMin<qint64>(estimatedSize, INT_MAX));
    if (!file->flush()) {
        writeError(file->errorString(), size, -1);
        return false;
    }
    keepRecordingTime();
    if (::fsync(file->handle()) != 0) {
        writeError(QString::fromLocal8Bit(strerror(errno)), size, -1);
        return false;
    }
    file->close();
    if (std::rename(QFile::encodeName(partPath).constData(), QFile::encodeName(finalPath).constData()) != 0) {
        writeError(finalPath + QLatin1String(": ") + QString::fromLocal8Bit(strerror(errno)), size, -1);
        return false;
    }
    const QString folder = QFileInfo(finalPath).absolutePath();
    if (!syncFolder(folder))
        qCWarning(lcDownload) << "download: Cannot sync the folder" << folder << strerror(errno);
    delete file;
    file = nullptr;
    return true;
}

// Large payloads are written as they come; small ones wait in `gathered`.
// Only verified data is ever written or gathered.
bool ZVDownloadQueue::writePayload(const char *data, int length, qint64 *attempted, qint64 *written)
{
    if (length < GatherBelow) {
        if (gathered.size() + length > GatherLimit && !flushGathered(attempted, written))
            return false;
        gathered.append(data, length);
        return true;
    }
    if (!flushGathered(attempted, written))
        return false;
    *attempted = length;
    *written = file->write(data, length);
    return *written == length;
}

bool ZVDownloadQueue::flushGathered(qint64 *attempted, qint64 *written)
{
    if (gathered.isEmpty())
        return true;
    *attempted = gathered.size();
    *written = file->write(gathered);
    gathered.resize(0); // keeps the reserved capacity
    return *written == *attempted;
}

// An unfinished file stays under its ".part" name with everything that
// arrived verified; the final name is not touched.
void ZVDownloadQueue::closeFile()
{
    if (!file)
        return;
    qint64 attempted = 0;
    qint64 written = 0;
    if (!flushGathered(&attempted, &written))
        qCWarning(lcDownload) << "download: File write error" << partPath << file->errorString();
    file->close();
    delete file;
    file = nullptr;
}

void ZVDownloadQueue::cancel()
{
    closeFile();
    {
        MutexLocker locker(mutex);
        targets.clear();
    }
    canceled = true;
    running = false;
    waitingForListing = false;
    connection->sendPacket(ZVCommandFactory::createCancelDownloadRequest());
}

QString ZVDownloadQueue::makeCountFileName(int count, const QString &path)
{
    const QFileInfo info(path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("(%1)").arg(count)
        + QLatin1Char('.') + info.suffix();
}

QString ZVDownloadQueue::makeNewCountFileName(const QString &path)
{
    for (int count = 1; count <= MaxNameCount; ++count) {
        const QString candidate = makeCountFileName(count, path);
        if (!QFile::exists(candidate))
            return candidate;
    }
    qCWarning(lcDownload) << "download: name count is over. Overwrite by last count name.";
    return makeCountFileName(MaxNameCount, path);
}
