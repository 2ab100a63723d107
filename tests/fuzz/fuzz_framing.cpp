// Framing and parsing of whatever bytes the recorder sends: the stream goes
// over a loopback connection into DeviceNetConnection, in chunks the input
// chooses. Every queued command must be the packet the framing rule cuts
// there, every packet without the magic a parse error, and every ranged read
// of every command must stay in bounds and read the right bytes.
#include <QTcpSocket>
#include <QtEndian>
#include <climits>
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"

using namespace fuzz;

namespace {

QString hexHeader(const QByteArray &packet)
{
    return QString::fromLatin1(packet.left(HEADER_SIZE).toHex(' ') + ' ');
}

// Every accessor of one command against the packet it came from; with
// `watchErrors` also whether each read reports its range error. (A command
// that was connected to is not reused by the link, so only some are.)
void exercise(ZVCommand *command, const QByteArray &packet, bool watchErrors)
{
    const QByteArray head = packet.left(HEADER_SIZE);
    const QByteArray payload = packet.mid(HEADER_SIZE);
    check(command->header() == head, "header differs from the packet");
    check(command->payload() == payload, "payload differs from the packet");
    check(command->payloadSize() == payload.size() && command->isValid(), "payload size or validity");
    const quint8 kind = quint8(head.at(KIND_OFFSET));
    const bool known = kind == 0x10 || kind == 0x20 || kind == 0x30 || kind == 0x40 || kind == 0xF0;
    check(command->kind() == (known ? kind : 0), "kind", hexHeader(packet));
    check(ZVCommand::headerHexText(packet.constData()) == hexHeader(packet), "header hex text");
    check(command->crc() == (payload.isEmpty() ? 0xFFFFFFFFu : byteSumComplement(payload)), "check value");

    int errors = 0;
    QMetaObject::Connection counting;
    if (watchErrors)
        counting = QObject::connect(command, &ZVCommand::error, command, [&errors] { ++errors; });
    const auto reported = [&](int before, bool want) { return !watchErrors || (errors > before) == want; };

    // Reads of width 1, 2 and 4 around both ends of the header or payload.
    const auto reads = [&](const QByteArray &bytes, const char *what, auto read) {
        const int n = bytes.size();
        for (int width : {1, 2, 4}) {
            for (int index : {-1, 0, 1, n / 2, n - 4, n - 3, n - 2, n - 1, n, n + 1, INT_MAX - 1, INT_MAX, INT_MIN}) {
                const int before = errors;
                const qint64 want = bigEndianAt(bytes, index, width);
                check(read(width, index) == (want < 0 ? 0 : quint32(want)) && reported(before, want < 0), what,
                      QStringLiteral("width %1 index %2 of %3").arg(width).arg(index).arg(n));
            }
        }
    };
    reads(head, "header read", [command](int width, int index) {
        return width == 1 ? command->headerByte(index)
            : width == 2  ? command->headerWord(index)
                          : command->headerLong(index);
    });
    reads(payload, "payload read", [command](int width, int index) {
        return width == 1 ? command->payloadByte(index)
            : width == 2  ? command->payloadWord(index)
                          : command->payloadLong(index);
    });
    const int n = payload.size();
    const QList<QPair<int, int>> ranges{{0, n},      {1, n - 1},         {n, 0},       {n, 1},       {-1, 2},
                                        {0, -1},     {n / 2, n - n / 2}, {INT_MAX, 1}, {1, INT_MAX}, {INT_MAX, INT_MAX},
                                        {INT_MIN, 2}};
    for (const auto &range : ranges) {
        const int before = errors;
        const QString got = command->payloadString(range.first, range.second);
        const bool inside = range.first >= 0 && range.second >= 0 && qint64(range.first) + range.second <= n;
        check(got == (inside ? utf16le(payload.mid(range.first, range.second)) : QString())
                  && reported(before, !inside),
              "payload string", QStringLiteral("offset %1 length %2 of %3").arg(range.first).arg(range.second).arg(n));
    }
    const QByteArray pattern = payload.mid(n / 3, 2).isEmpty() ? QByteArray::fromHex("000d") : payload.mid(n / 3, 2);
    for (int from : {-3, 0, 1, n - 1, n, n + 1}) {
        const int at = command->payloadIndexOf(pattern, from);
        check(at == -1 || payload.mid(at, pattern.size()) == pattern, "pattern search found no pattern");
    }
    if (watchErrors)
        QObject::disconnect(counting);
}

// How many bytes the socket holds in the kernel (`request` FIONREAD: to
// read, SIOCOUTQNSD: not yet sent).
int socketQueue(QTcpSocket *socket, unsigned long request)
{
    int bytes = 0;
    return ::ioctl(int(socket->socketDescriptor()), request, &bytes) == 0 ? bytes : 0;
}

constexpr int MaxChunks = 32;

class Harness : public QObject
{
public:
    Harness()
        : peer(ZV_FUZZ_ADDRESS)
    {
        connect(&connection, &DeviceNetConnection::newCommandRecieved, this, &Harness::commandReceived);
        connect(&connection, &DeviceNetConnection::networkError, this, &Harness::networkError);
        connect(&connection, &DeviceNetConnection::networkClosed, this, [] { fail("the link closed"); });
        connection.connectToHost(peer.address(), 8010);
        peerSocket = peer.waitForPeer();
        waitFor([this] { return connection.isConnected(); }, "connection");
        linkSocket = connection.findChild<QTcpSocket *>();
        check(linkSocket, "the connection has no socket");
    }

