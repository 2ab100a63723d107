// A whole session with a real controller on its worker thread: the input is
// a script in which the fuzzer plays the recorder over loopback (any bytes)
// and the window (direct calls and queued requests). One controller and
// connection serve every input; each input starts from a cancel and a fresh
// listing. Checked: no crash, hang or write outside the download folder
// (names, packets and same-name rules are the download target's to check),
// rows out of range refused to the window, and for each detail reply (code
// 0x23) exactly its outcome: the four big-endian fields of a 16-byte payload
// with a known format, error 9 with an unknown format, error 8 with any other
// size.
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtEndian>
#include <climits>

#include "base/downloadfileinfo.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "protocol/zvcommand.h"
#include "recorder/zvcontroller.h"

using namespace fuzz;

namespace {

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
        : controller(new ZVController)
    {
        if (!server.listen(QHostAddress(QStringLiteral(ZV_FUZZ_ADDRESS)), ZVController::Port))
            fail("cannot listen on " ZV_FUZZ_ADDRESS, server.errorString());
        controller->moveToThread(&worker);
        connect(&worker, &QThread::started, controller, &ZVController::doWork);
        connect(controller, &ZVController::renewalRecodeMode, this, [this] { ++modeSignals; });
        connect(controller, &ZVController::downloadStarted, this,
                [this](const QString &, qulonglong size) { currentSize = qint64(size); });
        connect(controller, &ZVController::getFileDetailFinished, this,
                [this](ZVFileFormat format, uint sample, uint bits, uint fs) {
                    detailReported({0xFFFF, quint32(format), sample, bits, fs});
                });
        connect(controller, &ZVController::error, this, [this](AppErrorCode code, int param, int param2) {
            if (code == FileDetailIllegalPacketSize || code == FileDetailUnknownFileFormat)
                detailReported({quint32(code), quint32(param), quint32(param2)});
        });
        controller->setSSID(QStringLiteral(ZV_FUZZ_ADDRESS));
        worker.start();
        waitFor([this] { return server.hasPendingConnections(); }, "the controller's connection");
        peer = server.nextPendingConnection();
        // Small writes go out at once; what the program sends is dropped.
        peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(peer, &QTcpSocket::readyRead, peer, [this] { peer->readAll(); });
    }

    void run(Reader &in)
    {
        reset();
        while (!in.atEnd()) {
            switch (in.u8() % 6) {
            case SessionRaw:
                send(in.bytes(in.u16()));
                break;
            case SessionReadList: {
                DownloadFileInfo info; // no row beyond either end
                check(!controller->getFileInfo(-1, &info) && !controller->getFileInfo(INT_MAX, &info),
                      "row out of range");
                break;
            }
            case SessionSetTargets:
                setTargets(in);
                break;
            case SessionDownload:
                call([this] { controller->requestDownloadFiles(); });
                break;
            case SessionCancel:
                call([this] { controller->cancelDownload(); });
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
        currentSize = -1;
        pauses = 1;
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
        peer->write(header(KIND_STATUS, STATUS_RECORD_MODE)); // music mode
        ++statusSent;
        waitFor([this] { return modeSignals == statusSent; }, "the controller to handle the packets");
        dirty = false;
    }

    // Sends bytes as the recorder, completed to a packet boundary. The
    // controller pauses 200 ms after a file when more follow: bytes that
    // could cost more pauses than the input has left are not sent.
    void send(QByteArray bytes)
    {
        sync();
        StreamModel model;
        QList<QByteArray> packets = model.feed(bytes);
        const QByteArray filler = model.filler();
        packets += model.feed(filler);
        bytes += filler;

        int cost = 0;
        bool known = currentSize >= 0;
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
            if (code == CODE_FILE_DETAIL_DATA)
                replies << detailOutcome(packet.mid(HEADER_SIZE));
            if (code != CODE_DOWNLOAD_DATA)
                continue;
            const QByteArray payload = packet.mid(HEADER_SIZE);
            const quint16 length = qFromBigEndian<quint16>(packet.constData() + LENGTH_OFFSET);
            const qint64 end = qFromBigEndian<quint32>(packet.constData() + DATA_OFFSET_OFFSET) + qint64(length);
            const bool sound = length == payload.size()
                && qFromBigEndian<quint16>(packet.constData() + CHECK_OFFSET) == quint16(byteSumComplement(payload));
            // Any sound packet that ends where the file does may complete it;
            // the sizes of the files after it are not known here.
            if (sound && (!known || end == currentSize)) {
                ++cost;
                known = false;
            }
        }
        if (cost > pauses)
            return;
        pauses -= cost;
        statusSent += status;
        details += replies;
        peer->write(bytes);
        dirty = true;
    }

    void setTargets(Reader &in)
    {
        sync();
        const int count = controller->getFileCount();
        QList<int> indexes;
        for (int n = in.u8() % 9; n > 0; --n) {
            const quint8 row = in.u8();
            DownloadFileInfo info;
            const bool listed = count > 0 && controller->getFileInfo(row % count, &info);
            indexes << (listed ? info.index : row);
        }
        controller->setDownloadFiles(area.path(), indexes);
    }

    ScratchArea area;
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QThread worker;
    ZVController *controller;
    bool dirty = true;
    int modeSignals = 0;
    int statusSent = 0;
    qint64 currentSize = -1;       // of the file being received, as last announced
    int pauses = 1;                // completed files with more to come: 200 ms each
    QList<QList<quint32>> details; // outcomes of the detail replies sent, not yet reported
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    static Harness *harness = new Harness;
    Reader in(data, size);
    harness->run(in);
    return 0;
}
