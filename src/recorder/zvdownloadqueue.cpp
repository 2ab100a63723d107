#include "recorder/zvdownloadqueue.h"

#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <climits>

#include "base/logging.h"
#include "base/mutexlocker.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"
#include "recorder/samenamerule.h"

ZVDownloadQueue::ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QMutex &mutex, QObject *parent)
    : QObject(parent)
    , connection(connection)
    , fileList(fileList)
    , saveDirectory(QString())
    , mutex(mutex)
    , heldProgressTimer(new QTimer(this))
{
    heldProgressTimer->setSingleShot(true);
    heldProgressTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    connect(heldProgressTimer, &QTimer::timeout, this, &ZVDownloadQueue::flushProgress);
}

// Closing the window or ending a program keeps what was verified in the
// ".part" file.
ZVDownloadQueue::~ZVDownloadQueue() = default;

void ZVDownloadQueue::setProgressInterval(int intervalMs)
{
    progressIntervalMs = intervalMs;
}

// Sends the count at once when the interval since the last one has passed,
// else holds it (replacing one held before) until the interval ends.
void ZVDownloadQueue::reportProgress(qulonglong bytes)
{
    if (progressIntervalMs <= 0) {
        emit downloadProgress(bytes);
        return;
    }
    const qint64 since = sinceProgress.isValid() ? sinceProgress.elapsed() : progressIntervalMs;
    if (since >= progressIntervalMs) {
        progressHeld = false;
        heldProgressTimer->stop();
        sinceProgress.start();
        emit downloadProgress(bytes);
        return;
    }
    heldBytes = bytes;
    if (!progressHeld) {
        progressHeld = true;
        heldProgressTimer->start(int(progressIntervalMs - since));
    }
}

