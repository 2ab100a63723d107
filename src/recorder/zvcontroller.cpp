#include "recorder/zvcontroller.h"

#include "base/mutexlocker.h"
#include <QAbstractSocket>
#include <QThread>
#include <QTimer>

#include "base/downloadfileinfo.h"
#include "base/logging.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"
#include "recorder/zvdownloadqueue.h"

ZVController::ZVController(QObject *parent)
    : QObject(parent)
    , connection(new DeviceNetConnection(this))
    , nameSeparator(QByteArray::fromHex("000d"))
    , downloadQueue(nullptr)
    , fileList(new ZVFileList(this))
{
    qRegisterMetaType<AppErrorCode>("AppErrorCode");
    qRegisterMetaType<ZVFileFormat>("ZVFileFormat");
    qRegisterMetaType<ZVRecordMode>("ZVRecordMode");
    qRegisterMetaType<SameNameOption>("SameNameOption");

    downloadQueue = new ZVDownloadQueue(connection, fileList, mutex, this);
    connect(downloadQueue, &ZVDownloadQueue::downloadStarted, this, &ZVController::downloadStarted);
    connect(downloadQueue, &ZVDownloadQueue::downloadProgress, this, &ZVController::downloadProgress);
    connect(downloadQueue, &ZVDownloadQueue::downloadFinished, this, &ZVController::downloadFinished);
    connect(downloadQueue, &ZVDownloadQueue::fileSkipped, this, &ZVController::fileSkipped);
    connect(downloadQueue, &ZVDownloadQueue::error, this, &ZVController::error);

    // The protocol's pauses run as timers on the worker thread: the thread
    // stays free for the socket and can end at once, and a notice that comes
    // while one is pending is merged into it (the pause starts again).
    relistTimer = new QTimer(this);
    relistTimer->setSingleShot(true);
    relistTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    relistTimer->setInterval(int(DiscardPauseMs));
    connect(relistTimer, &QTimer::timeout, this, &ZVController::requestNewFileList);
    detailTimer = new QTimer(this);
    detailTimer->setSingleShot(true);
    detailTimer->setTimerType(Qt::PreciseTimer);
    detailTimer->setInterval(int(FileDetailPauseMs));
    connect(detailTimer, &QTimer::timeout, this, &ZVController::requestFileDetailResult);
}

// Usually destroyed on the worker thread after other threads last read the
// list under the lock: taking it once orders those reads before the frees.
ZVController::~ZVController()
{
    MutexLocker locker(mutex);
}

void ZVController::setProgressInterval(int intervalMs)
{
    downloadQueue->setProgressInterval(intervalMs);
}

void ZVController::setSSID(const QString &name)
{
    MutexLocker locker(mutex);
    hostName = name;
}

void ZVController::setSameOption(SameNameOption option)
{
    MutexLocker locker(mutex);
    downloadQueue->setSameOption(option);
}

int ZVController::getFileCount()
{
    MutexLocker locker(mutex);
    return fileList->count();
}

bool ZVController::getFileInfo(int row, DownloadFileInfo *info)
{
    MutexLocker locker(mutex);
    if (row < 0 || row >= fileList->count())
        return false;
    const DownloadFileInfo *entry = fileList->at(row);
    info->isFolder = entry->isFolder;
    info->index = entry->index;
    info->dateTime = entry->dateTime;
    info->name = entry->name;
    info->size = entry->size;
    return true;
}

void ZVController::setDownloadFiles(const QString &directory, const QList<int> &indexes)
{
    MutexLocker locker(mutex);
    downloadQueue->clearTargets();
    for (int index : indexes)
        downloadQueue->addTarget(index);
    downloadQueue->setDirectory(directory);
}

void ZVController::doWork()
{
    connect(connection, &DeviceNetConnection::networkConnected, this, &ZVController::connected);
    connect(connection, &DeviceNetConnection::newCommandRecieved, this, &ZVController::analyzeCommand);
    connect(connection, &DeviceNetConnection::networkError, this, &ZVController::networkError);
    connect(connection, &DeviceNetConnection::networkClosed, this, &ZVController::endDownloadOfLostLink);

    pollTimer = new QTimer(this);
    pollTimer->setSingleShot(false);
    pollTimer->setInterval(PollIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, &ZVController::pollingConnection);
    pollingConnection();
    pollTimer->start();
}

