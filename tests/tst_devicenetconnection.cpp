// The link against a real TCP peer on a loopback address of this test's own:
// what it reports of bytes it cannot make a packet of, its one spare command,
// yielding under a flood, and one log line for a flood of garbage.
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
} // namespace

class tst_DeviceNetConnection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reportsWhatItCannotFrame();
    void connectedCommandIsNotReused();
    void floodYieldsAndArrivesWhole();
    void garbageFloodLogsOneLineAndItsCount();

private:
    void connectPair();
    void drainCommands();

    QTcpServer server;
    DeviceNetConnection *connection = nullptr;
    QTcpSocket *peer = nullptr;
    QByteArrayList received; // each command taken: its header, then its payload
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
        received << command->header() + command->payload();
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

// How bytes are cut into packets is the framer's (tst_packetframer); this is
// what the link reports of what it cannot make a packet of. A header without
// the mark is dropped and reported with the packet's kind (signed); a read
// ending inside a header is reported with the bytes it left, again when the
// link runs with nothing new; a read ending inside a payload is not. Only the
// bad header is a warning.
void tst_DeviceNetConnection::reportsWhatItCannotFrame()
{
    QByteArray badMagic = makePacket(KIND_EXTENDED, 0, 0);
    badMagic[1] = 'X';
    const QByteArray p30 = makePacket(KIND_COMMAND, CODE_FILE_LIST, 16, payloadOf(16, 1));
    const QByteArray bare = makePacket(KIND_COMMAND, CODE_LIST_INVALIDATED, 0);
    connectPair();
    QSignalSpy errors(connection, &DeviceNetConnection::networkError);
    // Each chunk is its own segment, handled before the next is sent: every
    // run of the link leaves at least one line in the log. A chunk of 0: the
    // link runs again with nothing new arrived.
    const QByteArray stream = badMagic + p30 + bare;
    int pos = 0;
    for (int size : {HEADER_SIZE, 20, 23, 0, 1}) {
        const int before = capturedMessages.size();
        if (size == 0)
            connection->receivePacket();
        else
            peer->write(stream.constData() + pos, size);
        peer->flush();
        pos += size;
        QTRY_VERIFY_WITH_TIMEOUT(capturedMessages.size() > before, 5000);
    }
    QList<QPair<AppErrorCode, int>> reports;
    for (const QList<QVariant> &args : qAsConst(errors))
        reports << qMakePair(args.at(0).value<AppErrorCode>(), args.at(1).toInt());
    const QList<QPair<AppErrorCode, int>> expected{
        {NetworkPacketParseError, qint8(KIND_EXTENDED)}, {NetworkPacketTooShort, 13}, {NetworkPacketTooShort, 13}};
    QCOMPARE(reports, expected);
    QCOMPARE(capturedWarnings, QStringList{QStringLiteral("net: Packet parse error")});
    QVERIFY(received.join() == p30 + bare);
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
        seen << connection->firstCommand();
        if (seen.size() == 2) {
            watched = seen.last();
            connect(seen.last(), &ZVCommand::error, this, [] {});
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
    QVERIFY(received.join() == stream);
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
