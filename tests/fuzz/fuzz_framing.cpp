// Framing and parsing of whatever bytes the recorder sends: the stream goes
// into a PacketFramer in chunks the input chooses, each chunk followed by the
// turns of framing it allows, and every packet must be the one the framing
// rule cuts there. The same chunks then go over loopback into a
// DeviceNetConnection that leaves its commands queued while its buffer moves
// on: at the end they must be the packets with the magic, whole, and every
// ranged read of every command must stay in bounds, read the right bytes and
// report a read beyond the end.
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <algorithm>
#include <climits>

#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "net/devicenetconnection.h"
#include "net/packetframer.h"
#include "protocol/zvcommand.h"

using namespace fuzz;

namespace {

QString hexHeader(const QByteArray &packet)
{
    return QString::fromLatin1(packet.left(HEADER_SIZE).toHex(' ') + ' ');
}

// Every accessor of one command against the packet it came from.
void exercise(ZVCommand &command, const QByteArray &packet)
{
    const QByteArray head = packet.left(HEADER_SIZE);
    const QByteArray payload = packet.mid(HEADER_SIZE);
    check(command.header() == head, "header differs from the packet");
    check(command.payload() == payload, "payload differs from the packet");
    check(command.payloadSize() == payload.size() && command.isValid(), "payload size or validity");
    const quint8 kind = quint8(head.at(KIND_OFFSET));
    const bool known = kind == 0x10 || kind == 0x20 || kind == 0x30 || kind == 0x40 || kind == 0xF0;
    check(command.kind() == (known ? kind : 0), "kind", hexHeader(packet));
    check(ZVCommand::headerHexText(packet.constData()) == hexHeader(packet), "header hex text");
    check(command.crc() == (payload.isEmpty() ? 0xFFFFFFFFu : byteSumComplement(payload)), "check value");

    int errors = 0;
    QObject::connect(&command, &ZVCommand::error, [&errors] { ++errors; });

    // Reads of width 1, 2 and 4 around both ends of the header or payload.
    const auto reads = [&](const QByteArray &bytes, const char *what, auto read) {
        const int n = bytes.size();
        for (int width : {1, 2, 4}) {
            for (int index : {-1, 0, 1, n / 2, n - 4, n - 3, n - 2, n - 1, n, n + 1, INT_MAX - 1, INT_MAX, INT_MIN}) {
                const int before = errors;
                const qint64 want = bigEndianAt(bytes, index, width);
                check(read(width, index) == (want < 0 ? 0 : quint32(want)) && (errors > before) == (want < 0), what,
                      QStringLiteral("width %1 index %2 of %3").arg(width).arg(index).arg(n));
            }
        }
    };
    reads(head, "header read", [&command](int width, int index) {
        return width == 1 ? command.headerByte(index)
            : width == 2  ? command.headerWord(index)
                          : command.headerLong(index);
    });
    reads(payload, "payload read", [&command](int width, int index) {
        return width == 1 ? command.payloadByte(index)
            : width == 2  ? command.payloadWord(index)
                          : command.payloadLong(index);
    });
    const int n = payload.size();
    const QList<QPair<int, int>> ranges{{0, n},      {1, n - 1},         {n, 0},       {n, 1},       {-1, 2},
                                        {0, -1},     {n / 2, n - n / 2}, {INT_MAX, 1}, {1, INT_MAX}, {INT_MAX, INT_MAX},
                                        {INT_MIN, 2}};
    for (const auto &range : ranges) {
        const int before = errors;
        const QString got = command.payloadString(range.first, range.second);
        const bool inside = range.first >= 0 && range.second >= 0 && qint64(range.first) + range.second <= n;
        check(got == (inside ? utf16le(payload.mid(range.first, range.second)) : QString())
                  && (errors > before) == !inside,
              "payload string", QStringLiteral("offset %1 length %2 of %3").arg(range.first).arg(range.second).arg(n));
    }
}

// Frames what the framer holds, as the link does after a read: turns until
// it needs more bytes. The packets must be `expected`, in order.
void frame(PacketFramer &framer, QList<QByteArray> expected)
{
    PacketFramer::Packet packet;
    framer.startTurn();
    for (;;) {
        const PacketFramer::Step step = framer.next(&packet);
        if (step == PacketFramer::Step::TurnOver) {
            framer.startTurn();
            continue;
        }
        if (step != PacketFramer::Step::Packet)
            break;
        const QByteArray bytes(packet.data, packet.length);
        check(!expected.isEmpty() && bytes == expected.takeFirst(), "a packet the stream does not hold",
              hexHeader(bytes));
    }
    check(expected.isEmpty(), "a packet the framer did not cut", QString::number(expected.size()));
    framer.keepTail();
}

class Link
{
public:
    Link()
    {
        const QString address = QStringLiteral(ZV_FUZZ_ADDRESS);
        check(server.listen(QHostAddress(address), 8010), "cannot listen on", address);
        connection.connectToHost(address, 8010);
        waitFor([this] { return server.hasPendingConnections() && connection.isConnected(); }, "the link");
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [this] { peer->readAll(); });
    }

    // The packets without the magic are refused, the others stay queued
    // until every chunk is in; a packet too short to send changes nothing,
    // a request drops what is still queued.
    void run(const QList<QByteArray> &chunks, QList<QByteArray> packets)
    {
        for (const QByteArray &chunk : chunks) {
            peer->write(chunk);
            peer->flush();
            QCoreApplication::processEvents();
        }
        packets.erase(std::remove_if(packets.begin(), packets.end(), [](auto &p) { return !p.startsWith("ZV"); }),
                      packets.end());
        waitFor([&] { return connection.commandCount() >= packets.size(); }, "every packet queued");
        connection.sendPacket(QByteArray(HEADER_SIZE - 1, 'Z'));
        check(connection.commandCount() == packets.size(), "queue length");
        for (const QByteArray &packet : packets) {
            exercise(*connection.firstCommand(), packet);
            if (connection.commandCount() > 1)
                connection.removeFirstCommand();
        }
        connection.sendPacket(header(KIND_COMMAND, CODE_FILE_LIST));
        check(connection.isCommandQueueEmpty(), "a request left commands queued");
    }

private:
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    DeviceNetConnection connection;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    Reader in(data, size);
    const quint8 plan = in.u8();
    QList<int> sizes;
    for (int k = plan >> 2; k > 0; --k)
        sizes << framingChunkSize(in.u8());
    const QByteArray stream = in.rest();

    PacketFramer framer;
    StreamModel model;
    QList<QByteArray> written;
    QList<QByteArray> packets;
    for (int i = 0, pos = 0; pos < stream.size(); ++i) {
        written << stream.mid(pos, sizes.isEmpty() ? stream.size() : sizes.at(i % sizes.size()));
        pos += written.last().size();
        framer.append(written.last().constData(), written.last().size());
        const QList<QByteArray> cut = model.feed(written.last());
        frame(framer, cut);
        packets += cut;
    }
    // The link's stream ends on a packet boundary, for the next input.
    written << model.filler();
    packets += model.feed(written.last());
    static Link *link = new Link;
    link->run(written, packets);
    return 0;
}