void ZVController::pollingConnection()
{
    if (!connection->isUnconnected())
        return;
    downloadQueue->flushProgress();
    emit networkClosed();
    QString host;
    {
        MutexLocker locker(mutex);
        host = hostName;
    }
    connection->connectToHost(host, Port);
}

void ZVController::connected()
{
    // At the latest now, should the old link's end have gone unnoticed.
    endDownloadOfLostLink();
    detailTimer->stop(); // an acknowledgement of the old connection has no follow-up on this one
    QThread::msleep(ConnectedPauseMs);
    emit networkConnected();
    requestNewFileList();
}

void ZVController::networkError(AppErrorCode code, int param)
{
    // A recorder whose name does not resolve is simply not there yet: the
    // next poll tries again without troubling the user.
    if (code == NetworkSocketError && param == QAbstractSocket::HostNotFoundError)
        return;
    // A read that ends inside a packet header is ordinary TCP segmentation:
    // the bytes wait for the next read, which completes the packet. The link
    // logs it; the user is not told of a failure that did not happen.
    if (code == NetworkPacketTooShort)
        return;
    // A stream of garbage gives the same error for every packet; the
    // window is told once and then at most once a second.
    if (!errorFilter.pass(code, param))
        return;
    downloadQueue->flushProgress();
    emit error(code, param, 0);
}

void ZVController::clearFileList()
{
    MutexLocker locker(mutex);
    fileList->clear();
    downloadQueue->fileListCleared();
}

void ZVController::requestNewFileList()
{
    relistTimer->stop();
    if (!connection->isConnected())
        return;
    clearFileList();
    listSequence = 0;
    listComplete = false;
    listRestart = ListRestart::None;
    connection->sendPacket(ZVCommandFactory::createFileListRequest());
}

void ZVController::requestFileDetail(int index)
{
    connection->sendPacket(ZVCommandFactory::createFileDetailRequest(qint16(index)));
}

void ZVController::requestMoveFolder(int index)
{
    connection->sendPacket(ZVCommandFactory::createMoveFolderRequest(qint16(index)));
}

void ZVController::requestChangeRecordMode(ZVRecordMode mode)
{
    connection->sendPacket(ZVCommandFactory::createRecordModeRequest(mode));
}

void ZVController::requestDownloadFiles()
{
    downloadQueue->startDownload();
}

void ZVController::requestFileDetailResult()
{
    connection->sendPacket(ZVCommandFactory::createFileDetailResultRequest());
}

void ZVController::cancelDownload()
{
    downloadQueue->cancel();
    emit downloadCanceled();
}

void ZVController::requestDisconnect()
{
    connection->abort();
}

// A download does not outlive its link: it ends when the socket leaves the
// connected state, and the next connection's listing never restarts it.
void ZVController::endDownloadOfLostLink()
{
    if (downloadQueue->linkLost())
        emit downloadCanceled();
}

void ZVController::parseFileList(ZVCommand *command)
{
    fileList->parseFileList(command, nameSeparator, &mutex);
}

QDateTime ZVController::makeDateTime(int date, int time)
{
    return ZVFileList::makeDateTime(date, time);
}

void ZVController::notifyFileDetail(ZVCommand *command)
{
    const int size = command->payloadSize();
    if (size != DETAIL_PAYLOAD_SIZE) {
        qCWarning(lcController) << "FileDetail: Illegal Packet Size";
        emit error(FileDetailIllegalPacketSize, size, 0);
        return;
    }
    const quint32 format = command->payloadLong(DETAIL_FORMAT_OFFSET);
    const quint32 sample = command->payloadLong(DETAIL_SAMPLE_OFFSET);
    const quint32 bits = command->payloadLong(DETAIL_BITS_OFFSET);
    const quint32 fs = command->payloadLong(DETAIL_FS_OFFSET);
    if (format - 1 < 3) {
        emit getFileDetailFinished(ZVFileFormat(format), sample, bits, fs);
        return;
    }
    qCWarning(lcController) << "FileDetail: Unknown File Format";
    emit error(FileDetailUnknownFileFormat, int(format), 0);
}