    void run(Reader &in)
    {
        const quint8 plan = in.u8();
        drain = FramingDrain(plan & 3);
        QList<int> chunks;
        for (int k = plan >> 2; k > 0; --k)
            chunks << framingChunkSize(in.u8());
        const QByteArray stream = in.rest();

        StreamModel model;
        expected.clear();
        kept.clear();
        received = 0;
        int pos = 0;
        for (int i = 0; pos < stream.size(); ++i) {
            // At most MaxChunks writes, the last one takes the rest: each
            // costs a round trip through the event loop.
            const int size = chunks.isEmpty() || i == MaxChunks - 1 ? stream.size() : chunks.at(i % chunks.size());
            const QByteArray chunk = stream.mid(pos, size);
            pos += chunk.size();
            expected += model.feed(chunk);
            peer.send(chunk);
            waitTaken();
        }
        // Completes a packet left open, so the next input starts on a boundary.
        const QByteArray filler = model.filler();
        expected += model.feed(filler);
        peer.send(filler);
        waitFor([this] { return expected.isEmpty(); }, "every framed packet");

        check(connection.commandCount() == kept.size(), "queue length",
              QStringLiteral("%1 queued, %2 kept").arg(connection.commandCount()).arg(kept.size()));
        while (!connection.isCommandQueueEmpty())
            takeOldest();
        connection.removeFirstCommand(); // on an empty queue: nothing
    }

private:
    // Waits until the link's socket took everything sent so far, so the
    // next chunk arrives as a read of its own.
    void waitTaken()
    {
        QElapsedTimer clock;
        clock.start();
        while (peerSocket->bytesToWrite() > 0 || socketQueue(peerSocket, SIOCOUTQNSD) > 0
               || socketQueue(linkSocket, FIONREAD) > 0 || linkSocket->bytesAvailable() > 0) {
            if (clock.elapsed() > 10000)
                fail("hang: the program's socket does not take the bytes");
            peerSocket->flush();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }

    // `kept` mirrors the queue: the new command is last.
    void commandReceived()
    {
        check(!expected.isEmpty(), "a command the stream does not hold");
        const QByteArray packet = expected.takeFirst();
        check(packet.startsWith("ZV"), "a packet without the magic was queued", hexHeader(packet));
        kept << packet;
        ++received;
        check(connection.commandCount() == kept.size(), "the queue lost or gained commands");
        switch (drain) {
        case DrainEach:
            takeOldest();
            break;
        case DrainAtEnd:
            break;
        case DrainBySend:
            exercise(connection.firstCommand(), kept.first(), ++exercised % 2);
            connection.sendPacket(QByteArray(HEADER_SIZE - 1, 'Z')); // too short: not sent, queue kept
            check(connection.commandCount() == kept.size(), "a refused send emptied the queue");
            // A request empties the queue: the next command's count check
            // sees one that does not.
            connection.sendPacket(header(KIND_COMMAND, CODE_FILE_LIST));
            kept.clear();
            break;
        case DrainEveryOther:
            if (received % 2)
                takeOldest();
            break;
        }
    }

    void takeOldest()
    {
        exercise(connection.firstCommand(), kept.takeFirst(), ++exercised % 2);
        connection.removeFirstCommand();
    }

    void networkError(AppErrorCode code)
    {
        if (code == NetworkPacketTooShort)
            return;
        check(code == NetworkPacketParseError, "unexpected link error", QString::number(code));
        check(!expected.isEmpty(), "a parse error for bytes the stream does not hold");
        const QByteArray packet = expected.takeFirst();
        check(!packet.startsWith("ZV"), "a packet with the magic was refused", hexHeader(packet));
    }

    LoopbackPeer peer;
    DeviceNetConnection connection;
    QTcpSocket *peerSocket = nullptr;
    QTcpSocket *linkSocket = nullptr;
    FramingDrain drain = DrainEach;
    QList<QByteArray> expected; // framed by the model, not yet seen from the link
    QList<QByteArray> kept;     // left in the queue, oldest first
    int received = 0;
    int exercised = 0;
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
