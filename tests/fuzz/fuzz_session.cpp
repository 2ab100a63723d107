// A whole session with a real controller on its worker thread: the input is
// a script in which the fuzzer plays the recorder over loopback (listings,
// data, details, status, notices, raw bytes) and the window (direct calls
// and queued requests). One controller and connection serve every input; each
// input starts from a cancel and a fresh listing. Checked: no crash, hang or
// write outside the download folder (names and progress are the download
// target's to check), consistent answers to the window, and for each detail
// reply (code 0x23) exactly its outcome: the four big-endian
// fields of a 16-byte payload with a known format, error 9 with an unknown
// format, error 8 with any other size.
#include <QThread>
#include <QtEndian>

#include "base/downloadfileinfo.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "protocol/zvcommand.h"
#include "recorder/zvcontroller.h"

using namespace fuzz;

namespace {

QByteArray statusPacket(quint16 item, quint16 value)
{
    QByteArray h = header(KIND_STATUS, 0);
    qToBigEndian<quint16>(item, h.data() + CODE_OFFSET);
    qToBigEndian<quint16>(value, h.data() + PARAM_OFFSET);
    return h;
}

// What the controller must report for a detail reply with this payload.
QList<quint32> detailOutcome(const QByteArray &payload)
{
    const auto word = [&payload](int at) { return quint32(bigEndianAt(payload, at, 4)); };
    if (payload.size() != DETAIL_PAYLOAD_SIZE)
        return {quint32(FileDetailIllegalPacketSize), quint32(payload.size()), 0};
    if (word(0) < 1 || word(0) > 3)
        return {quint32(FileDetailUnknownFileFormat), word(0), 0};
    return {0xFFFF, word(0), word(4), word(8), word(12)};
}

class Harness : public QObject
{
public:
    Harness()
        : peer(ZV_FUZZ_ADDRESS)
        , controller(new ZVController)
    {
        controller->moveToThread(&worker);
        connect(&worker, &QThread::started, controller, &ZVController::doWork);
        connect(controller, &ZVController::networkConnected, this, [this] { connected = true; });
        connect(controller, &ZVController::renewalRecodeMode, this, [this] { ++modeSignals; });
        connect(controller, &ZVController::downloadStarted, this, [this](const QString &name, qulonglong size) {
            current = name;
            currentSize = qint64(size);
            progress = 0;
        });
        connect(controller, &ZVController::downloadProgress, this,
                [this](qulonglong bytes) { progress = qint64(bytes); });
        connect(controller, &ZVController::getFileDetailFinished, this,
                [this](ZVFileFormat format, uint sample, uint bits, uint fs) {
                    detailReported({0xFFFF, quint32(format), sample, bits, fs});
                });
        connect(controller, &ZVController::error, this, [this](AppErrorCode code, int param, int param2) {
            if (code == FileDetailIllegalPacketSize || code == FileDetailUnknownFileFormat)
                detailReported({quint32(code), quint32(param), quint32(param2)});
        });
        controller->setSSID(peer.address());
        worker.start();
        peer.waitForPeer();
        waitFor([this] { return connected; }, "the controller's connection");
    }

    void run(Reader &in, bool longPauseAllowed)
    {
        reset();
        longPauses = longPauseAllowed ? 1 : 0;
        while (!in.atEnd()) {
            const quint8 op = in.u8();
            if (op == SessionPauseNotice) {
                send(commandPacket((in.u8() & 1) ? CODE_FILE_DETAIL : CODE_LIST_INVALIDATED, QByteArray()));
                continue;
            }
            switch (op % 15) {
            case SessionListing: {
                const quint8 flags = in.u8();
                const quint8 number = (flags & 1) ? in.u8() : sequence;
                const quint16 total = in.u16();
                send(commandPacket(CODE_FILE_LIST, in.bytes(in.u16()), number, total));
                break;
            }
            case SessionData:
                sync();
                send(dataPacket(in, quint32(progress)));
                break;
            case SessionDetail:
                send(commandPacket(CODE_FILE_DETAIL_DATA, in.bytes(in.u16())));
                break;
            case SessionStatus: {
                const quint16 item = in.u16();
                send(statusPacket(item, in.u16()));
                break;
            }
            case SessionCanceled:
                send(commandPacket(CODE_CANCEL_DOWNLOAD, QByteArray()));
                break;
            case SessionRaw:
                send(in.bytes(in.u16()));
                break;
            case SessionOtherCode: {
                quint8 code = in.u8();
                if (code == CODE_LIST_INVALIDATED || code == CODE_FILE_DETAIL)
                    code = 0x7E;
                send(commandPacket(code, in.bytes(in.u16())));
                break;
            }
            case SessionReadList:
                readList();
                break;
            case SessionSetTargets:
                setTargets(in);
                break;
            case SessionSetOption:
                sync();
                controller->setSameOption(SameNameOption(in.u8() % 4));
                break;
            case SessionDownload:
                call([this] { controller->requestDownloadFiles(); });
                break;
            case SessionCancel:
                call([this] { controller->cancelDownload(); });
                break;
            case SessionRelist:
                call([this] { controller->requestNewFileList(); });
                sequence = 0;
                break;
            case SessionRequest: {
                const quint8 which = in.u8() % 3;
                const int index = qint16(in.u16());
                call([this, which, index] {
                    if (which == 0)
                        controller->requestFileDetail(index);
                    else if (which == 1)
                        controller->requestMoveFolder(index);
                    else
                        controller->requestChangeRecordMode(ZVRecordMode(index & 1));
                });
                break;
            }
            case SessionBarrier:
                sync();
                break;
            }
        }
        sync();
        check(details.isEmpty(), "a detail reply without its outcome");
        area.checkNothingOutside();
    }

private:
    // Every input starts with no download running, an empty list and no
    // targets, the overwrite rule and an empty download folder.
    void reset()
    {
        call([this] {
            controller->cancelDownload();
            controller->requestNewFileList();
        });
        area.clean();
        controller->setSameOption(SaveOverwrite);
        controller->setDownloadFiles(area.path(), QList<int>());
        sequence = 0;
        current = QString();
        currentSize = progress = 0;
        pauses = 1;
        details.clear();
    }