void ZVController::handleFileListPacket(ZVCommand *command)
{
    // A listing asked for before a notice is stale; the relist follows.
    if (relistTimer->isActive())
        return;
    const quint8 sequence = command->headerByte(SEQUENCE_OFFSET);
    if (sequence != listSequence) {
        switch (listRestart) {
        case ListRestart::None:
            // Out of sequence: list again from packet 0, once. A recorder
            // that misnumbers that listing too is left to the window's
            // watchdog.
            requestNewFileList();
            listRestart = ListRestart::AwaitingStart;
            return;
        case ListRestart::AwaitingStart:
            return; // the rest of the abandoned listing, still on its way
        case ListRestart::Running:
            // What was taken for the new listing is the abandoned one's tail:
            // its numbers wrap past 255 to a packet 0 of its own. Dropped; a
            // packet 0 begins the new listing anew.
            clearFileList();
            listSequence = 0;
            if (sequence != 0) {
                listRestart = ListRestart::AwaitingStart;
                return;
            }
            break;
        }
    }
    if (listRestart == ListRestart::AwaitingStart)
        listRestart = ListRestart::Running; // a packet 0
    if (listComplete) {
        // A recorder that sends more than it announced: the listing stays
        // finished, and the surplus keeps the sequence so that the packets
        // after it are not taken for a broken listing.
        ++listSequence;
        qCDebug(lcController) << "FileDetail: list packet after the announced total ignored";
        return;
    }
    const int total = command->headerWord(COUNT_OFFSET);
    const int before = getFileCount();
    parseFileList(command);
    ++listSequence;
    // Complete when the entries reach the announced total. A listing that
    // decodes to more entries than announced (a broken name that splits in
    // two) ends where it crosses the total instead of never ending.
    const int after = getFileCount();
    if (after == total || (after > total && before < total)) {
        listComplete = true;
        listRestart = ListRestart::None;
        emit getFileListFinished();
        downloadQueue->listingFinished(); // may send a request: the command's last use is above
    }
}

void ZVController::analyzeCommand()
{
    if (connection->isCommandQueueEmpty())
        return;
    ZVCommand *command = connection->firstCommand();
    // Whatever else a packet tells the window follows the counts before it.
    if (command->kind() != KIND_COMMAND || command->headerByte(CODE_OFFSET) != CODE_DOWNLOAD_DATA)
        downloadQueue->flushProgress();

    switch (command->kind()) {
    case KIND_STATUS:
        if (command->headerWord(CODE_OFFSET) == STATUS_RECORD_MODE) {
            const ZVRecordMode mode
                = command->headerWord(PARAM_OFFSET) == RecordModeMTR ? RecordModeMTR : RecordModeMusic;
            emit renewalRecodeMode(mode);
        }
        break;
    case KIND_COMMAND:
        switch (command->headerByte(CODE_OFFSET)) {
        case CODE_FILE_LIST:
            handleFileListPacket(command);
            break;
        case CODE_LIST_INVALIDATED:
            // Notices that come while a relist is pending are merged into it,
            // and each one gets its full pause: the recorder may still be
            // changing its listing. The window is told once per merged run.
            if (!relistTimer->isActive()) {
                clearFileList();
                emit discardFileList();
            }
            relistTimer->start(); // restarts a pending pause
            break;
        case CODE_FILE_DETAIL:
            detailTimer->start(); // merged as above, a full pause after the last
            break;
        case CODE_FILE_DETAIL_DATA:
            notifyFileDetail(command);
            break;
        case CODE_CANCEL_DOWNLOAD:
            if (connection->takeCancelConfirmation()) {
                // The confirmation of a cancel we sent. It ends that
                // download only: one started since goes on.
                if (!downloadQueue->isRunning())
                    emit downloadCanceled();
            } else if (downloadQueue->stoppedByRecorder()) {
                // Unasked: the recorder stopped the running download itself.
                emit downloadCanceled();
            }
            break;
        case CODE_DOWNLOAD_DATA:
            downloadQueue->saveDownloadData(command);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    connection->removeFirstCommand();
}
