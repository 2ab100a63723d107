// The recorder simulator, driven through the client's own link and decoders:
// listings, navigation, record modes, details, downloads compared byte for
// byte with the source files, cancel, sessions, and every fault option.
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "controller/zvfilelist.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "sim/demotree.h"
#include "sim/recordersimulator.h"

namespace {
const QString TestHost = QStringLiteral(ZV_TEST_ADDRESS);
constexpr quint16 Port = 8010;
constexpr int Timeout = 5000;
constexpr qint64 BigFileSize = 8 * 1024 * 1024;
const QByteArray NameSeparator("\x00\x0d", 2);

// Runs the event loop until `done` holds; unlike QTest::qWaitFor it does
// not sleep between rounds, so an exchange costs what the exchange costs.
template <typename Predicate>
bool waitUntil(Predicate done, int timeout = Timeout)
{
    QTimer wake;
    wake.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= timeout)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// One packet as the client framed it.
struct Packet
{
    QByteArray bytes;

    quint8 byte(int i) const { return quint8(bytes.at(i)); }
    quint16 word(int i) const { return qFromBigEndian<quint16>(bytes.constData() + i); }
    quint32 longAt(int i) const { return qFromBigEndian<quint32>(bytes.constData() + i); }
    quint8 kind() const { return byte(KIND_OFFSET); }
    bool is(quint8 code) const { return kind() == KIND_COMMAND && byte(CODE_OFFSET) == code; }
    QByteArray payload() const { return bytes.mid(HEADER_SIZE); }
};

// Complemented byte sum, low 16 bits: the check value a data packet carries.
quint16 checkValue(const QByteArray &payload)
{
    quint32 sum = 0;
    for (char c : payload)
        sum += quint8(c);
    return quint16(~sum);
}

QByteArray utf16le(const QString &text)
{
    QByteArray out;
    for (QChar c : text)
        out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return out;
}

QByteArray readSource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The client end: the program's own link, keeping every packet received.
class Client : public QObject
{
public:
    Client()
    {
        connect(&link, &DeviceNetConnection::newCommandRecieved, this, [this] {
            while (!link.isCommandQueueEmpty()) {
                const ZVCommand *command = link.firstCommand();
                packets.append(Packet{command->header() + command->payload()});
                link.removeFirstCommand();
            }
        });
        connect(&link, &DeviceNetConnection::networkError, this,
                [this](AppErrorCode code, int) { errors.append(code); });
    }

    bool open()
    {
        link.connectToHost(TestHost, Port);
        return waitUntil([this] { return link.isConnected(); }, Timeout);
    }

    void send(const QByteArray &request) { link.sendPacket(request); }

    // Position of the first packet with `code` from `from` on, waiting for
    // it; -1 when none came.
    int waitFor(quint8 code, int from, int timeout = Timeout)
    {
        int found = -1;
        waitUntil(
            [&] {
                for (int i = from; i < packets.size() && found < 0; ++i) {
                    if (packets.at(i).is(code))
                        found = i;
                }
                return found >= 0;
            },
            timeout);
        return found;
    }

    DeviceNetConnection link;
    QList<Packet> packets;
    QList<AppErrorCode> errors;
};

// Lists the current folder as the client does and decodes it with the
// client's decoder; the code 0x10 packets go to `raw`.
QString listFolder(Client &client, ZVFileList *entries, QList<Packet> *raw = nullptr)
{
    entries->clear();
    int next = client.packets.size();
    int total = -1;
    client.send(ZVCommandFactory::createFileListRequest());
    const bool complete = waitUntil(
        [&] {
            for (; next < client.packets.size(); ++next) {
                const Packet &packet = client.packets.at(next);
                if (!packet.is(CODE_FILE_LIST))
                    continue;
                if (raw)
                    raw->append(packet);
                total = packet.word(COUNT_OFFSET);
                ZVCommand command;
                command.parse(&packet.bytes);
                entries->parseFileList(&command, NameSeparator, nullptr);
            }
            return total >= 0 && entries->count() >= total;
        },
        Timeout);
    if (!complete)
        return QStringLiteral("listing incomplete: %1 of %2 entries").arg(entries->count()).arg(total);
    return entries->count() == total ? QString() : QStringLiteral("%1 entries for a total of %2").arg(entries->count()).arg(total);
}

const DownloadFileInfo *findEntry(const ZVFileList &entries, const QString &name)
{
    for (int row = 0; row < entries.count(); ++row) {
        if (entries.at(row)->name == name)
            return entries.at(row);
    }
    return nullptr;
}

QString moveFolder(Client &client, int index)
{
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createMoveFolderRequest(qint16(index)));
    return client.waitFor(CODE_LIST_INVALIDATED, from) < 0 ? QStringLiteral("no 0x12 notice after a move")
                                                           : QString();
}

QString changeMode(Client &client, quint8 mode)
{
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createRecordModeRequest(mode));
    return client.waitFor(CODE_LIST_INVALIDATED, from) < 0 ? QStringLiteral("no 0x12 notice after a mode change")
                                                           : QString();
}