    void detailReported(const QList<quint32> &outcome)
    {
        check(!details.isEmpty() && details.takeFirst() == outcome, "detail outcome");
    }

    template<typename F>
    void call(F request)
    {
        sync();
        QMetaObject::invokeMethod(controller, request, Qt::BlockingQueuedConnection);
        dirty = true; // its signals are still on their way
    }

    // Waits until the controller handled everything sent: a record-mode
    // status always gives a signal, and signals keep their order.
    void sync()
    {
        if (!dirty)
            return;
        peer.send(statusPacket(STATUS_RECORD_MODE, 0));
        ++statusSent;
        waitFor([this] { return modeSignals == statusSent; }, "the controller to handle the packets");
        dirty = false;
    }

    // Sends bytes as the recorder, completed to a packet boundary. The
    // controller pauses 1 s on a 0x12 or 0x21 and 200 ms after a file when
    // more follow: bytes that could cost more pauses than the input has left
    // are not sent (see fuzzinputs.h).
    void send(QByteArray bytes)
    {
        sync();
        StreamModel model;
        QList<QByteArray> packets = model.feed(bytes);
        const QByteArray filler = model.filler();
        packets += model.feed(filler);
        bytes += filler;

        int cost = 0;
        int longCost = 0;
        qint64 at = progress;
        bool known = !current.isNull();
        quint8 number = sequence;
        int status = 0;
        QList<QList<quint32>> replies;
        for (const QByteArray &packet : packets) {
            if (!packet.startsWith("ZV"))
                continue;
            const quint8 kind = quint8(packet.at(KIND_OFFSET));
            const quint8 code = quint8(packet.at(CODE_OFFSET));
            if (kind == KIND_STATUS && qFromBigEndian<quint16>(packet.constData() + CODE_OFFSET) == STATUS_RECORD_MODE)
                ++status;
            if (kind != KIND_COMMAND)
                continue;
            if (code == CODE_LIST_INVALIDATED || code == CODE_FILE_DETAIL)
                ++longCost;
            if (code == CODE_FILE_DETAIL_DATA)
                replies << detailOutcome(packet.mid(HEADER_SIZE));
            if (code == CODE_LIST_INVALIDATED
                || (code == CODE_FILE_LIST && quint8(packet.at(SEQUENCE_OFFSET)) != number))
                number = 0;
            else if (code == CODE_FILE_LIST)
                ++number;
            if (code != CODE_DOWNLOAD_DATA)
                continue;
            const QByteArray payload = packet.mid(HEADER_SIZE);
            const quint16 length = qFromBigEndian<quint16>(packet.constData() + LENGTH_OFFSET);
            const quint32 offset = qFromBigEndian<quint32>(packet.constData() + DATA_OFFSET_OFFSET);
            if (length != payload.size()
                || qFromBigEndian<quint16>(packet.constData() + CHECK_OFFSET) != quint16(byteSumComplement(payload)))
                continue;
            if (!known) {
                ++cost; // the file after a completed one: size unknown here
            } else if (offset == at && offset + qint64(length) <= currentSize) {
                at = offset + length;
                if (at == currentSize && currentSize > 0) {
                    ++cost;
                    known = false;
                }
            }
        }
        if (cost > pauses || longCost > longPauses)
            return;
        pauses -= cost;
        longPauses -= longCost;
        sequence = number;
        statusSent += status;
        details += replies;
        peer.send(bytes);
        dirty = true;
    }

    // The window's reads, possibly while the worker still handles packets.
    void readList()
    {
        const bool settled = !dirty;
        const int count = controller->getFileCount();
        DownloadFileInfo info;
        check(!controller->getFileInfo(-1, &info) && !controller->getFileInfo(INT_MAX, &info), "row out of range");
        for (int row = 0; row <= count; ++row) {
            const bool got = controller->getFileInfo(row, &info);
            if (settled)
                check(got == (row < count), "row count and rows disagree");
            if (got)
                check(info.isFolder == bool(info.index & FOLDER_INDEX_BIT), "folder bit");
        }
    }

    void setTargets(Reader &in)
    {
        sync();
        const int count = controller->getFileCount();
        QList<int> indexes;
        for (int n = in.u8() % 9; n > 0; --n) {
            const quint8 row = in.u8();
            DownloadFileInfo info;
            if (row == RawTargetIndex)
                indexes << qint16(in.u16());
            else if (count > 0 && controller->getFileInfo(row % count, &info))
                indexes << info.index;
            else
                indexes << row;
        }
        controller->setDownloadFiles(area.path(), indexes);
    }

    ScratchArea area;
    LoopbackPeer peer;
    QThread worker;
    ZVController *controller;
    bool connected = false;
    bool dirty = true;
    int modeSignals = 0;
    int statusSent = 0;
    quint8 sequence = 0; // the listing packet number the controller expects
    QString current;     // the file being received, as last announced
    qint64 currentSize = 0;
    qint64 progress = 0;
    int pauses = 1;                // completed files with more to come: 200 ms each
    int longPauses = 0;            // 0x12 and 0x21: 1 s each
    QList<QList<quint32>> details; // outcomes of the detail replies sent, not yet reported
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    static Harness *harness = new Harness;
    Reader in(data, size);
    harness->run(in, sessionLongPauseAllowed(data, size));
    return 0;
}
