#include "download/zvdownloadqueue.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <cstdio>
#include "app/mutexlocker.h"
#include <QThread>

#include "app/logging.h"
#include "controller/zvfilelist.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"

namespace {
constexpr unsigned long PauseBetweenFilesMs = 200;
constexpr int MaxNameCount = 29999;
// Payloads smaller than this are gathered into writes of up to GatherLimit
// bytes: one system call instead of one per 16 KiB (QFile's own buffer).
constexpr int GatherBelow = 16 * 1024;
constexpr int GatherLimit = 256 * 1024;
} // namespace

ZVDownloadQueue::ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QObject *parent)
    : QObject(parent)
    , connection(connection)
    , fileList(fileList)
    , saveDirectory(QString())
{
    gathered.reserve(GatherLimit);
}

ZVDownloadQueue::~ZVDownloadQueue()
{
    closeFile();
}

void ZVDownloadQueue::clearTargets()
{
    targetList.clear();
}

void ZVDownloadQueue::addTarget(int index)
{
    targetList.append(index);
}

void ZVDownloadQueue::setDirectory(const QString &path)
{
    saveDirectory = QDir(path);
}

void ZVDownloadQueue::setSameOption(SameNameOption option)
{
    sameOption = option;
}

bool ZVDownloadQueue::isSafeFileName(const QString &name, const QDir &directory)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7F || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return false;
    }
    // Whatever the checks above miss must still land directly in the folder.
    const QFileInfo target(directory.absoluteFilePath(name));
    return QDir::cleanPath(target.absolutePath()) == QDir::cleanPath(directory.absolutePath());
}

// Takes the first target's details under the lock, after dropping targets that
// are no longer in the file list (it was replaced after they were chosen).
bool ZVDownloadQueue::takeFirstTarget(Target *target, bool *dropped)
{
    MutexLocker locker(mutex);
    while (!targetList.isEmpty() && !fileList->containsIndex(targetList.first())) {
        qCWarning(lcDownload) << "download: Target is no longer listed:" << targetList.first();
        targetList.removeFirst();
        *dropped = true;
    }
    if (targetList.isEmpty())
        return false;
    const DownloadFileInfo *info = fileList->findByIndex(targetList.first());
    target->index = targetList.first();
    target->name = info->name;
    target->size = info->size;
    target->path = saveDirectory.absoluteFilePath(info->name);
    target->dateTime = info->dateTime;
    target->option = sameOption;
    if (!isSafeFileName(target->name, saveDirectory))
        target->path.clear();
    return true;
}

void ZVDownloadQueue::removeFirstTarget()
{
    MutexLocker locker(mutex);
    if (!targetList.isEmpty())
        targetList.removeFirst();
}

// Whether the same-name rule leaves an existing file at `path` alone.
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

ZVDownloadQueue::Decision ZVDownloadQueue::applySameNameRule(Target *target)
{
    if (keepsExistingFile(target->option, target->path, target->size))
        return Decision::Skip;
    if (target->option == SaveRename && QFile::exists(target->path))
        target->path = makeNewCountFileName(target->path);
    return Decision::Write;
}