// Enters each folder of `path` ("A/B") from the current folder.
QString enter(Client &client, const QString &path)
{
    for (const QString &name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        ZVFileList entries;
        QString error = listFolder(client, &entries);
        if (!error.isEmpty())
            return error;
        const DownloadFileInfo *folder = findEntry(entries, name);
        if (!folder || !folder->isFolder)
            return QStringLiteral("no folder %1").arg(name);
        error = moveFolder(client, folder->index);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

// Downloads an entry and checks every data packet: offsets contiguous from
// 0, check value right, payload at most `chunk` bytes.
QString download(Client &client, int index, qint64 size, int chunk, QByteArray *data)
{
    data->clear();
    int next = client.packets.size();
    QString error;
    client.send(ZVCommandFactory::createDownloadRequest(qint16(index)));
    const bool complete = waitUntil(
        [&] {
            for (; next < client.packets.size() && error.isEmpty(); ++next) {
                const Packet &packet = client.packets.at(next);
                if (!packet.is(CODE_DOWNLOAD_DATA))
                    continue;
                const QByteArray payload = packet.payload();
                if (packet.longAt(DATA_OFFSET_OFFSET) != quint32(data->size()))
                    error = QStringLiteral("offset %1 at %2").arg(packet.longAt(DATA_OFFSET_OFFSET)).arg(data->size());
                else if (packet.word(CHECK_OFFSET) != checkValue(payload))
                    error = QStringLiteral("bad check value at %1").arg(data->size());
                else if (payload.isEmpty() || payload.size() > chunk)
                    error = QStringLiteral("payload of %1 bytes").arg(payload.size());
                data->append(payload);
            }
            return !error.isEmpty() || data->size() >= size;
        },
        Timeout);
    if (!error.isEmpty())
        return error;
    if (!complete || data->size() != size)
        return QStringLiteral("%1 bytes of %2").arg(data->size()).arg(size);
    return QString();
}

// Asks for details the client's way (0x21, acknowledgement, 0x22) and
// returns the 16-byte payload of the code 0x23 answer.
QByteArray fileDetail(Client &client, int index, bool acknowledgeFirst = true)
{
    int from = client.packets.size();
    if (acknowledgeFirst) {
        client.send(ZVCommandFactory::createFileDetailRequest(qint16(index)));
        if (client.waitFor(CODE_FILE_DETAIL, from) < 0)
            return "no acknowledgement";
        from = client.packets.size();
    }
    client.send(ZVCommandFactory::createFileDetailResultRequest());
    const int at = client.waitFor(CODE_FILE_DETAIL_DATA, from);
    return at < 0 ? QByteArray("no detail") : client.packets.at(at).payload();
}

QByteArray detailPayload(quint32 format, quint32 rate, quint32 bits, quint32 samples)
{
    QByteArray out(16, '\0');
    qToBigEndian(format, out.data());
    qToBigEndian(rate, out.data() + 4);
    qToBigEndian(bits, out.data() + 8);
    qToBigEndian(samples, out.data() + 12);
    return out;
}

// A plain socket, for what Qt does not tell apart: exactly how many bytes
// came before the end, and whether the end was FIN or RST.
class PlainClient
{
public:
    enum End { StillOpen, Closed, Reset };

    ~PlainClient()
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool open()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port);
        ::inet_pton(AF_INET, ZV_TEST_ADDRESS, &address.sin_addr);
        return fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }

    void send(const QByteArray &bytes) { QCOMPARE(::send(fd, bytes.constData(), size_t(bytes.size()), 0), ssize_t(bytes.size())); }

    // Reads while the simulator (same thread) runs, until the peer ends the
    // connection or `ms` pass.
    End read(QByteArray *received, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        char buffer[4096];
        while (clock.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                received->append(buffer, int(n));
            else if (n == 0)
                return Closed;
            else if (errno == ECONNRESET)
                return Reset;
            else
                QTest::qWait(1);
        }
        return StillOpen;
    }

private:
    int fd = -1;
};

// The raw bytes the simulator sends, and the size of each read.
class RawClient : public QObject
{
public:
    RawClient()
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray bytes = socket.readAll();
            reads.append(bytes.size());
            received += bytes;
        });
    }
    bool open()
    {
        socket.connectToHost(TestHost, Port);
        return socket.waitForConnected(Timeout);
    }
    QTcpSocket socket;
    QByteArray received;
    QList<int> reads;
};
} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void listsFoldersLikeTheDisk_data();
    void listsFoldersLikeTheDisk();
    void listingPacketLimit_data();
    void listingPacketLimit();
    void folderNavigation_data();
    void folderNavigation();
    void recordMode_data();
    void recordMode();
    void sessions_data();
    void sessions();
    void demoFileDetails_data();
    void demoFileDetails();
    void detailsOfOtherFiles_data();
    void detailsOfOtherFiles();
    void downloadsEveryDemoFileIntact();
    void chunkSize_data();
    void chunkSize();
    void emptyFileSendsNoData();
    void cancelStopsTheData();
    void largeFolder();

    void dataPacketFaults_data();
    void dataPacketFaults();
    void listSequenceFault();
    void foreignPackets_data();
    void foreignPackets();
    void dropAfterBytes_data();
    void dropAfterBytes();
    void dropFiresOnceUnlessAsked_data();
    void dropFiresOnceUnlessAsked();
    void unansweredRequest_data();
    void unansweredRequest();
    void hostileNames_data();
    void hostileNames();
    void packetSplit_data();
    void packetSplit();
    void throttle();
    void verboseLog();

private:
    void walk(Client &client, const QString &sourceDir, int chunk, int *files);

    RecorderSimulator sim;
};

void tst_Simulator::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zv.net.debug=false\nzv.command.debug=false"));
    DemoTree::Options options;
    options.bigFileSize = BigFileSize;
    QVERIFY(sim.useDemoTrees(QString(), options));
    QVERIFY(sim.listen(QHostAddress(TestHost), Port));
}

void tst_Simulator::init()
{
    QVERIFY(waitUntil([this] { return !sim.hasClient(); }));
    sim.clearFaults();
    sim.setRecordMode(0);
    sim.setMaxListPayload(SimulatorSettings::DefaultListPayload);
    sim.setChunkSize(SimulatorSettings::DefaultChunkSize);
    sim.setSendWindow(SimulatorSettings::DefaultSendWindow);
    sim.setLogExchanges(false);
}

void tst_Simulator::listsFoldersLikeTheDisk_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("path");

    QTest::addRow("music-root") << 0 << QString();
    QTest::addRow("mtr-root") << 1 << QString();
    QTest::addRow("mtr-track-folder") << 1 << "SONG0001";
    QTest::addRow("empty-folder") << 0 << "EMPTY";
    QTest::addRow("non-ascii-folder") << 0 << QString::fromUtf8("Übung");
    QTest::addRow("japanese-folder") << 0 << QString::fromUtf8("録音");
    QTest::addRow("two-levels-down") << 0 << "NESTED/DEEPER";
}

// Names, kinds, sizes and dates as the client decodes them, against the
// directory; indexes unique, folders with bit 15 and never 0x8000.
void tst_Simulator::listsFoldersLikeTheDisk()
{
    QFETCH(int, mode);
    QFETCH(QString, path);

    Client client;
    QVERIFY(client.open());
    if (mode != 0)
        QCOMPARE(changeMode(client, quint8(mode)), QString());
    QCOMPARE(enter(client, path), QString());
    ZVFileList entries;
    QList<Packet> raw;
    QCOMPARE(listFolder(client, &entries, &raw), QString());

    const QDir dir(QDir(mode == 1 ? sim.mtrRoot() : sim.musicRoot()).filePath(path));
    const QFileInfoList onDisk = dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    QCOMPARE(entries.count(), onDisk.size());
    if (onDisk.isEmpty()) {
        QCOMPARE(raw.size(), 1);
        QCOMPARE(raw.first().word(COUNT_OFFSET), quint16(0));
        QVERIFY(raw.first().payload().isEmpty());
    }
    QSet<int> indexes;
    bool filesStarted = false;
    for (int row = 0; row < entries.count(); ++row) {
        const DownloadFileInfo *entry = entries.at(row);
        const QFileInfo source(dir.filePath(entry->name));
        QVERIFY2(source.exists(), qPrintable(entry->name));
        QCOMPARE(entry->isFolder, source.isDir());
        QVERIFY2(!(entry->isFolder && filesStarted), "folders come first");
        filesStarted = !entry->isFolder;
        QCOMPARE(entry->isFolder, (entry->index & 0x8000) != 0);
        QVERIFY(quint16(entry->index) != PARENT_FOLDER_INDEX);
        QVERIFY2(!indexes.contains(entry->index), "index given twice");
        indexes.insert(entry->index);
        if (!entry->isFolder)
            QCOMPARE(entry->size, source.size());
        // FAT times count in steps of two seconds.
        QDateTime expected = source.lastModified();
        expected.setTime(QTime(expected.time().hour(), expected.time().minute(), expected.time().second() & ~1));
        QCOMPARE(entry->dateTime, expected);
    }
}

