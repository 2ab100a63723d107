// Framing of the received byte stream against a real TCP peer on a loopback
// address of this test's own.
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QtEndian>
#include <QtTest>
#include <unistd.h>

#include "base/logging.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"

namespace {
constexpr quint16 Port = 8010;

QStringList capturedMessages;
QStringList capturedWarnings;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    capturedMessages << message;
    if (type != QtDebugMsg)
        capturedWarnings << message;
    // Framing tests log every packet; only warnings are worth showing.
    if (type != QtDebugMsg && previousHandler)
        previousHandler(type, context, message);
}

QByteArray makePacket(quint8 kind, quint8 code, quint16 lengthField, const QByteArray &payload = QByteArray())
{
    QByteArray bytes(HEADER_SIZE, '\0');
    bytes[0] = 'Z';
    bytes[1] = 'V';
    bytes[KIND_OFFSET] = char(kind);
    bytes[CODE_OFFSET] = char(code);
    qToBigEndian(lengthField, bytes.data() + LENGTH_OFFSET);
    return bytes + payload;
}

QByteArray payloadOf(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) & 0xFF);
    return bytes;
}

// An error the link reported, as a row expects it: "NetworkPacketTooShort 10".
QString errorReport(AppErrorCode code, int param)
{
    const char *name = code == NetworkPacketTooShort ? "NetworkPacketTooShort"
        : code == NetworkPacketParseError            ? "NetworkPacketParseError"
                                                     : "an error no framing row expects";
    return QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(param);
}

struct Received
{
    QByteArray header;
    QByteArray payload;
};
} // namespace

class tst_DeviceNetConnection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void framing_data();
    void framing();
    void connectedCommandIsNotReused();
    void floodYieldsAndArrivesWhole();
    void garbageFloodLogsOneLineAndItsCount();

private:
    void connectPair();
    void sendInChunks(const QByteArray &stream, const QList<int> &chunkSizes);
    void drainCommands();

    QTcpServer server;
    DeviceNetConnection *connection = nullptr;
    QTcpSocket *peer = nullptr;
    QList<Received> received;
};

void tst_DeviceNetConnection::initTestCase()
{
    qRegisterMetaType<AppErrorCode>("AppErrorCode");
    previousHandler = qInstallMessageHandler(captureMessage);
    QVERIFY2(server.listen(QHostAddress(ZV_TEST_ADDRESS), Port), qPrintable(server.errorString()));
}

void tst_DeviceNetConnection::init()
{
    capturedMessages.clear();
    capturedWarnings.clear();
    received.clear();
    connection = new DeviceNetConnection;
    connect(connection, &DeviceNetConnection::newCommandRecieved, this, &tst_DeviceNetConnection::drainCommands);
}

void tst_DeviceNetConnection::cleanup()
{
    delete connection;
    connection = nullptr;
    delete peer;
    peer = nullptr;
}

void tst_DeviceNetConnection::drainCommands()
{
    while (!connection->isCommandQueueEmpty()) {
        ZVCommand *command = connection->firstCommand();
        received.append({command->header(), command->payload()});
        connection->removeFirstCommand();
    }
}

void tst_DeviceNetConnection::connectPair()
{
    QSignalSpy connected(connection, &DeviceNetConnection::networkConnected);
    connection->connectToHost(QStringLiteral(ZV_TEST_ADDRESS), Port);
    QVERIFY(connected.wait(5000));
    QVERIFY(connection->isConnected());
    QTRY_VERIFY(server.hasPendingConnections());
    peer = server.nextPendingConnection();
    peer->setParent(nullptr);
}

// Writes each chunk as its own segment and waits until the link has handled
// it: every run of the link leaves at least one line in the log.
void tst_DeviceNetConnection::sendInChunks(const QByteArray &stream, const QList<int> &chunkSizes)
{
    int pos = 0;
    int chunk = 0;
    while (pos < stream.size()) {
        const int size = qMin(chunkSizes.isEmpty() ? stream.size() : chunkSizes.at(chunk % chunkSizes.size()),
                              stream.size() - pos);
        const int before = capturedMessages.size();
        if (size == 0)
            connection->receivePacket();
        else
            peer->write(stream.constData() + pos, size);
        peer->flush();
        pos += size;
        ++chunk;
        QTRY_VERIFY_WITH_TIMEOUT(capturedMessages.size() > before, 5000);
    }
}

void tst_DeviceNetConnection::framing_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("chunkSizes"); // none: the whole stream in one write
    QTest::addColumn<int>("commands");
    // A read ending inside a header is reported, one whose header has no
    // magic is reported with the packet's kind (signed) and dropped.
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("warnings");

    // How bytes are cut into packets is the framer's (tst_packetframer); these
    // rows pin what the link makes of it.
    const QByteArray p30 = makePacket(KIND_COMMAND, CODE_FILE_LIST, 16, payloadOf(16, 1));
    const QByteArray bare = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
    const quint8 foreignKind = REQUEST_FLAGS;
    QByteArray badMagic = makePacket(foreignKind, 0, 0);
    badMagic[0] = 'X';
    QByteArray badF0 = makePacket(KIND_EXTENDED, 0, 0);
    badF0[1] = 'X';
    const QStringList none;
    const QStringList parseError{QStringLiteral("net: Packet parse error")};
    const QString tooShort10 = errorReport(NetworkPacketTooShort, 10);

    // Only a read ending inside a header is reported, with the bytes it left.
    QTest::addRow("split-inside-payload-then-header")
        << p30 + bare << QList<int>{20, 23, 1} << 2 << QStringList{errorReport(NetworkPacketTooShort, 13)} << none;
    // A chunk of 0: the link runs again with nothing new arrived.
    QTest::addRow("empty-read-reports-again")
        << bare << QList<int>{10, 0, 4} << 1 << QStringList{tooShort10, tooShort10} << none;
    QTest::addRow("bad-magic-dropped-framing-goes-on")
        << badMagic + bare << QList<int>{} << 1 << QStringList{errorReport(NetworkPacketParseError, foreignKind)}
        << parseError;
    QTest::addRow("bad-f0-kind-reported-signed")
        << badF0 + bare << QList<int>{} << 1 << QStringList{errorReport(NetworkPacketParseError, qint8(KIND_EXTENDED))}
        << parseError;
}

