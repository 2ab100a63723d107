// Cutting a byte stream into packets, without a socket: bytes are appended in
// the chunks a row gives, each chunk followed by one turn of framing.
#include <QtEndian>
#include <QtTest>

#include "net/packetframer.h"
#include "protocol/zvcommand.h"

namespace {
QByteArray makePacket(quint8 kind, quint8 code, quint16 lengthField, int payloadSize = 0)
{
    QByteArray bytes(HEADER_SIZE, '\0');
    bytes[0] = MAGIC_0;
    bytes[1] = MAGIC_1;
    bytes[KIND_OFFSET] = char(kind);
    bytes[CODE_OFFSET] = char(code);
    qToBigEndian(lengthField, bytes.data() + LENGTH_OFFSET);
    for (int i = 0; i < payloadSize; ++i)
        bytes += char((i * 31 + kind) & 0xFF);
    return bytes;
}

// What ended a turn, and the bytes it left unframed: "divided 20",
// "need-header 10", "turn-over 42".
struct Turn
{
    QList<QByteArray> packets;
    QString end;
};

Turn frameOneTurn(PacketFramer &framer)
{
    Turn turn;
    framer.startTurn();
    PacketFramer::Packet packet;
    PacketFramer::Step step;
    while ((step = framer.next(&packet)) == PacketFramer::Step::Packet)
        turn.packets << QByteArray(packet.data, packet.length);
    if (step == PacketFramer::Step::TurnOver)
        turn.end = QStringLiteral("turn-over %1").arg(framer.unframedSize());
    else if (step == PacketFramer::Step::Divided)
        turn.end = QStringLiteral("divided %1").arg(framer.keepTail());
    else if (step == PacketFramer::Step::NeedHeader)
        turn.end = QStringLiteral("need-header %1").arg(framer.keepTail());
    else
        qFatal("unknown framing step %d", int(step));
    return turn;
}
} // namespace

class tst_PacketFramer : public QObject
{
    Q_OBJECT
private slots:
    void chunks_data();
    void chunks();
    void budget_data();
    void budget();
    void fullBufferTakesNoMoreUntilFramed();
    void clearForgetsAPartialPacket();
};

void tst_PacketFramer::chunks_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("chunkSizes"); // none: the whole stream at once
    QTest::addColumn<QList<int>>("packetLengths");
    QTest::addColumn<QStringList>("turnEnds");

    const QByteArray p30 = makePacket(KIND_COMMAND, CODE_FILE_LIST, 16, 16);
    const QByteArray bare = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
    QStringList headerByHeader;
    for (int n = 1; n < HEADER_SIZE; ++n)
        headerByHeader << QStringLiteral("need-header %1").arg(n);
    headerByHeader << QStringLiteral("need-header 0");

    QTest::addRow("packet-and-a-half-header")
        << p30 + bare << QList<int>{35, 9} << QList<int>{30, 14} << QStringList{"need-header 5", "need-header 0"};
    QTest::addRow("byte-by-byte") << bare << QList<int>{1} << QList<int>{14} << headerByHeader;
    QTest::addRow("status-and-foreign-kinds-ignore-length-field")
        << makePacket(KIND_STATUS, 0, 500) + makePacket(REQUEST_FLAGS, 0, 500) + bare << QList<int>{}
        << QList<int>{14, 14, 14} << QStringList{"need-header 0"};
    QTest::addRow("f0-carries-payload") << makePacket(KIND_EXTENDED, 0, 4, 4) + bare << QList<int>{}
                                        << QList<int>{18, 14} << QStringList{"need-header 0"};
    QTest::addRow("max-length-field") << makePacket(KIND_COMMAND, CODE_DOWNLOAD_DATA, 0xFFFF, 0xFFFF) + bare
                                      << QList<int>{40000} << QList<int>{HEADER_SIZE + 0xFFFF, 14}
                                      << QStringList{"divided 40000", "need-header 0"};
}

void tst_PacketFramer::chunks()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, chunkSizes);
    QFETCH(QList<int>, packetLengths);
    QFETCH(QStringList, turnEnds);

    PacketFramer framer;
    QList<QByteArray> packets;
    QStringList ends;
    for (int pos = 0, chunk = 0; pos < stream.size(); ++chunk) {
        const int size = chunkSizes.isEmpty() ? stream.size() : chunkSizes.at(chunk % chunkSizes.size());
        const QByteArray bytes = stream.mid(pos, size);
        framer.append(bytes.constData(), bytes.size());
        pos += bytes.size();
        const Turn turn = frameOneTurn(framer);
        packets += turn.packets;
        ends << turn.end;
    }
    QList<int> lengths;
    for (const QByteArray &packet : qAsConst(packets))
        lengths << packet.size();
    QCOMPARE(lengths, packetLengths);
    QCOMPARE(ends, turnEnds);
    QVERIFY(packets.join() == stream);
}

void tst_PacketFramer::budget_data()
{
    QTest::addColumn<int>("packets");
    QTest::addColumn<QStringList>("turnEnds");
    const int max = PacketFramer::MaxPacketsPerTurn;
    QTest::addRow("exactly-the-budget") << max << QStringList{"need-header 0"};
    QTest::addRow("two-turns-and-a-bit") << 2 * max + 3
                                         << QStringList{QStringLiteral("turn-over %1").arg((max + 3) * HEADER_SIZE),
                                                        "turn-over 42", "need-header 0"};
}

// A turn frames at most the budget; what it leaves is framed, in order, by
// the next turns without another append.
void tst_PacketFramer::budget()
{
    QFETCH(int, packets);
    QFETCH(QStringList, turnEnds);

    QByteArray stream;
    for (int i = 0; i < packets; ++i) {
        QByteArray packet = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
        qToBigEndian(quint32(i), packet.data() + DATA_OFFSET_OFFSET);
        stream += packet;
    }
    PacketFramer framer;
    framer.append(stream.constData(), stream.size());
    QByteArray framed;
    QStringList ends;
    do {
        const Turn turn = frameOneTurn(framer);
        framed += turn.packets.join();
        ends << turn.end;
    } while (ends.last().startsWith(QLatin1String("turn-over")) && ends.size() < 10);
    QCOMPARE(ends, turnEnds);
    QVERIFY(framed == stream);
}

// A full buffer has no room for a read until a turn frames some of it.
void tst_PacketFramer::fullBufferTakesNoMoreUntilFramed()
{
    const QByteArray bare = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
    QByteArray stream;
    while (stream.size() < PacketFramer::BufferLimit)
        stream += bare;
    PacketFramer framer;
    framer.append(stream.constData(), stream.size());
    QVERIFY(framer.room() <= 0);
    QCOMPARE(frameOneTurn(framer).end, QStringLiteral("turn-over %1").arg(stream.size() - 512 * HEADER_SIZE));
    QCOMPARE(framer.room(), PacketFramer::BufferLimit - stream.size() + 512 * HEADER_SIZE);
}

// A new connection starts a new stream: a partial packet of the old one must
// not swallow the first bytes of the new one.
void tst_PacketFramer::clearForgetsAPartialPacket()
{
    const QByteArray p30 = makePacket(KIND_COMMAND, CODE_FILE_LIST, 16, 16);
    PacketFramer framer;
    framer.append(p30.constData(), 20);
    QCOMPARE(frameOneTurn(framer).end, QStringLiteral("divided 20"));
    framer.clear();
    framer.append(p30.constData(), p30.size());
    const Turn turn = frameOneTurn(framer);
    QCOMPARE(turn.packets, QList<QByteArray>{p30});
}

QTEST_GUILESS_MAIN(tst_PacketFramer)
#include "tst_packetframer.moc"