void tst_Simulator::listingPacketLimit_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("maxPayload");

    QTest::addRow("whole-folder-in-one-packet") << 0 << 4096;
    QTest::addRow("music-several-packets") << 0 << 100;
    QTest::addRow("mtr-several-packets") << 1 << 64;
    QTest::addRow("limit-below-one-entry") << 0 << 1;
}

// Every packet: numbered from 0, the folder's total in bytes 8-9, whole
// entries only (each decodes alone), at most the limit unless one entry is
// longer than it.
void tst_Simulator::listingPacketLimit()
{
    QFETCH(int, mode);
    QFETCH(int, maxPayload);

    sim.setMaxListPayload(maxPayload);
    Client client;
    QVERIFY(client.open());
    if (mode != 0)
        QCOMPARE(changeMode(client, quint8(mode)), QString());
    ZVFileList entries;
    QList<Packet> raw;
    QCOMPARE(listFolder(client, &entries, &raw), QString());
    QVERIFY(entries.count() >= 3);

    int decoded = 0;
    for (int i = 0; i < raw.size(); ++i) {
        const Packet &packet = raw.at(i);
        QCOMPARE(int(packet.byte(SEQUENCE_OFFSET)), i);
        QCOMPARE(int(packet.word(COUNT_OFFSET)), entries.count());
        QCOMPARE(int(packet.word(LENGTH_OFFSET)), packet.payload().size());
        ZVCommand command;
        command.parse(&packet.bytes);
        ZVFileList alone;
        alone.parseFileList(&command, NameSeparator, nullptr);
        QVERIFY(alone.count() >= 1);
        QVERIFY(packet.payload().size() <= maxPayload || alone.count() == 1);
        QVERIFY2(packet.payload().endsWith(NameSeparator), "packet ends inside an entry");
        decoded += alone.count();
    }
    QCOMPARE(decoded, entries.count());
    if (maxPayload >= 4096)
        QCOMPARE(raw.size(), 1);
    else
        QVERIFY(raw.size() > 1);
}

void tst_Simulator::folderNavigation_data()
{
    QTest::addColumn<QString>("enterPath");
    QTest::addColumn<QList<int>>("moves");  // indexes sent after entering; -1: the first file's index
    QTest::addColumn<QString>("expectedFolder");

    const int parent = PARENT_FOLDER_INDEX;
    QTest::addRow("enter-then-parent") << "FOLDER01" << QList<int>{parent} << QString();
    QTest::addRow("parent-at-root-stays") << QString() << QList<int>{parent, parent} << QString();
    QTest::addRow("two-down-one-up") << "NESTED/DEEPER" << QList<int>{parent} << "NESTED";
    QTest::addRow("unknown-index-stays") << "FOLDER01" << QList<int>{0x8123} << "FOLDER01";
    QTest::addRow("file-index-stays") << "FOLDER01" << QList<int>{-1} << "FOLDER01";
}

// Each move is answered with a 0x12 notice; the next listing shows where
// the recorder is.
void tst_Simulator::folderNavigation()
{
    QFETCH(QString, enterPath);
    QFETCH(QList<int>, moves);
    QFETCH(QString, expectedFolder);

    Client client;
    QVERIFY(client.open());
    QCOMPARE(enter(client, enterPath), QString());
    for (int index : moves) {
        if (index == -1) {
            ZVFileList entries;
            QCOMPARE(listFolder(client, &entries), QString());
            QVERIFY(entries.count() > 0 && !entries.at(entries.count() - 1)->isFolder);
            index = entries.at(entries.count() - 1)->index;
        }
        QCOMPARE(moveFolder(client, index), QString());
    }
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    QStringList listed;
    for (int row = 0; row < entries.count(); ++row)
        listed << entries.at(row)->name;
    QStringList expected = QDir(QDir(sim.musicRoot()).filePath(expectedFolder))
                               .entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    listed.sort();
    expected.sort();
    QCOMPARE(listed, expected);
}

void tst_Simulator::recordMode_data()
{
    QTest::addColumn<QString>("enterFirst");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("reported");

    QTest::addRow("to-multitrack") << QString() << 1 << 1;
    QTest::addRow("to-music") << QString() << 0 << 0;
    QTest::addRow("unknown-value-means-music") << QString() << 7 << 0;
    QTest::addRow("same-mode-back-to-root") << "FOLDER01" << 0 << 0;
}

// A status packet (item 0, the mode in 6-7), then a 0x12 notice; the tree
// of that mode is listed from its root.
void tst_Simulator::recordMode()
{
    QFETCH(QString, enterFirst);
    QFETCH(int, requested);
    QFETCH(int, reported);

    Client client;
    QVERIFY(client.open());
    QCOMPARE(enter(client, enterFirst), QString());
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createRecordModeRequest(quint8(requested)));
    const int notice = client.waitFor(CODE_LIST_INVALIDATED, from);
    QVERIFY(notice > from);
    const Packet &status = client.packets.at(notice - 1);
    QCOMPARE(status.bytes.size(), HEADER_SIZE);
    QCOMPARE(status.kind(), KIND_STATUS);
    QCOMPARE(status.word(CODE_OFFSET), STATUS_RECORD_MODE);
    QCOMPARE(int(status.word(PARAM_OFFSET)), reported);
    QCOMPARE(sim.recordMode(), reported);

    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const QDir root(reported == 1 ? sim.mtrRoot() : sim.musicRoot());
    QCOMPARE(entries.count(), int(root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot).size()));
    for (int row = 0; row < entries.count(); ++row)
        QVERIFY2(QFileInfo::exists(root.filePath(entries.at(row)->name)), qPrintable(entries.at(row)->name));
}

void tst_Simulator::sessions_data()
{
    QTest::addColumn<QString>("scenario");

    QTest::addRow("second-connection-held-until-first-leaves") << "second";
    QTest::addRow("reconnect-starts-at-root") << "folder";
    QTest::addRow("reconnect-keeps-record-mode") << "mode";
}