// Refuses a download whose files cannot all fit in the chosen folder, before
// anything is written or requested.
bool ZVDownloadQueue::checkFreeSpace()
{
    QList<Target> targets;
    QString directory;
    {
        MutexLocker locker(mutex);
        directory = saveDirectory.absolutePath();
        for (int index : qAsConst(targetList)) {
            if (!fileList->containsIndex(index))
                continue;
            const DownloadFileInfo *info = fileList->findByIndex(index);
            if (!isSafeFileName(info->name, saveDirectory))
                continue;
            Target target;
            target.size = info->size;
            target.path = saveDirectory.absoluteFilePath(info->name);
            target.option = sameOption;
            targets.append(target);
        }
    }
    qint64 needed = 0;
    for (const Target &target : qAsConst(targets)) {
        if (!keepsExistingFile(target.option, target.path, target.size))
            needed += target.size;
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
    if (!checkFreeSpace())
        return;
    startNextTarget();
}

void ZVDownloadQueue::startNextTarget()
{
    canceled = false;
    {
        MutexLocker locker(mutex);
        if (targetList.isEmpty()) {
            qCWarning(lcDownload) << "download: Illegal sequence. Download target is empty.";
            return;
        }
    }
    if (file) {
        qCWarning(lcDownload) << "download: Prev file is unclosed.";
        closeFile();
    }

    for (;;) {
        Target target;
        bool dropped = false;
        if (!takeFirstTarget(&target, &dropped)) {
            // Every remaining target had left the list: the download is over.
            emit downloadFinished();
            return;
        }
        estimatedSize = target.size;
        recordedAt = target.dateTime;

        if (target.path.isEmpty()) {
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

        if (applySameNameRule(&target) == Decision::Skip) {
            QString name = target.name;
            QString path = target.path;
            if (!skipCurrentFile(&name, &path))
                return;
            continue;
        }

        receivedSize = 0;
        openTarget(target);

        if (target.size == 0) {
            // Nothing to transfer: the empty file is complete as created.
            emit downloadStarted(target.name, 0);
            if (!file->isOpen()) {
                fail(DownloadFileWriteError, 0, -1);
                return;
            }
            if (!finishFile())
                return;
            qCDebug(lcDownload) << "download: complete file.";
            emit downloadProgress(0);
            removeFirstTarget();
            bool more;
            {
                MutexLocker locker(mutex);
                more = !targetList.isEmpty();
            }
            if (!more) {
                qCDebug(lcDownload) << "download: Downloaded all files.";
                emit downloadFinished();
                return;
            }
            continue;
        }

        emit downloadStarted(target.name, qulonglong(target.size));
        connection->sendPacket(ZVCommandFactory::createDownloadRequest(qint16(target.index)));
        return;
    }
}

bool ZVDownloadQueue::skipCurrentFile(QString *name, QString *path)
{
    emit fileSkipped(*name);
    emit downloadStarted(*name, qulonglong(estimatedSize));
    emit downloadProgress(qulonglong(estimatedSize));

    bool more = false;
    {
        MutexLocker locker(mutex);
        if (!targetList.isEmpty())
            targetList.removeFirst();
        if (!targetList.isEmpty() && fileList->containsIndex(targetList.first())) {
            const DownloadFileInfo *info = fileList->findByIndex(targetList.first());
            *name = info->name;
            *path = saveDirectory.absoluteFilePath(info->name);
            estimatedSize = info->size;
            more = true;
        } else {
            more = !targetList.isEmpty();
        }
    }
    if (!more)
        emit downloadFinished();
    return more;
}

void ZVDownloadQueue::saveDownloadData(ZVCommand *command)
{
    if (canceled)
        return;

    const quint32 offset = command->headerLong(DATA_OFFSET_OFFSET);
    const quint16 checksum = command->headerWord(CHECK_OFFSET);
    const quint16 length = command->headerWord(LENGTH_OFFSET);
    const int payloadSize = command->payloadSize();

    if (!file || !file->isOpen()) {
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
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
        fail(DownloadFileWriteError, int(attempted), int(written));
        return;
    }
    receivedSize += length;
    emit downloadProgress(receivedSize);

    if (receivedSize == estimatedSize)
        completeFile();
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
        more = !targetList.isEmpty();
    }
    if (more) {
        QThread::msleep(PauseBetweenFilesMs);
        startNextTarget();
    } else {
        qCDebug(lcDownload) << "download: Downloaded all files.";
        emit downloadFinished();
    }
}

// A finished file carries the time it was recorded, as listed, not the time
// it was copied.
void ZVDownloadQueue::keepRecordingTime()
{
    if (recordedAt.isValid() && !file->setFileTime(recordedAt, QFileDevice::FileModificationTime))
        qCWarning(lcDownload) << "download: Cannot set the file time" << file->fileName() << file->errorString();
}

void ZVDownloadQueue::fail(AppErrorCode code, int param, int param2)
{
    emit error(code, param, param2);
    cancel();
}

// Opens the file the target is written to. A new name is written in place (a
// partial file stays after a cancel); an existing name (or a link of that
// name) is replaced only when the new file is complete, so a cancelled or
// failed download leaves the old file as it was.
bool ZVDownloadQueue::openTarget(const Target &target)
{
    openError.clear();
    replacePath.clear();
    const QFileInfo existing(target.path);
    if (existing.exists() || existing.isSymLink()) {
        auto *temporary = new QTemporaryFile(saveDirectory.absoluteFilePath(QStringLiteral(".zv-download-XXXXXX.part")));
        file = temporary;
        if (temporary->open()) {
            replacePath = target.path;
            const bool regular = existing.isFile() && !existing.isSymLink();
            temporary->setPermissions(regular ? existing.permissions()
                                              : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                    | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
    } else {
        file = new QFile(target.path);
        file->open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    if (!file->isOpen()) {
        openError = target.path + QLatin1String(": ") + file->errorString();
        qCWarning(lcDownload) << "download: File open error" << target.path << file->errorString();
        return false;
    }
    return true;
}

// Flushes the complete file, gives it the recording's time and, when it
// replaces an existing one, puts it in its place. Reports a failure (and
// cancels) when any of that fails.
bool ZVDownloadQueue::finishFile()
{
    qint64 attempted = 0;
    qint64 written = 0;
    if (!flushGathered(&attempted, &written)) {
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
        fail(DownloadFileWriteError, int(attempted), int(written));
        return false;
    }
    if (!file->flush()) {
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
        fail(DownloadFileWriteError, int(qMin<qint64>(estimatedSize, INT_MAX)), -1);
        return false;
    }
    // The folder may have gone while the file was written: the bytes then
    // went to a file nobody can reach, which is no success.
    if (!QFileInfo::exists(file->fileName())) {
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << "is gone";
        fail(DownloadFileWriteError, int(qMin<qint64>(estimatedSize, INT_MAX)), -1);
        return false;
    }
    keepRecordingTime();
    if (!replacePath.isEmpty()) {
        // rename() replaces a link of that name itself, never what it points to.
        if (std::rename(QFile::encodeName(file->fileName()).constData(),
                        QFile::encodeName(replacePath).constData()) != 0) {
            qCWarning(lcDownload) << "download: File write error" << replacePath << strerror(errno);
            fail(DownloadFileWriteError, int(qMin<qint64>(estimatedSize, INT_MAX)), -1);
            return false;
        }
        static_cast<QTemporaryFile *>(file)->setAutoRemove(false);
        replacePath.clear();
    }
    closeFile();
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

void ZVDownloadQueue::closeFile()
{
    if (!file)
        return;
    // A partial file keeps everything that arrived verified.
    qint64 attempted = 0;
    qint64 written = 0;
    if (!flushGathered(&attempted, &written))
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
    file->close();
    delete file;   // an unfinished temporary file removes itself
    file = nullptr;
    replacePath.clear();
}

void ZVDownloadQueue::cancel()
{
    closeFile();
    {
        MutexLocker locker(mutex);
        targetList.clear();
    }
    canceled = true;
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
