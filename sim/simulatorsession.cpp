#include "sim/simulatorsession.h"

#include <QBuffer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <sys/uio.h>

#include "protocol/zvcommand.h"
#include "sim/audioprobe.h"
#include "sim/recordertree.h"
#include "sim/replybuilder.h"
#include "sim/sessionoutput.h"
#include "sim/simlogging.h"
#include "sim/simulatorsettings.h"

namespace {
// Unshaped downloads go out in runs of packets of about this size: one file
// read and one socket write per run.
constexpr qint64 BatchBytes = 1024 * 1024;
constexpr qint64 YieldAfterBytes = 8 * 1024 * 1024;
constexpr int DirectReadChunk = 16 * 1024;
constexpr qint64 MaxGatherPackets = 256; // two parts each, within IOV_MAX
constexpr quint32 MaxListedSize = 0xFFFFFFFF;
constexpr int MusicMode = 0;
constexpr int MtrMode = 1;

QString hexText(const char *header)
{
    return ZVCommand::headerHexText(header).trimmed();
}

QString indexText(quint16 index)
{
    return QStringLiteral("0x%1").arg(index, 4, 16, QLatin1Char('0'));
}

QString requestName(quint8 kind, quint8 code)
{
    if (kind == KIND_STATUS)
        return QStringLiteral("record mode");
    if (kind != KIND_COMMAND)
        return QStringLiteral("unknown kind 0x%1").arg(kind, 2, 16, QLatin1Char('0'));
    switch (code) {
    case CODE_FILE_LIST:
        return QStringLiteral("file list");
    case CODE_MOVE_FOLDER:
        return QStringLiteral("move folder");
    case CODE_FILE_DETAIL:
        return QStringLiteral("file detail");
    case CODE_FILE_DETAIL_RESULT:
        return QStringLiteral("file detail result");
    case CODE_DOWNLOAD:
        return QStringLiteral("download");
    case CODE_CANCEL_DOWNLOAD:
        return QStringLiteral("cancel download");
    default:
        return QStringLiteral("unknown code 0x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
}
} // namespace

SimulatorSession::SimulatorSession(QTcpSocket *socket, SimulatorSettings *settings, RecorderTree *musicTree,
                                   RecorderTree *mtrTree, int *recordMode, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , settings(settings)
    , musicTree(musicTree)
    , mtrTree(mtrTree)
    , recordMode(recordMode)
    , output(new SessionOutput(socket, settings, this))
{
    socket->setParent(this);
    // Small answers go out at once, and split pieces as segments of their own.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &SimulatorSession::readRequests);
    connect(socket, &QTcpSocket::disconnected, this, &SimulatorSession::socketDisconnected);
    connect(output, &SessionOutput::readyForMore, this, &SimulatorSession::produceData);
    connect(output, &SessionOutput::dropped, this, [this](SimulatorSettings::DropMode) {
        if (downloading)
            endDownload();
        emit connectionDropped();
    });
    // A connection that was held may hold requests already.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &SimulatorSession::readRequests, Qt::QueuedConnection);
}

SimulatorSession::~SimulatorSession()
{
    socket->disconnect(this);
}

void SimulatorSession::notifyListingChanged()
{
    listingValid = false;
    reply(ReplyBuilder::command(CODE_LIST_INVALIDATED), QStringLiteral("listing changed"));
}

void SimulatorSession::sendRaw(const QByteArray &bytes)
{
    output->send(bytes, false);
}

void SimulatorSession::disconnectClient()
{
    socket->disconnectFromHost();
}

void SimulatorSession::socketDisconnected()
{
    if (downloading) {
        qCInfo(lcSim) << "sim: connection lost during the download of" << downloadName << "after" << producedBytes
                      << "bytes";
        endDownload();
    }
    emit finished();
}

// Requests are 14-byte packets; one that does not start with the magic is
// skipped up to the next "ZV".
void SimulatorSession::readRequests()
{
    receiveBuffer += socket->readAll();
    const int size = receiveBuffer.size();
    int pos = 0;
    while (size - pos >= HEADER_SIZE) {
        const char *packet = receiveBuffer.constData() + pos;
        if (packet[0] != MAGIC_0 || packet[1] != MAGIC_1) {
            const int next = receiveBuffer.indexOf(QByteArrayLiteral("ZV"), pos + 1);
            const int resume = next < 0 ? size - 1 : next;
            qCWarning(lcSim) << "sim: skipping" << resume - pos << "bytes that are no request";
            pos = resume;
            continue;
        }
        const int length = framedPacketLength(packet);
        if (length > size - pos)
            break;
        handleRequest(QByteArray(packet, HEADER_SIZE));
        pos += length;
    }
    receiveBuffer.remove(0, pos);
}

void SimulatorSession::handleRequest(const QByteArray &header)
{
    ZVCommand request;
    request.parse(&header);
    const quint8 kind = request.headerByte(KIND_OFFSET);
    const quint8 code = request.headerByte(CODE_OFFSET);
    const quint16 param = request.headerWord(PARAM_OFFSET);
    const QString name = requestName(kind, code);
    emit requestReceived(header);

    if (settings->logExchanges)
        qCInfo(lcSim).noquote() << QStringLiteral("sim: <- %1  %2").arg(hexText(header.constData()), name);

    const int key = kind == KIND_STATUS ? SimulatorSettings::RecordModeRequest : code;
    if ((kind == KIND_COMMAND || kind == KIND_STATUS) && settings->unanswered.contains(key)) {
        qCInfo(lcSim).noquote() << "sim: fault: leaving the" << name << "request unanswered";
        return;
    }
    if (output->isStopped()) {
        qCInfo(lcSim).noquote() << "sim: silent: not answering the" << name << "request";
        return;
    }

    if (kind == KIND_STATUS) {
        changeRecordMode(request.headerWord(CODE_OFFSET), param);
        return;
    }
    if (kind == KIND_COMMAND) {
        switch (code) {
        case CODE_FILE_LIST:
            sendListing();
            return;
        case CODE_MOVE_FOLDER:
            moveFolder(param);
            return;
        case CODE_FILE_DETAIL:
            detailIndex = param;
            reply(ReplyBuilder::command(CODE_FILE_DETAIL), QStringLiteral("detail acknowledged"));
            return;
        case CODE_FILE_DETAIL_RESULT:
            sendDetail();
            return;
        case CODE_DOWNLOAD:
            startDownload(param);
            return;
        case CODE_CANCEL_DOWNLOAD:
            cancelDownload();
            return;
        default:
            break;
        }
    }
    // The recorder ignores what it does not know; so do we.
    qCDebug(lcSim).noquote() << QStringLiteral("sim: ignoring request %1 (%2)").arg(hexText(header.constData()), name);
}

RecorderTree *SimulatorSession::currentTree() const
{
    return *recordMode == MtrMode ? mtrTree : musicTree;
}

// The listing that indexes in requests refer to: the last one sent in this
// folder, or a fresh one when the client names an index without listing.
const FolderListing &SimulatorSession::currentListing()
{
    if (listingValid)
        return listing;
    QVector<TreeEntry> entries;
    if (folderPath.isEmpty())
        entries = currentTree()->list(currentTree()->root(), settings->hostileNames);
    else if (!folderPath.last().isVirtual())
        entries = currentTree()->list(folderPath.last().filePath);
    listing = FolderListing(std::move(entries));
    listingValid = true;
    return listing;
}

void SimulatorSession::sendListing()
{
    listingValid = false;
    currentListing();
    quint8 first = 0;
    if (settings->listSequenceFault && settings->listSequenceEveryListing) {
        first = 1;
        qCInfo(lcSim) << "sim: fault: numbering this listing from 1";
    } else if (settings->listSequenceFault && !listedOnce) {
        first = 1;
        qCInfo(lcSim) << "sim: fault: numbering the first listing of this session from 1";
    }
    if (settings->listSurplus > 0)
        qCInfo(lcSim) << "sim: fault: announcing" << settings->listSurplus << "entries fewer than listed";
    listedOnce = true;
    listingPending = true;
    listingRow = 0;
    listingSequence = first;
    produceListing();
}

// The next packets of the listing, as long as the socket takes them.
void SimulatorSession::produceListing()
{
    const quint16 total = quint16(qMax(0, listing.count() - settings->listSurplus));
    while (listingPending && !output->isStopped() && output->queuedBytes() < settings->sendWindow) {
        const int first = listingRow;
        const QByteArray packet = listing.packetFrom(&listingRow, settings->maxListPayload, listingSequence++, total,
                                                     settings->longNameUnits);
        listingPending = listingRow < listing.count();
        reply(packet, QStringLiteral("file list entries %1..%2 of %3").arg(first + 1).arg(listingRow).arg(total));
    }
}

void SimulatorSession::moveFolder(quint16 index)
{
    if (index == PARENT_FOLDER_INDEX) {
        if (!folderPath.isEmpty())
            folderPath.removeLast();
    } else if (const TreeEntry *entry = currentListing().find(index); entry && entry->isFolder) {
        folderPath.append(*entry);
    } else {
        // The client gets its notice all the same and finds the same folder.
        qCInfo(lcSim).noquote() << "sim: no folder with index" << indexText(index) << "here; staying";
    }
    listingValid = false;
    listingPending = false;
    detailIndex = -1;
    reply(ReplyBuilder::command(CODE_LIST_INVALIDATED), QStringLiteral("folder changed"));
}

void SimulatorSession::changeRecordMode(quint16 item, quint16 value)
{
    if (item != STATUS_RECORD_MODE) {
        qCDebug(lcSim) << "sim: ignoring status item" << item;
        return;
    }
    *recordMode = value == MtrMode ? MtrMode : MusicMode;
    folderPath.clear();
    listingValid = false;
    listingPending = false;
    detailIndex = -1;
    reply(ReplyBuilder::status(STATUS_RECORD_MODE, quint16(*recordMode)), QStringLiteral("record mode"));
    reply(ReplyBuilder::command(CODE_LIST_INVALIDATED), QStringLiteral("tree changed"));
}

// Details of the entry named by the last 0x21; all zero (format 0) for a
// folder, an unknown index, a file that is no audio, or no 0x21 at all.
void SimulatorSession::sendDetail()
{
    AudioProbe::Details details;
    const TreeEntry *entry = detailIndex < 0 ? nullptr : currentListing().find(quint16(detailIndex));
    if (entry && !entry->isFolder) {
        if (entry->isVirtual()) {
            QByteArray content = entry->content;
            QBuffer buffer(&content);
            buffer.open(QIODevice::ReadOnly);
            details = AudioProbe::probe(&buffer);
        } else {
            details = AudioProbe::probeFile(entry->filePath);
        }
    } else {
        qCInfo(lcSim) << "sim: no file for the detail request; answering format 0";
    }
    reply(ReplyBuilder::detail(details),
          QStringLiteral("detail: format %1, %2 Hz, %3 bits, %4 samples")
              .arg(details.format)
              .arg(details.sampleRate)
              .arg(details.bits)
              .arg(details.lengthSamples));
}

void SimulatorSession::startDownload(quint16 index)
{
    if (downloading) {
        qCInfo(lcSim) << "sim: a new download request replaces the one of" << downloadName;
        output->dropPendingData();
        endDownload();
    }
    const TreeEntry *entry = currentListing().find(index);
    if (!entry || entry->isFolder) {
        qCWarning(lcSim).noquote() << "sim: no file with index" << indexText(index) << "to download; sending nothing";
        return;
    }
    if (entry->isVirtual()) {
        downloadContent = entry->content;
    } else {
        downloadFile.setFileName(entry->filePath);
        if (!downloadFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            qCWarning(lcSim) << "sim: cannot open" << entry->filePath << downloadFile.errorString()
                             << "; sending nothing";
            return;
        }
    }
    downloadName = entry->name;
    fileBytes = qMin<qint64>(entry->size, MaxListedSize);
    // Large packets are sent from the file's pages (never past its real end).
    if (downloadFile.isOpen() && settings->chunkSize >= DirectReadChunk) {
        mappedBytes = qMin(downloadFile.size(), fileBytes);
        if (mappedBytes > 0)
            mapped = downloadFile.map(0, mappedBytes);
    }
    totalBytes = fileBytes + qMax<qint64>(settings->extraBytes, 0);
    producedBytes = 0;
    packetNumber = 0;
    shortReadReported = false;
    if (settings->extraBytes > 0)
        qCInfo(lcSim) << "sim: fault: sending" << settings->extraBytes << "bytes more than the listed size";
    if (settings->logExchanges)
        qCInfo(lcSim).noquote() << "sim: download of" << downloadName << fileBytes << "bytes";
    emit downloadStarted(downloadName, fileBytes);
    if (totalBytes == 0) {
        // Nothing to send: the recorder's data packets carry at least one byte.
        qCInfo(lcSim).noquote() << "sim:" << downloadName << "is empty; sending no data packet";
        endDownload();
        emit downloadFinished(0);
        return;
    }
    downloading = true;
    produceData();
}

void SimulatorSession::cancelDownload()
{
    if (downloading) {
        output->dropPendingData();
        const qint64 sent = producedBytes;
        endDownload();
        qCInfo(lcSim).noquote() << "sim: download of" << downloadName << "canceled after" << sent << "bytes";
        emit downloadCanceled(sent);
    }
    // Confirmed even when nothing runs: the client waits for it.
    reply(ReplyBuilder::command(CODE_CANCEL_DOWNLOAD), QStringLiteral("cancel confirmed"));
}

void SimulatorSession::endDownload()
{
    downloading = false;
    if (mapped)
        downloadFile.unmap(mapped);
    mapped = nullptr;
    mappedBytes = 0;
    downloadFile.close();
    downloadContent.clear();
}

// Keeps at most the send window queued; the output asks for more as the
// socket drains.
void SimulatorSession::produceData()
{
    if (listingPending)
        produceListing();
    // Data the kernel takes at once never queues up here, so the loop also
    // stops after a while to let the client's requests (a cancel) in.
    qint64 budget = YieldAfterBytes;
    while (downloading && !output->isStopped() && output->queuedBytes() < settings->sendWindow) {
        const qint64 before = producedBytes;
        produceBatch();
        budget -= producedBytes - before;
        if (budget <= 0 && downloading) {
            if (!continuationPosted) {
                continuationPosted = true;
                QTimer::singleShot(0, this, [this] {
                    continuationPosted = false;
                    produceData();
                });
            }
            return;
        }
    }
}

// Builds a run of data packets (one when traffic is shaped, so a cancel can
// still take back the ones not yet sent): one read of the file for the whole
// run, then header, payload and check value per packet.
void SimulatorSession::produceBatch()
{
    const int chunk = settings->chunkSize;
    if (mapped && !settings->foreignPackets && producedBytes + chunk <= mappedBytes && output->sendsDirectly()) {
        produceMappedBatch();
        return;
    }
    const int overhead = HEADER_SIZE + (settings->foreignPackets ? ReplyBuilder::ForeignPacketsSize : 0);
    const qint64 remaining = totalBytes - producedBytes;
    qint64 packets = 1;
    if (!settings->shapesTraffic())
        packets = qMax<qint64>(1, qMin(BatchBytes, settings->sendWindow) / (chunk + overhead));
    packets = qMin(packets, (remaining + chunk - 1) / chunk);
    const qint64 payloadBytes = qMin(packets * chunk, remaining);

    // Large packets of a file on disk are read straight into their place in
    // the batch; small ones (and virtual files) go through the stage.
    const bool direct = downloadFile.isOpen() && chunk >= DirectReadChunk;
    if (!direct)
        stagePayload(payloadBytes);
    const qint64 batchSize = payloadBytes + packets * overhead;
    if (batch.size() < batchSize)
        batch.resize(int(batchSize));
    const qint64 length = writeBatch(packets, direct);
    output->send(batch.constData(), int(length), true);
    finishIfAllSent();
}

// The next `payloadBytes` of the download into the stage. Missing file bytes
// and the extra-bytes fault are zeros.
void SimulatorSession::stagePayload(qint64 payloadBytes)
{
    if (stage.size() < payloadBytes)
        stage.resize(int(payloadBytes));
    const qint64 fromFile = qBound(qint64(0), fileBytes - producedBytes, payloadBytes);
    qint64 got = 0;
    if (fromFile > 0) {
        if (downloadFile.isOpen()) {
            if (downloadFile.pos() != producedBytes)
                downloadFile.seek(producedBytes);
            got = qMax<qint64>(0, downloadFile.read(stage.data(), fromFile));
        } else {
            got = qBound(qint64(0), qint64(downloadContent.size()) - producedBytes, fromFile);
            std::memcpy(stage.data(), downloadContent.constData() + producedBytes, size_t(got));
        }
        if (got < fromFile && !shortReadReported) {
            qCWarning(lcSim).noquote() << "sim:" << downloadName
                                       << "is shorter than listed; sending zeros for the rest";
            shortReadReported = true;
        }
    }
    if (got < payloadBytes)
        std::memset(stage.data() + got, 0, size_t(payloadBytes - got));
}

// Writes `packets` data packets from the produced position on into the batch,
// their payload read directly from the file or taken from the stage; returns
// the batch's length.
qint64 SimulatorSession::writeBatch(qint64 packets, bool direct)
{
    const int chunk = settings->chunkSize;
    char *out = batch.data();
    const char *payload = stage.constData();
    qint64 offset = producedBytes;
    for (qint64 i = 0; i < packets; ++i) {
        if (settings->foreignPackets) {
            ReplyBuilder::writeForeignPackets(out);
            out += ReplyBuilder::ForeignPacketsSize;
        }
        const int length = int(qMin<qint64>(chunk, totalBytes - offset));
        if (direct)
            readPayload(out + HEADER_SIZE, offset, length);
        else
            std::memcpy(out + HEADER_SIZE, payload, size_t(length));
        writeDataHeader(out, offset, out + HEADER_SIZE, length);
        out += HEADER_SIZE + length;
        if (!direct)
            payload += length;
        offset += length;
        ++packetNumber;
    }
    producedBytes = offset;
    return out - batch.constData();
}

// Ends the download once its last packet has been handed to the output.
void SimulatorSession::finishIfAllSent()
{
    if (producedBytes != totalBytes)
        return;
    endDownload();
    if (output->isStopped())
        return;
    if (settings->logExchanges)
        qCInfo(lcSim).noquote() << "sim: download of" << downloadName << "sent," << producedBytes << "bytes";
    emit downloadFinished(producedBytes);
}

// The header of the data packet at `offset` (its check value, the faults of
// the packet's number), written to `out`.
void SimulatorSession::writeDataHeader(char *out, qint64 offset, const char *payload, int length)
{
    quint16 check = quint16(payloadCheckValue(payload, length));
    quint32 offsetField = quint32(offset);
    quint16 lengthField = quint16(length);
    const bool faulty = packetNumber == settings->corruptCheckAt || packetNumber == settings->wrongOffsetAt
        || packetNumber == settings->wrongLengthAt;
    if (packetNumber == settings->corruptCheckAt) {
        qCInfo(lcSim) << "sim: fault: corrupting the check value of data packet" << packetNumber;
        ++check;
    }
    if (packetNumber == settings->wrongOffsetAt) {
        qCInfo(lcSim) << "sim: fault: wrong offset in data packet" << packetNumber;
        ++offsetField;
    }
    if (packetNumber == settings->wrongLengthAt) {
        qCInfo(lcSim) << "sim: fault: length field one short in data packet" << packetNumber;
        --lengthField;
    }
    ReplyBuilder::writeDataHeader(out, offsetField, check, lengthField);
    if (settings->logExchanges && (packetNumber == 0 || faulty || offset + length == totalBytes))
        logAnswer(out, QStringLiteral("data packet %1 of %2").arg(packetNumber).arg(downloadName));
}

// Whole packets of a mapped file, sent from the file's pages with their
// headers beside them: no copy of the payload in this process.
void SimulatorSession::produceMappedBatch()
{
    const int chunk = settings->chunkSize;
    qint64 packets = qMax<qint64>(1, qMin(BatchBytes, settings->sendWindow) / (chunk + HEADER_SIZE));
    packets = std::min({packets, MaxGatherPackets, (mappedBytes - producedBytes) / chunk});
    if (headers.size() < packets * HEADER_SIZE)
        headers.resize(int(packets * HEADER_SIZE));
    iovec parts[2 * MaxGatherPackets];
    qint64 offset = producedBytes;
    for (qint64 i = 0; i < packets; ++i) {
        char *header = headers.data() + i * HEADER_SIZE;
        const char *payload = reinterpret_cast<const char *>(mapped) + offset;
        writeDataHeader(header, offset, payload, chunk);
        parts[2 * i] = {header, size_t(HEADER_SIZE)};
        parts[2 * i + 1] = {const_cast<char *>(payload), size_t(chunk)};
        offset += chunk;
        ++packetNumber;
    }
    producedBytes = offset;
    output->sendGathered(parts, int(2 * packets));
    finishIfAllSent();
}

// One packet's payload read from the file into `out`; zeros past its end.
void SimulatorSession::readPayload(char *out, qint64 offset, int length)
{
    if (downloadFile.pos() != offset)
        downloadFile.seek(offset);
    const qint64 want = qBound(qint64(0), fileBytes - offset, qint64(length));
    const qint64 got = want > 0 ? qMax<qint64>(0, downloadFile.read(out, want)) : 0;
    if (got < want && !shortReadReported) {
        qCWarning(lcSim).noquote() << "sim:" << downloadName << "is shorter than listed; sending zeros for the rest";
        shortReadReported = true;
    }
    if (got < length)
        std::memset(out + got, 0, size_t(length - got));
}

void SimulatorSession::reply(const QByteArray &packet, const QString &what)
{
    if (settings->foreignPackets) {
        char foreign[ReplyBuilder::ForeignPacketsSize];
        ReplyBuilder::writeForeignPackets(foreign);
        output->send(foreign, sizeof foreign, false);
    }
    if (settings->logExchanges)
        logAnswer(packet.constData(), what);
    output->send(packet, false);
}

void SimulatorSession::logAnswer(const char *header, const QString &what) const
{
    qCInfo(lcSim).noquote() << QStringLiteral("sim: -> %1  %2").arg(hexText(header), what);
}