void tst_Simulator::sessions()
{
    QFETCH(QString, scenario);

    QSignalSpy connected(&sim, &RecorderSimulator::clientConnected);
    auto first = std::make_unique<Client>();
    QVERIFY(first->open());
    QVERIFY(waitUntil([&] { return connected.count() == 1; }));

    if (scenario == QLatin1String("second")) {
        // Held: its request waits, unanswered, until the first client leaves.
        QSignalSpy held(&sim, &RecorderSimulator::connectionHeld);
        Client second;
        QVERIFY(second.open());
        QVERIFY(waitUntil([&] { return held.count() == 1; }));
        second.send(ZVCommandFactory::createFileListRequest());
        ZVFileList entries;
        QCOMPARE(listFolder(*first, &entries), QString());
        QVERIFY(second.packets.isEmpty());
        QCOMPARE(changeMode(*first, 1), QString());
        first.reset();
        QVERIFY(second.waitFor(CODE_FILE_LIST, 0) == 0);
        QCOMPARE(connected.count(), 2);
        // Its own session, in the mode the first client left behind.
        QVERIFY(second.packets.first().payload().contains(utf16le(QStringLiteral("SONG0001"))));
        return;
    }

    if (scenario == QLatin1String("folder"))
        QCOMPARE(enter(*first, QStringLiteral("FOLDER01")), QString());
    else
        QCOMPARE(changeMode(*first, 1), QString());
    first.reset();
    QVERIFY(waitUntil([this] { return !sim.hasClient(); }));

    Client again;
    QVERIFY(again.open());
    ZVFileList entries;
    QCOMPARE(listFolder(again, &entries), QString());
    const QString expectedName = scenario == QLatin1String("folder") ? QStringLiteral("FOLDER01")
                                                                      : QStringLiteral("SONG0001");
    QVERIFY2(findEntry(entries, expectedName), "not at the root of the expected tree");
}

void tst_Simulator::demoFileDetails_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected");

    QTest::addRow("wav-48k-16-stereo") << 0 << "ZV_0001.WAV" << detailPayload(2, 48000, 16, 120000);
    QTest::addRow("wav-48k-24-stereo") << 0 << "ZV_0002.WAV" << detailPayload(2, 48000, 24, 192000);
    QTest::addRow("bwf-bext-before-fmt") << 0 << "ZV_0003_BWF.WAV" << detailPayload(3, 48000, 24, 144000);
    QTest::addRow("mp3-behind-id3-tag") << 0 << "ZV_0004.MP3" << detailPayload(1, 44100, 128000, 192 * 1152);
    QTest::addRow("wav-44k1-16") << 0 << "FOLDER01/TAKE_44k16.WAV" << detailPayload(2, 44100, 16, 88200);
    QTest::addRow("wav-96k-24") << 0 << "FOLDER01/TAKE_96k24.WAV" << detailPayload(2, 96000, 24, 144000);
    QTest::addRow("non-ascii-name") << 0 << QString::fromUtf8("Übung/Café_take.WAV")
                                    << detailPayload(2, 48000, 24, 144000);
    QTest::addRow("japanese-bwf") << 0 << QString::fromUtf8("録音/ライブ_BWF.WAV")
                                  << detailPayload(3, 44100, 24, 52920);
    QTest::addRow("big-file-header") << 0 << DemoTree::bigFileName()
                                     << detailPayload(2, 48000, 16, quint32((BigFileSize - 44) / 4));
    QTest::addRow("mtr-track") << 1 << "SONG0001/TRACK03.WAV" << detailPayload(2, 48000, 24, 96000);
    QTest::addRow("mtr-bwf-track") << 1 << "SONG0002/TRACK01.WAV" << detailPayload(3, 44100, 24, 44100);
    QTest::addRow("not-audio-is-format-0") << 0 << "README.TXT" << detailPayload(0, 0, 0, 0);
    QTest::addRow("folder-is-format-0") << 0 << "FOLDER01" << detailPayload(0, 0, 0, 0);
    QTest::addRow("unknown-index-is-format-0") << 0 << QString() << detailPayload(0, 0, 0, 0);
}

void tst_Simulator::demoFileDetails()
{
    QFETCH(int, mode);
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);

    Client client;
    QVERIFY(client.open());
    if (mode != 0)
        QCOMPARE(changeMode(client, quint8(mode)), QString());
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    QCOMPARE(enter(client, path.left(qMax(slash, 0))), QString());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    int index = 0x7FF0;
    if (!path.isEmpty()) {
        const DownloadFileInfo *entry = findEntry(entries, path.mid(slash + 1));
        QVERIFY(entry);
        index = entry->index;
    }
    const QByteArray detail = fileDetail(client, index);
    QCOMPARE(detail.toHex(' '), expected.toHex(' '));
}

void tst_Simulator::detailsOfOtherFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected");

    auto le16 = [](int v) -> QByteArray { QByteArray b(2, '\0'); qToLittleEndian<quint16>(quint16(v), b.data()); return b; };
    auto le32 = [](qint64 v) -> QByteArray { QByteArray b(4, '\0'); qToLittleEndian<quint32>(quint32(v), b.data()); return b; };
    auto fmt = [&](int channels, int rate, int bits) -> QByteArray {
        const int align = channels * bits / 8;
        return QByteArray("fmt ") + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(rate * align)
            + le16(align) + le16(bits);
    };
    auto riff = [&](const QByteArray &chunks) -> QByteArray { return QByteArray("RIFF") + le32(4 + chunks.size()) + "WAVE" + chunks; };

    // A 3-byte chunk is followed by a pad byte that must be skipped.
    QTest::addRow("odd-chunk-padding") << "ODD.WAV"
                                       << riff(QByteArray("junk") + le32(3) + "abc" + '\0' + fmt(2, 32000, 16)
                                               + "data" + le32(400) + QByteArray(400, '\1'))
                                       << detailPayload(2, 32000, 16, 100);
    // A writer that never closed the file leaves the data size open.
    QTest::addRow("open-data-size") << "OPEN.WAV"
                                    << riff(fmt(1, 8000, 16) + "data" + le32(0xFFFFFFFF) + QByteArray(100, '\2'))
                                    << detailPayload(2, 8000, 16, 50);
    QTest::addRow("bext-after-data") << "LATE.WAV"
                                     << riff(fmt(1, 22050, 24) + "data" + le32(30) + QByteArray(30, '\3') + "bext"
                                             + le32(2) + "xy")
                                     << detailPayload(3, 22050, 24, 10);
    // MPEG-2 layer III, 22.05 kHz, 64 kbit/s: 576 samples, 208 bytes a frame.
    QByteArray mpeg2;
    for (int i = 0; i < 10; ++i)
        mpeg2 += QByteArray("\xff\xf3\x80\xc4", 4) + QByteArray(204, '\0');
    QTest::addRow("mpeg2-without-tag") << "M2.MP3" << mpeg2 << detailPayload(1, 22050, 64000, 5760);
    QTest::addRow("riff-but-not-wave") << "AVI.WAV" << QByteArray("RIFF\x10\0\0\0AVI LIST\0\0\0\0", 20)
                                       << detailPayload(0, 0, 0, 0);
    QTest::addRow("mp3-name-without-frames") << "FAKE.MP3" << QByteArray(500, 'x') << detailPayload(0, 0, 0, 0);
}