void tst_DeviceNetConnection::framing()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, chunkSizes);
    QFETCH(int, commands);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, warnings);

    connectPair();
    QSignalSpy errorSpy(connection, &DeviceNetConnection::networkError);
    sendInChunks(stream, chunkSizes);
    QTRY_COMPARE(received.size(), commands);
    QStringList reports;
    for (const QList<QVariant> &args : qAsConst(errorSpy))
        reports << errorReport(args.at(0).value<AppErrorCode>(), args.at(1).toInt());
    QCOMPARE(reports, errors);
    // A packet split across reads is ordinary: its lines are debug lines.
    QCOMPARE(capturedWarnings, warnings);

    // Together the commands are the stream, packet by packet, in wire order,
    // less the bad headers in front.
    QByteArray joined;
    for (const Received &r : qAsConst(received))
        joined += r.header + r.payload;
    QVERIFY(joined == stream.mid(HEADER_SIZE * warnings.size()));
}

// The link reuses a finished command for the next packet, but never one that
// somebody connected to: that one is deleted when it is removed.
void tst_DeviceNetConnection::connectedCommandIsNotReused()
{
    connectPair();
    QPointer<ZVCommand> watched;
    QList<ZVCommand *> seen;
    disconnect(connection, &DeviceNetConnection::newCommandRecieved, this, &tst_DeviceNetConnection::drainCommands);
    connect(connection, &DeviceNetConnection::newCommandRecieved, this, [&] {
        ZVCommand *command = connection->firstCommand();
        seen << command;
        if (seen.size() == 2) {
            watched = command;
            connect(command, &ZVCommand::error, this, [] {});
        }
        connection->removeFirstCommand();
    });
    const QByteArray bare = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
    peer->write(bare.repeated(2));
    QTRY_COMPARE(seen.size(), 2);
    QCOMPARE(seen.at(1), seen.at(0)); // the spare command carried the second packet
    QVERIFY(watched.isNull());
    peer->write(bare);
    QTRY_COMPARE(seen.size(), 3);
}

// Twenty thousand notices, then megabytes of data, in one write: a timer
// started at the first notice runs long before the last is framed; the data is
// read in large steps (past the socket's own buffer where the build reads the
// system's queue directly); and every byte arrives in order.
void tst_DeviceNetConnection::floodYieldsAndArrivesWhole()
{
    constexpr int Notices = 20000;
    constexpr int DataPackets = 256;
    constexpr int Payload = 32 * 1024;
    connectPair();
    int framedWhenTimerRan = -1;
    QMetaObject::Connection first = connect(connection, &DeviceNetConnection::newCommandRecieved, this, [&] {
        disconnect(first);
        QTimer::singleShot(0, this, [&] { framedWhenTimerRan = received.size(); });
    });
    QByteArray stream = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0).repeated(Notices);
    for (int i = 0; i < DataPackets; ++i)
        stream += makePacket(KIND_COMMAND, CODE_DOWNLOAD_DATA, Payload, payloadOf(Payload, i));
    peer->write(stream);
    peer->waitForBytesWritten(5000);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), Notices + DataPackets, 10000);
    QVERIFY(framedWhenTimerRan > 0);
    QVERIFY2(framedWhenTimerRan <= 2 * DeviceNetConnection::MaxPacketsPerTurn,
             qPrintable(QString::number(framedWhenTimerRan)));
    QByteArray joined;
    for (const Received &r : qAsConst(received))
        joined += r.header + r.payload;
    QVERIFY(joined == stream);
}

// Under the programs' message log, a flood of bad packets prints one warning
// line and the count of its repeats, without the category in front.
void tst_DeviceNetConnection::garbageFloodLogsOneLineAndItsCount()
{
    QTemporaryFile log;
    QVERIFY(log.open());
    const int savedStderr = dup(STDERR_FILENO);
    dup2(log.handle(), STDERR_FILENO);
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qunsetenv("QT_MESSAGE_PATTERN");
    setupMessageLog();

    connectPair();
    QByteArray bad = makePacket(0x41, 0, 0);
    bad[0] = 'X';
    QSignalSpy errors(connection, &DeviceNetConnection::networkError);
    peer->write(bad.repeated(3000));
    QTRY_COMPARE(errors.count(), 3000);
    flushMessageLog();

    qInstallMessageHandler(testHandler);
    QLoggingCategory::setFilterRules(QString());
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    log.seek(0);
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines,
             (QStringList{QStringLiteral("net: Packet parse error"), QStringLiteral("\u2026 repeated 2999 times")}));
}

QTEST_GUILESS_MAIN(tst_DeviceNetConnection)
#include "tst_devicenetconnection.moc"
