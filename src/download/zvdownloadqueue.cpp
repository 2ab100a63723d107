#include "download/zvdownloadqueue.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include "app/logging.h"
#include "controller/zvfilelist.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"

namespace {
constexpr unsigned long PauseBetweenFilesMs = 200;
constexpr int MaxNameCount = 29999;
} // namespace

ZVDownloadQueue::ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QObject *parent)
    : QObject(parent)
    , connection(connection)
    , fileList(fileList)
    , saveDirectory(QString())
{
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
    QMutexLocker locker(mutex);
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
    target->option = sameOption;
    if (!isSafeFileName(target->name, saveDirectory))
        target->path.clear();
    return true;
}

void ZVDownloadQueue::removeFirstTarget()
{
    QMutexLocker locker(mutex);
    if (!targetList.isEmpty())
        targetList.removeFirst();
}

ZVDownloadQueue::Decision ZVDownloadQueue::applySameNameRule(Target *target)
{
    if (!QFile::exists(target->path))
        return Decision::Write;
    switch (target->option) {
    case SaveRename:
        target->path = makeNewCountFileName(target->path);
        return Decision::Write;
    case SaveNoWrite:
        return Decision::Skip;
    case SaveNewer:
        return QFileInfo(target->path).size() == target->size ? Decision::Skip : Decision::Write;
    default:
        return Decision::Write;   // SaveOverwrite and anything unknown
    }
}

void ZVDownloadQueue::startDownload()
{
    canceled = false;
    {
        QMutexLocker locker(mutex);
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

        if (target.path.isEmpty()) {
            qCWarning(lcDownload) << "download: Illegal file name" << target.name;
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
        openError.clear();
        file = new QFile(target.path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            openError = target.path + QLatin1String(": ") + file->errorString();
            qCWarning(lcDownload) << "download: File open error" << target.path << file->errorString();
        }

        if (target.size == 0) {
            // Nothing to transfer: the empty file is complete as created.
            emit downloadStarted(target.name, 0);
            if (!file->isOpen()) {
                fail(DownloadFileWriteError, 0, -1);
                return;
            }
            closeFile();
            qCDebug(lcDownload) << "download: complete file.";
            emit downloadProgress(0);
            removeFirstTarget();
            bool more;
            {
                QMutexLocker locker(mutex);
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
        QMutexLocker locker(mutex);
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

    const QByteArray payload = command->payload();
    const qint64 written = file->write(payload);
    if (written != length) {
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
        fail(DownloadFileWriteError, length, int(written));
        return;
    }
    receivedSize += length;
    emit downloadProgress(receivedSize);

    if (receivedSize == estimatedSize)
        completeFile();
}

void ZVDownloadQueue::completeFile()
{
    if (!file->flush()) {
        qCWarning(lcDownload) << "download: File write error" << file->fileName() << file->errorString();
        fail(DownloadFileWriteError, int(qMin<qint64>(estimatedSize, INT_MAX)), -1);
        return;
    }
    closeFile();
    qCDebug(lcDownload) << "download: complete file.";
    removeFirstTarget();

    bool more;
    {
        QMutexLocker locker(mutex);
        more = !targetList.isEmpty();
    }
    if (more) {
        QThread::msleep(PauseBetweenFilesMs);
        startDownload();
    } else {
        qCDebug(lcDownload) << "download: Downloaded all files.";
        emit downloadFinished();
    }
}

void ZVDownloadQueue::fail(AppErrorCode code, int param, int param2)
{
    emit error(code, param, param2);
    cancel();
}

void ZVDownloadQueue::closeFile()
{
    if (!file)
        return;
    file->close();
    delete file;
    file = nullptr;
}

void ZVDownloadQueue::cancel()
{
    closeFile();
    {
        QMutexLocker locker(mutex);
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