// Files the demo writer did not make: the details come from their headers.
void tst_Simulator::detailsOfOtherFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const QString demoRoot = sim.musicRoot();
    sim.setMusicRoot(dir.path());
    auto restore = qScopeGuard([&] { sim.setMusicRoot(demoRoot); });

    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const DownloadFileInfo *entry = findEntry(entries, name);
    QVERIFY(entry);
    QCOMPARE(fileDetail(client, entry->index).toHex(' '), expected.toHex(' '));
}

void tst_Simulator::walk(Client &client, const QString &sourceDir, int chunk, int *files)
{
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    struct Entry
    {
        QString name;
        bool isFolder;
        int index;
        qint64 size;
    };
    QVector<Entry> copy;
    for (int row = 0; row < entries.count(); ++row) {
        const DownloadFileInfo *e = entries.at(row);
        copy.append({e->name, e->isFolder, e->index, e->size});
    }
    const QDir dir(sourceDir);
    for (const Entry &entry : qAsConst(copy)) {
        if (entry.isFolder) {
            QCOMPARE(moveFolder(client, entry.index), QString());
            walk(client, dir.filePath(entry.name), chunk, files);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(moveFolder(client, PARENT_FOLDER_INDEX), QString());
            continue;
        }
        const QByteArray source = readSource(dir.filePath(entry.name));
        QCOMPARE(entry.size, qint64(source.size()));
        QByteArray data;
        QCOMPARE(download(client, entry.index, entry.size, chunk, &data), QString());
        QVERIFY2(data == source, qPrintable(dir.filePath(entry.name)));
        ++*files;
    }
}

void tst_Simulator::downloadsEveryDemoFileIntact()
{
    Client client;
    QVERIFY(client.open());
    int files = 0;
    walk(client, sim.musicRoot(), SimulatorSettings::DefaultChunkSize, &files);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(changeMode(client, 1), QString());
    walk(client, sim.mtrRoot(), SimulatorSettings::DefaultChunkSize, &files);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(files, 19);
    QVERIFY2(client.errors.isEmpty(), "the link reported errors");
}

void tst_Simulator::chunkSize_data()
{
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("expectedChunk");
    QTest::addColumn<QString>("path");

    QTest::addRow("one-byte") << 1 << 1 << "README.TXT";
    QTest::addRow("odd-size") << 999 << 999 << "ZV_0004.MP3";
    QTest::addRow("largest-framable") << 65521 << 65521 << "ZV_0002.WAV";
    QTest::addRow("too-large-clamped") << 70000 << 65521 << "ZV_0002.WAV";
}

void tst_Simulator::chunkSize()
{
    QFETCH(int, chunk);
    QFETCH(int, expectedChunk);
    QFETCH(QString, path);

    if (chunk > SimulatorSettings::MaxChunkSize)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("chunk size .* clamped")));
    sim.setChunkSize(chunk);
    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const DownloadFileInfo *entry = findEntry(entries, path);
    QVERIFY(entry);
    const int from = client.packets.size();
    QByteArray data;
    QCOMPARE(download(client, entry->index, entry->size, expectedChunk, &data), QString());
    QCOMPARE(data, readSource(QDir(sim.musicRoot()).filePath(path)));
    // Every packet but the last is full.
    for (int i = from; i < client.packets.size() - 1; ++i)
        QCOMPARE(client.packets.at(i).payload().size(), expectedChunk);
}

void tst_Simulator::emptyFileSendsNoData()
{
    QTemporaryDir dir;
    QFile empty(dir.filePath(QStringLiteral("EMPTY.WAV")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString demoRoot = sim.musicRoot();
    sim.setMusicRoot(dir.path());
    auto restore = qScopeGuard([&] { sim.setMusicRoot(demoRoot); });

    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    QCOMPARE(entries.count(), 1);
    QCOMPARE(entries.at(0)->size, qint64(0));
    QSignalSpy finished(&sim, &RecorderSimulator::downloadFinished);
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createDownloadRequest(entries.at(0)->index));
    QVERIFY(waitUntil([&] { return finished.count() == 1; }));
    // A request sent after it is the first thing answered.
    client.send(ZVCommandFactory::createCancelDownloadRequest());
    QCOMPARE(client.waitFor(CODE_CANCEL_DOWNLOAD, from), from);
}

// After the cancel request: the confirmation, and no data packet after it.
void tst_Simulator::cancelStopsTheData()
{
    sim.setSendWindow(64 * 1024);
    QSignalSpy canceled(&sim, &RecorderSimulator::downloadCanceled);
    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const DownloadFileInfo *big = findEntry(entries, DemoTree::bigFileName());
    QVERIFY(big);
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createDownloadRequest(big->index));
    QVERIFY(client.waitFor(CODE_DOWNLOAD_DATA, from) >= 0);
    client.send(ZVCommandFactory::createCancelDownloadRequest());
    const int confirmation = client.waitFor(CODE_CANCEL_DOWNLOAD, from);
    QVERIFY(confirmation >= 0);
    QCOMPARE(canceled.count(), 1);
    QVERIFY(canceled.at(0).at(0).toLongLong() < BigFileSize);
    QTest::qWait(100);

    qint64 received = 0;
    for (int i = from; i < client.packets.size(); ++i) {
        const Packet &packet = client.packets.at(i);
        if (packet.is(CODE_DOWNLOAD_DATA)) {
            QVERIFY2(i < confirmation, "data after the cancel confirmation");
            QCOMPARE(packet.longAt(DATA_OFFSET_OFFSET), quint32(received));
            received += packet.payload().size();
        }
    }
    QVERIFY(received > 0 && received < BigFileSize);
    QCOMPARE(client.packets.size(), confirmation + 1);

    // A cancel with nothing running is confirmed too.
    const int idle = client.packets.size();
    client.send(ZVCommandFactory::createCancelDownloadRequest());
    QCOMPARE(client.waitFor(CODE_CANCEL_DOWNLOAD, idle), idle);
}