void ZVDownloadQueue::flushProgress()
{
    if (!progressHeld)
        return;
    progressHeld = false;
    heldProgressTimer->stop();
    sinceProgress.start();
    emit downloadProgress(heldBytes);
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

QString ZVDownloadQueue::makeCountFileName(int count, const QString &path)
{
    return SameNameRule::makeCountFileName(count, path);
}

QString ZVDownloadQueue::makeNewCountFileName(const QString &path)
{
    return SameNameRule::makeNewCountFileName(path);
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
    const DownloadFileInfo *info
        = target->listed && fileList->containsIndex(target->index) ? fileList->findByIndex(target->index) : nullptr;
    if (!info || info->isFolder || info->name != target->name || info->size != target->size) {
        targets.removeFirst();
        return Next::Lost;
    }
    target->path = SameNameRule::filePathIn(saveDirectory, target->name);
    target->option = sameOption;
    target->safeName = SameNameRule::isSafeFileName(target->name, saveDirectory);
    return Next::Start;
}

void ZVDownloadQueue::removeFirstTarget()
{
    MutexLocker locker(mutex);
    if (!targets.isEmpty())
        targets.removeFirst();
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
        const SameNameRule rule(sameOption);
        for (const Target &target : qAsConst(targets)) {
            if (target.listed && rule.writes(saveDirectory, target.name, target.size))
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
    fail(DownloadNoSpace, int(qMin<qint64>((needed + MiB - 1) / MiB, INT_MAX)),
         int(qMin<qint64>(available / MiB, INT_MAX)));
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
    if (file.isOpen()) {
        qCWarning(lcDownload) << "download: Prev file is unclosed.";
        file.close();
    }
    running = true;
    waitingForListing = false;
    lostTargets = 0;
    if (!checkFreeSpace())
        return;
    startNextTarget();
}

// Starts targets until one waits for its data, fails or none is left.
void ZVDownloadQueue::startNextTarget()
{
    Target target;
    while (nextTargetOrFinish(&target)) {
        if (startTarget(target) != Started::Done)
            return;
    }
}

// The next target that is still listed; without one the download finishes,
// or waits while a new listing is on its way.
bool ZVDownloadQueue::nextTargetOrFinish(Target *target)
{
    for (;;) {
        switch (takeFirstTarget(target)) {
        case Next::Start:
            return true;
        case Next::Lost:
            qCWarning(lcDownload) << "download: Target is no longer listed:" << target->index << target->name;
            ++lostTargets;
            continue;
        case Next::Wait:
            waitingForListing = true;
            return false;
        case Next::None:
            finishDownload();
            return false;
        }
    }
}

// Settles the target's file and asks the recorder for its data. A skipped,
// empty or refused target is done at once.
ZVDownloadQueue::Started ZVDownloadQueue::startTarget(const Target &target)
{
    estimatedSize = target.size;
    QString path = target.path;
    const SameNameRule::Action action
        = target.safeName ? SameNameRule(target.option).apply(&path, target.size) : SameNameRule::Action::Refuse;
    if (action == SameNameRule::Action::Refuse) {
        if (target.safeName)
            qCWarning(lcDownload) << "download: Illegal file name" << target.name << "(a folder of that name exists)";
        else
            qCWarning(lcDownload) << "download: Illegal file name" << target.name;
        // Only this file fails (a "._NAME" a computer left on the card must
        // not stop the others); nothing was asked of the recorder for it.
        flushProgress();
        emit error(DownloadIllegalFileName, target.index, 0);
        removeFirstTarget();
        return Started::Done;
    }
    if (action == SameNameRule::Action::Skip) {
        skipTarget(target);
        return Started::Done;
    }

    receivedSize = 0;
    file.open(path, target.dateTime);
    flushProgress();
    emit downloadStarted(target.name, qulonglong(target.size));
    if (target.size > 0) {
        connection->sendPacket(ZVCommandFactory::createDownloadRequest(qint16(target.index)));
        return Started::Receiving;
    }
    // Nothing to transfer: the empty file is complete as created.
    if (!file.isOpen()) {
        fail(DownloadFileWriteError, 0, -1);
        return Started::Failed;
    }
    if (!completeFile())
        return Started::Failed;
    reportProgress(0);
    return Started::Done;
}

// For the window a file left alone is a file transferred in full.
void ZVDownloadQueue::skipTarget(const Target &target)
{
    flushProgress();
    emit fileSkipped(target.name);
    emit downloadStarted(target.name, qulonglong(target.size));
    reportProgress(qulonglong(target.size));
    removeFirstTarget();
}

// The current file is complete: it takes its final name and the target is
// done. Reports a failure (and cancels) when the file cannot be finished.
bool ZVDownloadQueue::completeFile()
{
    if (!file.finish()) {
        writeError();
        return false;
    }
    qCDebug(lcDownload) << "download: complete file.";
    removeFirstTarget();
    return true;
}

// The end of a download that was not cancelled: targets that were no longer
// listed are reported once, just before the end.
void ZVDownloadQueue::finishDownload()
{
    running = false;
    flushProgress();
    if (lostTargets > 0) {
        qCWarning(lcDownload) << "download:" << lostTargets << "targets were no longer listed and not downloaded";
        emit error(DownloadTargetLost, lostTargets, 0);
    }
    qCDebug(lcDownload) << "download: Downloaded all files.";
    emit downloadFinished();
}

void ZVDownloadQueue::saveDownloadData(ZVCommand *command)
{
    if (canceled || !checkPacket(command))
        return;

    const quint16 length = command->headerWord(LENGTH_OFFSET);
    if (!file.append(command->payloadData(), length)) {
        writeError();
        return;
    }
    receivedSize += length;
    reportProgress(receivedSize);

    if (receivedSize != estimatedSize) {
        file.startWritebackIfDue();
        return;
    }
    if (!completeFile())
        return;
    // The file's last count is shown during the pause before the next one.
    flushProgress();
    bool more;
    {
        MutexLocker locker(mutex);
        more = !targets.isEmpty();
    }
    if (more)
        QThread::msleep(PauseBetweenFilesMs);
    startNextTarget();
}

// Checks a data packet against the file being received: open, its length,
// its offset, its checksum and the listed size, in that order. A packet that
// fails cancels the download.
bool ZVDownloadQueue::checkPacket(ZVCommand *command)
{
    const quint32 offset = command->headerLong(DATA_OFFSET_OFFSET);
    const quint16 checksum = command->headerWord(CHECK_OFFSET);
    const quint16 length = command->headerWord(LENGTH_OFFSET);
    const int payloadSize = command->payloadSize();

    // Until the recorder confirms our cancel, what it sends is the cancelled
    // transfer's tail: a packet that does not continue this file is dropped,
    // not a fault of this file (a download started right after a cancel).
    if ((!file.isOpen() || offset != receivedSize) && connection->awaitsCancelConfirmation()) {
        qCDebug(lcDownload) << "download: Data of a cancelled transfer dropped. offset:" << offset;
        return false;
    }
    if (!file.isOpen()) {
        if (file.openError().isEmpty())
            qCWarning(lcDownload) << "download: Illegal sequence. file not open";
        else
            qCWarning(lcDownload) << "download: Illegal sequence. file not open" << file.openError();
        fail(DownloadFileNotOpen, 0, 0);
        return false;
    }
    if (length != payloadSize) {
        qCWarning(lcDownload) << "download: Packet Length error";
        fail(DownloadPacketLengthError, length, payloadSize);
        return false;
    }
    if (offset != receivedSize) {
        qCWarning(lcDownload) << "download: Illegal offset. :" << offset << receivedSize;
        fail(DownloadIllegalOffset, int(offset), int(receivedSize));
        return false;
    }
    const quint16 computed = quint16(command->crc() & 0xFFFF);
    if (checksum != computed) {
        qCWarning(lcDownload) << "download: Packet CRC error" << checksum << computed;
        fail(DownloadPacketCrcError, checksum, computed);
        return false;
    }
    const qint64 end = qint64(offset) + length;
    if (end > estimatedSize) {
        qCWarning(lcDownload) << "download: Packet Length over estimated file size";
        fail(DownloadSizeExceeded, int(qMin<qint64>(end, INT_MAX)), int(qMin<qint64>(estimatedSize, INT_MAX)));
        return false;
    }
    return true;
}

void ZVDownloadQueue::fail(AppErrorCode code, int param, int param2)
{
    flushProgress();
    emit error(code, param, param2);
    cancel();
}

void ZVDownloadQueue::writeError()
{
    const PartFile::Failure failure = file.failure();
    qCWarning(lcDownload) << "download: File write error" << file.path() << failure.what;
    fail(DownloadFileWriteError, failure.param, failure.param2);
}

bool ZVDownloadQueue::linkLost()
{
    return endWithoutRequest(DownloadLinkLost);
}

bool ZVDownloadQueue::stoppedByRecorder()
{
    return endWithoutRequest(DownloadStoppedByRecorder);
}

// Ends a running download at once without a word to the recorder (it has
// stopped, or cannot be reached): the file being received keeps what was
// verified under its ".part" name, and every target left is dropped, so
// neither a later listing nor a new connection takes the download up again.
// The error counts the files not downloaded and not reported before.
bool ZVDownloadQueue::endWithoutRequest(AppErrorCode code)
{
    if (!running)
        return false;
    int left;
    {
        MutexLocker locker(mutex);
        left = targets.size() + lostTargets;
        targets.clear();
    }
    file.close();
    canceled = true;
    running = false;
    waitingForListing = false;
    if (code == DownloadLinkLost)
        qCWarning(lcDownload) << "download: The link is gone; download ended," << left << "files not downloaded";
    else
        qCWarning(lcDownload) << "download: Stopped by the recorder;" << left << "files not downloaded";
    flushProgress();
    emit error(code, left, 0);
    return true;
}

void ZVDownloadQueue::cancel()
{
    flushProgress();
    file.close();
    {
        MutexLocker locker(mutex);
        targets.clear();
    }
    canceled = true;
    running = false;
    waitingForListing = false;
    connection->sendPacket(ZVCommandFactory::createCancelDownloadRequest());
}