// More listing packets than the sequence byte counts (it wraps past 255),
// and more files than 15 index bits hold (indexes wrap; an index names the
// later entry, as the client's lookup does).
void tst_Simulator::largeFolder()
{
    constexpr int Files = 32770;
    QTemporaryDir dir;
    DemoTree many;
    DemoTree::Options options;
    options.manyFiles = Files;
    QVERIFY(many.generate(dir.path(), options));
    const QString demoRoot = sim.musicRoot();
    sim.setMusicRoot(many.musicRoot());
    auto restore = qScopeGuard([&] { sim.setMusicRoot(demoRoot); });

    Client client;
    QVERIFY(client.open());
    QCOMPARE(enter(client, DemoTree::manyFolderName()), QString());
    ZVFileList entries;
    QList<Packet> raw;
    QCOMPARE(listFolder(client, &entries, &raw), QString());
    QCOMPARE(entries.count(), Files);
    QVERIFY(raw.size() > 256);
    for (int i = 0; i < raw.size(); ++i)
        QCOMPARE(int(raw.at(i).byte(SEQUENCE_OFFSET)), i % 256);
    QCOMPARE(entries.at(0)->index, qint16(0));
    QCOMPARE(entries.at(Files - 1)->index, qint16(1));

    const QString later = DemoTree::manyFileName(Files);
    QCOMPARE(entries.findByIndex(1)->name, later);
    QByteArray data;
    QCOMPARE(download(client, 1, entries.at(Files - 1)->size, SimulatorSettings::DefaultChunkSize, &data), QString());
    QCOMPARE(data, readSource(QDir(many.musicRoot()).filePath(DemoTree::manyFolderName() + QLatin1Char('/') + later)));
}

void tst_Simulator::dataPacketFaults_data()
{
    QTest::addColumn<int>("corruptAt");
    QTest::addColumn<int>("offsetAt");
    QTest::addColumn<int>("lengthAt");
    QTest::addColumn<int>("extra");

    QTest::addRow("no-fault") << -1 << -1 << -1 << 0;
    QTest::addRow("bad-check-first-packet") << 0 << -1 << -1 << 0;
    QTest::addRow("bad-check-later-packet") << 5 << -1 << -1 << 0;
    QTest::addRow("offset-gap-first-packet") << -1 << 0 << -1 << 0;
    QTest::addRow("offset-gap-later-packet") << -1 << 3 << -1 << 0;
    QTest::addRow("length-field-short") << -1 << -1 << 2 << 0;
    QTest::addRow("extra-bytes-in-last-packet") << -1 << -1 << -1 << 100;
    QTest::addRow("extra-bytes-past-last-packet") << -1 << -1 << -1 << 9000;
}

// Read raw, since a wrong length field breaks the client's framing: packet
// k really carries min(chunk, rest) payload bytes. Only the named field of
// the named packet may differ from a correct stream.
void tst_Simulator::dataPacketFaults()
{
    QFETCH(int, corruptAt);
    QFETCH(int, offsetAt);
    QFETCH(int, lengthAt);
    QFETCH(int, extra);

    constexpr int Chunk = 4096;
    sim.setChunkSize(Chunk);
    sim.setCorruptCheckAt(corruptAt);
    sim.setWrongOffsetAt(offsetAt);
    sim.setWrongLengthAt(lengthAt);
    sim.setExtraBytes(extra);
    int index = -1;
    qint64 size = 0;
    {
        Client lister;
        QVERIFY(lister.open());
        ZVFileList entries;
        QCOMPARE(listFolder(lister, &entries), QString());
        const DownloadFileInfo *entry = findEntry(entries, QStringLiteral("ZV_0003_BWF.WAV"));
        QVERIFY(entry);
        index = entry->index;
        size = entry->size;
    }
    QVERIFY(waitUntil([this] { return !sim.hasClient(); }));

    const QByteArray source = readSource(QDir(sim.musicRoot()).filePath(QStringLiteral("ZV_0003_BWF.WAV")));
    const qint64 total = size + extra;
    const int packets = int((total + Chunk - 1) / Chunk);
    const qint64 wireBytes = total + qint64(packets) * HEADER_SIZE;

    RawClient raw;
    QVERIFY(raw.open());
    raw.socket.write(ZVCommandFactory::createDownloadRequest(qint16(index)));
    QVERIFY(waitUntil([&] { return raw.received.size() >= wireBytes; }));
    QTest::qWait(20);
    QCOMPARE(raw.received.size(), wireBytes);

    const QByteArray expectedData = source + QByteArray(extra, '\0');
    qint64 pos = 0;
    for (int k = 0; k < packets; ++k) {
        const Packet header{raw.received.mid(pos, HEADER_SIZE)};
        const int length = int(qMin<qint64>(Chunk, total - qint64(k) * Chunk));
        const QByteArray payload = raw.received.mid(pos + HEADER_SIZE, length);
        QCOMPARE(payload, expectedData.mid(qint64(k) * Chunk, length));
        QVERIFY(header.is(CODE_DOWNLOAD_DATA));
        QCOMPARE(header.longAt(DATA_OFFSET_OFFSET), quint32(k * Chunk + (k == offsetAt ? 1 : 0)));
        QCOMPARE(header.word(CHECK_OFFSET), quint16(checkValue(payload) + (k == corruptAt ? 1 : 0)));
        QCOMPARE(int(header.word(LENGTH_OFFSET)), length - (k == lengthAt ? 1 : 0));
        pos += HEADER_SIZE + length;
    }
}

// The first listing of a session starts at number 1; the client's restart
// is answered from 0.
void tst_Simulator::listSequenceFault()
{
    sim.setListSequenceFault(true);
    for (int session = 0; session < 2; ++session) {
        Client client;
        QVERIFY(client.open());
        const int from = client.packets.size();
        client.send(ZVCommandFactory::createFileListRequest());
        const int first = client.waitFor(CODE_FILE_LIST, from);
        QVERIFY(first >= 0);
        QCOMPARE(int(client.packets.at(first).byte(SEQUENCE_OFFSET)), 1);
        ZVFileList entries;
        QList<Packet> raw;
        QCOMPARE(listFolder(client, &entries, &raw), QString());
        QCOMPARE(int(raw.first().byte(SEQUENCE_OFFSET)), 0);
        client.link.abort();
        QVERIFY(waitUntil([this] { return !sim.hasClient(); }));
    }
}

void tst_Simulator::foreignPackets_data()
{
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<int>("answers");

    QTest::addRow("before-listing") << "list" << 1;
    QTest::addRow("before-mode-status-and-notice") << "mode" << 2;
    QTest::addRow("before-detail-acknowledgement") << "detail" << 1;
    QTest::addRow("before-every-data-packet") << "download" << 4;
}

// Each answer is preceded by a kind 0x77 packet (14 bytes on the wire
// whatever its length field says) and a code 0x7E packet with 4 bytes; the
// answers themselves come through intact.
void tst_Simulator::foreignPackets()
{
    QFETCH(QString, exchange);
    QFETCH(int, answers);

    sim.setForeignPackets(true);
    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const DownloadFileInfo *wav = findEntry(entries, QStringLiteral("ZV_0001.WAV"));
    const DownloadFileInfo *text = findEntry(entries, QStringLiteral("README.TXT"));
    QVERIFY(wav && text);
    sim.setChunkSize(int((text->size + 3) / 4));

    const int from = client.packets.size();
    if (exchange == QLatin1String("list")) {
        QCOMPARE(listFolder(client, &entries), QString());
    } else if (exchange == QLatin1String("mode")) {
        QCOMPARE(changeMode(client, 0), QString());
    } else if (exchange == QLatin1String("detail")) {
        client.send(ZVCommandFactory::createFileDetailRequest(wav->index));
        QVERIFY(client.waitFor(CODE_FILE_DETAIL, from) >= 0);
    } else {
        QByteArray data;
        QCOMPARE(download(client, text->index, text->size, int(text->size), &data), QString());
        QCOMPARE(data, readSource(QDir(sim.musicRoot()).filePath(text->name)));
    }
    QCOMPARE(client.packets.size() - from, answers * 3);
    for (int i = from; i < client.packets.size(); i += 3) {
        const Packet &unknownKind = client.packets.at(i);
        QCOMPARE(unknownKind.kind(), quint8(0x77));
        QCOMPARE(unknownKind.bytes.size(), HEADER_SIZE);
        QCOMPARE(unknownKind.word(LENGTH_OFFSET), quint16(4));
        const Packet &unknownCode = client.packets.at(i + 1);
        QVERIFY(unknownCode.is(0x7E));
        QCOMPARE(unknownCode.payload(), QByteArray("\xde\xad\xbe\xef"));
        const Packet &answer = client.packets.at(i + 2);
        QVERIFY(answer.kind() == KIND_STATUS || (answer.kind() == KIND_COMMAND && answer.byte(CODE_OFFSET) < 0x40));
    }
    QVERIFY2(client.errors.isEmpty(), "the foreign packets broke the framing");
}

void tst_Simulator::dropAfterBytes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("end");

    const int reset = int(RecorderSimulator::DropMode::Reset);
    const int close = int(RecorderSimulator::DropMode::Close);
    const int silent = int(RecorderSimulator::DropMode::Silent);
    QTest::addRow("reset-inside-header") << reset << 9 << int(PlainClient::Reset);
    QTest::addRow("reset-inside-payload") << reset << 40 << int(PlainClient::Reset);
    QTest::addRow("close-inside-payload") << close << 40 << int(PlainClient::Closed);
    QTest::addRow("close-at-packet-boundary") << close << 14 << int(PlainClient::Closed);
    QTest::addRow("silent-inside-payload") << silent << 40 << int(PlainClient::StillOpen);
    QTest::addRow("reset-before-any-byte") << reset << 0 << int(PlainClient::Reset);
}

// Exactly N bytes reach the client, then RST, FIN or silence with the
// connection open; a silent simulator answers nothing more.
void tst_Simulator::dropAfterBytes()
{
    QFETCH(int, mode);
    QFETCH(int, bytes);
    QFETCH(int, end);

    sim.setDropAfter(bytes, RecorderSimulator::DropMode(mode));
    QSignalSpy dropped(&sim, &RecorderSimulator::connectionDropped);
    PlainClient client;
    QVERIFY(client.open());
    QVERIFY(waitUntil([this] { return sim.hasClient(); }));
    // The root listing is far longer than any N above; a mode change is
    // status + notice, 28 bytes.
    client.send(bytes == 14 ? ZVCommandFactory::createRecordModeRequest(0) : ZVCommandFactory::createFileListRequest());
    QByteArray received;
    QCOMPARE(int(client.read(&received, end == PlainClient::StillOpen ? 300 : Timeout)), end);
    QCOMPARE(received.size(), bytes);
    QCOMPARE(dropped.count(), 1);
    if (bytes > 0)
        QCOMPARE(received.left(2), QByteArray("ZV"));
    if (end == PlainClient::StillOpen) {
        QVERIFY(sim.hasClient());
        client.send(ZVCommandFactory::createFileListRequest());
        QCOMPARE(int(client.read(&received, 100)), int(PlainClient::StillOpen));
        QCOMPARE(received.size(), bytes);
    }
}

void tst_Simulator::dropFiresOnceUnlessAsked_data()
{
    QTest::addColumn<bool>("everySession");
    QTest::addRow("once") << false;
    QTest::addRow("every-session") << true;
}

void tst_Simulator::dropFiresOnceUnlessAsked()
{
    QFETCH(bool, everySession);

    sim.setDropAfter(20, RecorderSimulator::DropMode::Close, everySession);
    for (int session = 0; session < 2; ++session) {
        Client client;
        QVERIFY(client.open());
        client.send(ZVCommandFactory::createFileListRequest());
        const bool drops = session == 0 || everySession;
        if (drops) {
            QVERIFY(waitUntil([&] { return client.link.isUnconnected(); }));
            QVERIFY(client.packets.isEmpty());
        } else {
            QVERIFY(client.waitFor(CODE_FILE_LIST, 0) >= 0);
            client.link.abort();
        }
        QVERIFY(waitUntil([this] { return !sim.hasClient(); }));
    }
}

void tst_Simulator::unansweredRequest_data()
{
    QTest::addColumn<int>("muted");
    QTest::addColumn<QByteArray>("request");

    QTest::addRow("file-list") << int(CODE_FILE_LIST) << ZVCommandFactory::createFileListRequest();
    QTest::addRow("move-folder") << int(CODE_MOVE_FOLDER) << ZVCommandFactory::createMoveFolderRequest(qint16(0x8001));
    QTest::addRow("detail") << int(CODE_FILE_DETAIL) << ZVCommandFactory::createFileDetailRequest(1);
    QTest::addRow("detail-result") << int(CODE_FILE_DETAIL_RESULT) << ZVCommandFactory::createFileDetailResultRequest();
    QTest::addRow("download") << int(CODE_DOWNLOAD) << ZVCommandFactory::createDownloadRequest(1);
    QTest::addRow("cancel") << int(CODE_CANCEL_DOWNLOAD) << ZVCommandFactory::createCancelDownloadRequest();
    QTest::addRow("record-mode") << RecorderSimulator::RecordModeRequest << ZVCommandFactory::createRecordModeRequest(1);
}

// The muted request gets nothing at all; the next one is answered first.
void tst_Simulator::unansweredRequest()
{
    QFETCH(int, muted);
    QFETCH(QByteArray, request);

    sim.setUnanswered(muted);
    QSignalSpy requests(&sim, &RecorderSimulator::requestReceived);
    Client client;
    QVERIFY(client.open());
    client.send(request);
    QVERIFY(waitUntil([&] { return requests.count() == 1; }));
    QTest::qWait(100);
    QVERIFY(client.packets.isEmpty());

    const bool muteIsList = muted == CODE_FILE_LIST;
    client.send(muteIsList ? ZVCommandFactory::createCancelDownloadRequest()
                           : ZVCommandFactory::createFileListRequest());
    QVERIFY(client.waitFor(muteIsList ? CODE_CANCEL_DOWNLOAD : CODE_FILE_LIST, 0) == 0);
    QCOMPARE(sim.recordMode(), 0);
}

void tst_Simulator::hostileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");

    QTest::addRow("parent-relative") << "../evil.wav" << false;
    QTest::addRow("backslash-parent") << "..\\evil.wav" << false;
    QTest::addRow("absolute") << "/tmp/abs.wav" << false;
    QTest::addRow("drive-absolute") << "C:\\abs.wav" << false;
    QTest::addRow("empty") << QString() << false;
    QTest::addRow("dot") << "." << false;
    QTest::addRow("dot-dot") << ".." << false;
    QTest::addRow("subfolder") << "a/b.wav" << false;
    QTest::addRow("control-characters") << QString::fromLatin1("ctl\x01\x07\x1b\x7f.wav") << false;
    QTest::addRow("newline") << "line\nbreak.wav" << false;
    QTest::addRow("embedded-separator") << QString::fromUtf16(u"cut\u0D00here.wav") << false;
    QTest::addRow("folder-escaping") << "../up" << true;
}

// The names go out as they are: size field, UTF-16LE name, 00 0D. The name
// holding 00 0D itself makes the client cut it there.
void tst_Simulator::hostileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);

    sim.setHostileNames(true);
    sim.setMaxListPayload(SimulatorSettings::MaxChunkSize);
    Client client;
    QVERIFY(client.open());
    const int from = client.packets.size();
    client.send(ZVCommandFactory::createFileListRequest());
    const int at = client.waitFor(CODE_FILE_LIST, from);
    QVERIFY(at >= 0);
    const QByteArray payload = client.packets.at(at).payload();

    QByteArray size(4, '\0');
    qToBigEndian<quint32>(folder ? 0 : 108, size.data());
    const QByteArray wire = size + utf16le(name) + NameSeparator;
    const int pos = payload.indexOf(wire);
    QVERIFY2(pos >= 6, "name not on the wire as it is");
    const quint16 index = qFromBigEndian<quint16>(payload.constData() + pos - 6);
    QCOMPARE((index & FOLDER_INDEX_BIT) != 0, folder);

    if (name.contains(QChar(0x0D00))) {
        ZVCommand command;
        command.parse(&client.packets.at(at).bytes);
        ZVFileList decoded;
        decoded.parseFileList(&command, NameSeparator, nullptr);
        QVERIFY2(findEntry(decoded, name.left(name.indexOf(QChar(0x0D00)))), "client did not cut the name");
    } else if (!folder) {
        // Served like any file.
        QCOMPARE(fileDetail(client, index), detailPayload(2, 8000, 16, 32));
    }
}

void tst_Simulator::packetSplit_data()
{
    QTest::addColumn<int>("piece");
    QTest::addColumn<bool>("listing");
    QTest::addColumn<bool>("headerCut");

    QTest::addRow("pieces-inside-header") << 5 << false << true;
    QTest::addRow("pieces-inside-payload") << 20 << true << false;
}

// Packets arrive in pieces with pauses between them; the client reports a
// header cut short, and reassembles every packet.
void tst_Simulator::packetSplit()
{
    QFETCH(int, piece);
    QFETCH(bool, listing);
    QFETCH(bool, headerCut);

    constexpr int PauseMs = 4;
    Client client;
    QVERIFY(client.open());
    ZVCommand command;
    ZVFileList expected;
    if (listing) {
        QCOMPARE(enter(client, QStringLiteral("FOLDER01")), QString());
        QCOMPARE(listFolder(client, &expected), QString());
    }
    sim.setPacketSplit(piece, PauseMs);
    QElapsedTimer clock;
    clock.start();
    int pieces = 0;
    if (listing) {
        ZVFileList entries;
        QList<Packet> raw;
        QCOMPARE(listFolder(client, &entries, &raw), QString());
        QCOMPARE(entries.count(), expected.count());
        QCOMPARE(raw.size(), 1);
        pieces = (raw.first().bytes.size() + piece - 1) / piece;
    } else {
        QCOMPARE(changeMode(client, 1), QString());
        pieces = 2 * ((HEADER_SIZE + piece - 1) / piece);
        QCOMPARE(client.packets.size(), 2);
        QCOMPARE(client.packets.at(0).kind(), KIND_STATUS);
    }
    QVERIFY(clock.elapsed() >= (pieces - 1) * PauseMs);
    QCOMPARE(client.errors.contains(NetworkPacketTooShort), headerCut);
}

void tst_Simulator::throttle()
{
    constexpr qint64 Rate = 1500 * 1000;
    Client client;
    QVERIFY(client.open());
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
    const DownloadFileInfo *wav = findEntry(entries, QStringLiteral("ZV_0001.WAV"));
    QVERIFY(wav);
    sim.setThrottle(Rate);
    QElapsedTimer clock;
    clock.start();
    QByteArray data;
    QCOMPARE(download(client, wav->index, wav->size, SimulatorSettings::DefaultChunkSize, &data), QString());
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(data, readSource(QDir(sim.musicRoot()).filePath(wav->name)));
    // 480 KB at 1.5 MB/s: about 320 ms; allow the first tick's burst.
    QVERIFY2(elapsed >= wav->size * 1000 / Rate - 20, qPrintable(QString::number(elapsed)));
}

void tst_Simulator::verboseLog()
{
    sim.setLogExchanges(true);
    Client client;
    QVERIFY(client.open());
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral(
                                        "^sim: <- 5a 56 40 41 10 00 00 00 00 00 00 00 00 00  file list$")));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral(
                                        "^sim: -> 5a 56 40 00 10 00 00 00 00 0b 00 00 .. ..  file list 1/1, 11 entries$")));
    ZVFileList entries;
    QCOMPARE(listFolder(client, &entries), QString());
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
