// The recorder simulator seen from a plain socket, with the client's own
// listing decoder: what no client suite sees. Moves and record modes that
// lead nowhere, listed times, details of odd WAV layouts and of no file,
// downloads no client makes, a cancel midway, a held connection's request,
// fault options byte for byte against a clean run, drops and hostile names.
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QtEndian>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/waituntil.h"
#include "controllerfixture.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"
#include "sim/demotree.h"
#include "sim/recordersimulator.h"
#include "sim/replybuilder.h"

namespace {
using Packets = QList<QByteArray>;
using Sim = RecorderSimulator;
// Sets a fault and makes of the clean answers what it must turn them into.
using Fault = std::function<void(Sim &sim, Packets &answers)>;

constexpr quint16 Port = 8010;
constexpr int Timeout = 5000;
constexpr qint64 BigFileSize = 8 * 1024 * 1024;
constexpr int FaultChunk = 4096;
constexpr qint64 Everything = std::numeric_limits<qint64>::max();
const QByteArray NameSeparator("\x00\x0d", 2);
const QByteArray CancelRequest = ZVCommandFactory::createCancelDownloadRequest();
// The answer to a cancel, and the notice of a changed listing, byte for byte.
const QByteArray Confirmation = QByteArray::fromHex("5a56400031").leftJustified(HEADER_SIZE, '\0');
const QByteArray Notice = QByteArray::fromHex("5a56400012").leftJustified(HEADER_SIZE, '\0');

bool is(const QByteArray &packet, quint8 code)
{
    return quint8(packet.at(KIND_OFFSET)) == KIND_COMMAND && quint8(packet.at(CODE_OFFSET)) == code;
}

// The data packets of a correct download of `data`: offsets from 0, the
// client's check value, at most `chunk` bytes each.
Packets dataPackets(const QByteArray &data, int chunk)
{
    Packets packets;
    for (int offset = 0; offset < data.size(); offset += chunk) {
        const QByteArray payload = data.mid(offset, chunk);
        const quint16 check = quint16(payloadCheckValue(payload.constData(), payload.size()));
        QByteArray header(HEADER_SIZE, '\0');
        ReplyBuilder::writeDataHeader(header.data(), quint32(offset), check, quint16(payload.size()));
        packets.append(header + payload);
    }
    return packets;
}

// A data-packet fault `set` at `packet`: the big-endian `Field` at `offset`
// of that answer off by `delta`.
template<typename Field>
Fault fieldOff(void (Sim::*set)(int), int packet, int offset, int delta)
{
    return [=](Sim &sim, Packets &answers) {
        (sim.*set)(packet);
        char *field = answers[packet].data() + offset;
        qToBigEndian<Field>(Field(qFromBigEndian<Field>(field) + delta), field);
    };
}

// The client end on a plain socket, connected from the start, to see the
// exact bytes even with broken framing, and whether the end was FIN or RST.
// Packets are framed into `packets` the way the client frames them.
class Client
{
public:
    enum End { StillOpen, Closed, Reset };

    Client()
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port);
        ::inet_pton(AF_INET, ZV_TEST_ADDRESS, &address.sin_addr);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~Client() { ::close(fd); }

    void send(const QByteArray &b) { QCOMPARE(::send(fd, b.data(), size_t(b.size()), 0), ssize_t(b.size())); }

    // Runs the simulator (same thread) until `done` holds, the peer ends the
    // connection or `ms` pass.
    template<typename Predicate>
    End readUntil(Predicate done, int ms = Timeout)
    {
        QSocketNotifier readable(fd, QSocketNotifier::Read);
        End end = StillOpen;
        waitUntil(
            [&] {
                char buffer[65536];
                ssize_t n;
                while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                    received.append(buffer, int(n));
                if (n == 0 || errno == ECONNRESET)
                    end = n == 0 ? Closed : Reset;
                for (int size = 0; framed + HEADER_SIZE <= received.size(); framed += size) {
                    size = framedPacketLength(received.constData() + framed);
                    if (framed + size > received.size())
                        break;
                    packets.append(received.mid(framed, size));
                }
                return end != StillOpen || done();
            },
            ms);
        return end;
    }
    End read(qint64 until, int ms = Timeout)
    {
        return readUntil([&] { return received.size() >= until; }, ms);
    }

    // Position of the first packet with `code` from `from` on; -1 when none came.
    int waitFor(quint8 code, int from)
    {
        const auto found = [&] {
            while (from < packets.size() && !is(packets.at(from), code))
                ++from;
            return from < packets.size();
        };
        readUntil(found);
        return found() ? from : -1;
    }

    // Lists the current folder (one packet for any folder used here) into
    // `entries`, and `entry` by name; the listing packet.
    QByteArray list()
    {
        const int from = packets.size();
        send(ZVCommandFactory::createFileListRequest());
        const QByteArray packet = packets.value(waitFor(CODE_FILE_LIST, from));
        ZVCommand command;
        command.parse(&packet);
        entries.clear();
        entries.parseFileList(&command, NameSeparator, nullptr);
        entry.clear();
        for (int row = 0; row < entries.count(); ++row)
            entry.insert(entries.at(row)->name, entries.at(row));
        return packet;
    }

    // A move or a record-mode change; either is answered with a 0x12 notice.
    bool change(const QByteArray &request)
    {
        send(request);
        return waitFor(CODE_LIST_INVALIDATED, packets.size()) >= 0;
    }

    // Selects the tree of `path` ("MUSIC/A/B/name" or "MTR/..."), enters
    // its folders and lists the last one; the entry named last, if any.
    const DownloadFileInfo *find(const QString &path)
    {
        const QStringList parts = path.split(QLatin1Char('/'));
        bool found = change(ZVCommandFactory::createRecordModeRequest(quint8(parts.first() == QLatin1String("MTR"))));
        for (int i = 1; found && i < parts.size() - 1; ++i) {
            list();
            const DownloadFileInfo *folder = entry.value(parts.at(i));
            found = folder && folder->isFolder && change(ZVCommandFactory::createMoveFolderRequest(folder->index));
        }
        list();
        return found ? entry.value(parts.last()) : nullptr;
    }

    // Details the client's way (0x21, its acknowledgement, 0x22): the code
    // 0x23 answer.
    QByteArray detail(int index)
    {
        const int from = packets.size();
        send(ZVCommandFactory::createFileDetailRequest(qint16(index))
             + ZVCommandFactory::createFileDetailResultRequest());
        const int at = waitFor(CODE_FILE_DETAIL_DATA, from);
        return at == from + 1 && is(packets.at(from), CODE_FILE_DETAIL) ? packets.at(at) : "none";
    }

    QByteArray received;
    Packets packets;
    ZVFileList entries;
    QMap<QString, const DownloadFileInfo *> entry;

private:
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int framed = 0;
};
} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_Simulator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        DemoTree::Options options;
        options.bigFileSize = BigFileSize;
        QVERIFY(sim.useDemoTrees(QString(), options));
        base = QFileInfo(sim.musicRoot()).dir();
        // Two files the demo writer does not make: an empty one, and a WAV
        // whose 3-byte chunk before "fmt " is followed by a pad byte, from an
        // odd second (the demo's times are all even).
        QFile empty(base.filePath(QStringLiteral("MUSIC/EMPTY.WAV")));
        QFile odd(base.filePath(QStringLiteral("MUSIC/ODD_CHUNK.WAV")));
        QVERIFY(empty.open(QIODevice::WriteOnly) && odd.open(QIODevice::WriteOnly));
        odd.write(QByteArray::fromHex("52494646c0010000574156456a756e6b0300000061626300666d74201000000001000200007d00"
                                      "0000f40100040010006461746190010000")
                  + QByteArray(400, '\1'));
        const QDateTime oddSecond(QDate(2024, 5, 17), QTime(10, 6, 21, 500));
        QVERIFY(odd.flush() && odd.setFileTime(oddSecond, QFileDevice::FileModificationTime));
        QVERIFY(sim.listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), Port));
    }

    void init()
    {
        QVERIFY(waitUntil([this] { return !sim.hasClient(); }, Timeout));
        sim.clearFaults();
        sim.setRecordMode(0);
        sim.setChunkSize(SimulatorSettings::DefaultChunkSize);
        sim.setSendWindow(SimulatorSettings::DefaultSendWindow);
    }

    void listing_data()
    {
        // The tree and folders entered first, then a move or record-mode change,
        // where the recorder is then.
        QTest::addColumn<QString>("enter");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("folder");

        const auto move = [](int index) { return ZVCommandFactory::createMoveFolderRequest(qint16(index)); };
        const auto mode = [](int mode) { return ZVCommandFactory::createRecordModeRequest(quint8(mode)); };
        const int up = PARENT_FOLDER_INDEX;
        // Names, sizes, kinds and indexes as listed, moves into a folder and back
        // to the top, and listings over many packets (numbered, wrapped, each
        // with the total) are the controller's and the tree walker's to check.
        QTest::addRow("parent-at-root-stays") << "MUSIC" << move(up) << "MUSIC";
        QTest::addRow("two-down-one-up") << "MUSIC/NESTED/DEEPER" << move(up) << "MUSIC/NESTED";
        QTest::addRow("unknown-index-stays") << "MUSIC/FOLDER01" << move(0x8123) << "MUSIC/FOLDER01";
        QTest::addRow("file-index-stays") << "MUSIC/FOLDER01" << move(0) << "MUSIC/FOLDER01";
        QTest::addRow("unknown-mode-is-music") << "MTR" << mode(7) << "MUSIC";
        QTest::addRow("same-mode-back-to-root") << "MUSIC/FOLDER01" << mode(0) << "MUSIC";
    }

    // A move is answered with a 0x12 notice, a record-mode change with a status
    // packet and the notice; the recorder is then in the folder named, listed in
    // one packet, its times rounded down to FAT's steps of two seconds.
    void listing()
    {
        QFETCH(QString, enter);
        QFETCH(QByteArray, request);
        QFETCH(QString, folder);

        Client client;
        client.find(enter + '/');
        const int from = client.packets.size();
        QVERIFY(client.change(request));
        const bool modeChange = quint8(request.at(KIND_OFFSET)) == KIND_STATUS;
        const QByteArray status = ReplyBuilder::status(STATUS_RECORD_MODE, folder.startsWith(QLatin1String("MTR")));
        QCOMPARE(client.packets.mid(from), modeChange ? Packets({status, Notice}) : Packets({Notice}));
        client.list();
        QStringList onDisk = QDir(base.filePath(folder)).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
        onDisk.sort();
        QCOMPARE(client.entry.keys(), onDisk);
        for (const QString &name : client.entry.keys()) {
            const QDateTime modified = QFileInfo(base.filePath(folder + '/' + name)).lastModified();
            const QTime time = modified.time();
            QCOMPARE(client.entry.value(name)->dateTime, modified.addMSecs(-(time.second() % 2 * 1000 + time.msec())));
        }
    }

    // A second connection is held until the first leaves; then the request it
    // sent meanwhile is answered. That it is held unanswered, zv-transfer's
    // suite sees, and that the record mode outlasts a connection, its sync's.
    void oneClientAtATime()
    {
        QSignalSpy held(&sim, &RecorderSimulator::connectionHeld);
        auto first = std::make_unique<Client>();
        Client second;
        QVERIFY(waitUntil([&] { return held.count() == 1; }, Timeout));
        second.send(ZVCommandFactory::createFileListRequest());
        QVERIFY(!first->list().isEmpty());
        first.reset();
        QCOMPARE(second.waitFor(CODE_FILE_LIST, 0), 0);
    }

    void details_data()
    {
        // Plain WAV, BWF, MP3 and text files: the window and zv-transfer show
        // their details.
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("expected");

        QTest::addRow("wav-mono-24-bit") << "MTR/SONG0001/TRACK03.WAV"
                                         << ReplyBuilder::detail({AudioProbe::Wav, 48000, 24, 96000});
        QTest::addRow("wav-odd-chunk-padding")
            << "MUSIC/ODD_CHUNK.WAV" << ReplyBuilder::detail({AudioProbe::Wav, 32000, 16, 100});
        QTest::addRow("folder-is-format-0") << "MUSIC/FOLDER01" << ReplyBuilder::detail({});
        QTest::addRow("unknown-index-is-format-0") << "MUSIC/NO_SUCH.WAV" << ReplyBuilder::detail({});
    }

    void details()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, expected);

        Client client;
        const DownloadFileInfo *entry = client.find(path);
        QVERIFY(entry || path.endsWith(QLatin1String("NO_SUCH.WAV")));
        QCOMPARE(client.detail(entry ? entry->index : 0x7FF0).toHex(' '), expected.toHex(' '));
    }

    void downloads_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("cancelMidway");

        // The controller's suite downloads the demo files in small and large
        // packets byte for byte; not an empty file, 8 MiB, or too large packets.
        const int chunk = SimulatorSettings::DefaultChunkSize;
        QTest::addRow("empty-file") << "MUSIC/EMPTY.WAV" << chunk << false;
        QTest::addRow("big-file") << QString("MUSIC/" + DemoTree::bigFileName()) << chunk << false;
        QTest::addRow("too-large-chunk-clamped") << "MUSIC/ZV_0002.WAV" << 70000 << false;
        QTest::addRow("canceled-midway") << QString("MUSIC/" + DemoTree::bigFileName()) << chunk << true;
    }

    // The file byte for byte in full packets but the last (none for an empty
    // file); a cancel then is answered next. A cancel midway ends the data
    // there: whole packets, then the confirmation, nothing after it.
    void downloads()
    {
        QFETCH(QString, path);
        QFETCH(int, chunk);
        QFETCH(bool, cancelMidway);

        if (chunk > SimulatorSettings::MaxChunkSize)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("chunk size .* clamped")));
        sim.setChunkSize(chunk);
        sim.setSendWindow(cancelMidway ? 64 * 1024 : SimulatorSettings::DefaultSendWindow);
        Client client;
        const DownloadFileInfo *entry = client.find(path);
        QVERIFY(entry);
        const int payload = qMin(chunk, SimulatorSettings::MaxChunkSize);
        const QByteArray data = dataPackets(readAll(base.filePath(path)), payload).join();

        const int from = client.received.size();
        client.send(ZVCommandFactory::createDownloadRequest(entry->index));
        client.read(from + (cancelMidway ? 1 : data.size()));
        client.send(CancelRequest);
        QVERIFY(client.waitFor(CODE_CANCEL_DOWNLOAD, client.packets.size()) >= 0);
        QCOMPARE(client.read(Everything, cancelMidway ? 50 : 0), Client::StillOpen);
        const QByteArray got = client.received.mid(from);
        if (cancelMidway) {
            QVERIFY(got.size() > HEADER_SIZE && got.size() < data.size() && got.endsWith(Confirmation));
            QVERIFY2(data.startsWith(got.chopped(HEADER_SIZE)), "not whole data packets, or data after the cancel");
        } else {
            QVERIFY2(got == data + Confirmation, "not the file's data packets, then the confirmation");
        }
    }

    void faults_data()
    {
        // The requests (none: the download of the MP3), the fault, how long the
        // exchange takes at least.
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("minMs");

        const QByteArray download;
        const QByteArray lists = ZVCommandFactory::createFileListRequest().repeated(2);
        const QByteArray mode = ZVCommandFactory::createRecordModeRequest(0);
        const Fault foreign = [](Sim &sim, Packets &answers) {
            // Kind 0x77, header only whatever its length says; code 0x7E with 4 bytes.
            sim.setForeignPackets(true);
            for (QByteArray &packet : answers)
                packet.prepend(QByteArray::fromHex("5a567700000000000000000000045a5640007e000000000000000004deadbeef"));
        };
        QTest::addRow("bad-check-value") << download << fieldOff<quint16>(&Sim::setCorruptCheckAt, 5, CHECK_OFFSET, 1)
                                         << 0;
        QTest::addRow("offset-gap") << download << fieldOff<quint32>(&Sim::setWrongOffsetAt, 0, DATA_OFFSET_OFFSET, 1)
                                    << 0;
        QTest::addRow("length-field-one-short")
            << download << fieldOff<quint16>(&Sim::setWrongLengthAt, 2, LENGTH_OFFSET, -1) << 0;
        QTest::addRow("foreign-packets-before-answers") << lists << foreign << 0;
        QTest::addRow("foreign-packets-before-data") << download << foreign << 0;
        // Unanswered lists and downloads, and the extra bytes, the misnumbered
        // listings and the throttle, the client suites see.
        QTest::addRow("unanswered-record-mode") << mode << Fault([](Sim &sim, Packets &answers) {
            sim.setUnanswered(Sim::RecordModeRequest);
            answers = {Confirmation};
        }) << 0;
        // Three pieces for each 14-byte packet, a pause after each but the last
        // of a burst: 5 before the client's cancel, 2 after it.
        QTest::addRow("split-inside-headers")
            << mode << Fault([](Sim &sim, Packets &) { sim.setPacketSplit(5, 4); }) << 7 * 4;
    }

    // An exchange (two listings, a record-mode change, or a download of the MP3
    // in small packets) and then a cancel, whose confirmation ends it. Run clean
    // first, then with the fault on: the bytes must be the clean ones with
    // exactly the named change.
    void faults()
    {
        QFETCH(QByteArray, requests);
        QFETCH(Fault, fault);
        QFETCH(int, minMs);

        sim.setChunkSize(FaultChunk);
        Packets expected;
        {
            Client clean;
            const DownloadFileInfo *mp3 = clean.find(QStringLiteral("MUSIC/ZV_0004.MP3"));
            QVERIFY(mp3 && mp3->size > 6 * FaultChunk);
            const int from = clean.packets.size();
            const int dataPackets = requests.isEmpty() ? int((mp3->size + FaultChunk - 1) / FaultChunk) : 0;
            if (requests.isEmpty())
                requests = ZVCommandFactory::createDownloadRequest(mp3->index);
            clean.send(requests);
            clean.readUntil([&] { return clean.packets.size() >= from + dataPackets; });
            clean.send(CancelRequest);
            QVERIFY(clean.waitFor(CODE_CANCEL_DOWNLOAD, from + dataPackets) >= 0);
            expected = clean.packets.mid(from);
        }
        // The faulty session is held until the clean one has ended.
        fault(sim, expected);
        const QByteArray all = expected.join();

        QElapsedTimer clock;
        clock.start();
        Client raw;
        raw.send(requests);
        QCOMPARE(raw.read(all.size() - expected.last().size()), Client::StillOpen);
        raw.send(CancelRequest);
        QCOMPARE(raw.read(all.size()), Client::StillOpen);
        QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(raw.read(Everything, 20), Client::StillOpen);
        const auto differ = std::mismatch(all.cbegin(), all.cend(), raw.received.cbegin(), raw.received.cend());
        QVERIFY2(raw.received == all, qPrintable(QString("differs from byte %1").arg(differ.first - all.cbegin())));
    }

    void drops_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("everySession");
        QTest::addColumn<int>("end");

        QTest::addRow("reset-inside-header") << int(Sim::DropMode::Reset) << 9 << false << int(Client::Reset);
        QTest::addRow("reset-at-once-every-session") << int(Sim::DropMode::Reset) << 0 << true << int(Client::Reset);
        QTest::addRow("close-at-packet-boundary") << int(Sim::DropMode::Close) << 14 << false << int(Client::Closed);
        QTest::addRow("silent-inside-packet") << int(Sim::DropMode::Silent) << 20 << false << int(Client::StillOpen);
    }

    // Exactly N bytes of the answer to a record-mode change (status and notice)
    // reach the client, then RST, FIN, or silence with the connection open and
    // nothing more answered. Once, unless asked for every session.
    void drops()
    {
        QFETCH(int, mode);
        QFETCH(int, bytes);
        QFETCH(bool, everySession);
        QFETCH(int, end);

        constexpr int SilentMs = 50;
        sim.setDropAfter(bytes, Sim::DropMode(mode), everySession);
        QSignalSpy dropped(&sim, &RecorderSimulator::connectionDropped);
        const QByteArray answer = ReplyBuilder::status(STATUS_RECORD_MODE, 0) + Notice;
        for (int session = 0; session < 2; ++session) {
            const bool drop = session == 0 || everySession;
            const bool silent = drop && end == Client::StillOpen;
            Client client;
            client.send(ZVCommandFactory::createRecordModeRequest(0));
            const Client::End got = client.read(drop ? bytes + 1 : answer.size(), silent ? SilentMs : Timeout);
            QCOMPARE(int(got), drop ? end : int(Client::StillOpen));
            if (silent) {
                client.send(ZVCommandFactory::createFileListRequest());
                QCOMPARE(client.read(bytes + 1, SilentMs), Client::StillOpen);
            }
            QCOMPARE(client.received, answer.left(drop ? bytes : answer.size()));
            QCOMPARE(dropped.count(), everySession ? session + 1 : 1);
        }
    }

    void hostileNames_data()
    {
        // The names reaching out of the folder are the tree's and the copier's.
        QTest::addColumn<QString>("name");
        QTest::addRow("control-characters") << QString::fromLatin1("ctl\x01\x07\x1b\x7f.wav");
        QTest::addRow("embedded-separator") << QString::fromUtf16(u"cut\u0D00here.wav");
    }

    // The names go out as they are (size field, UTF-16LE name, 00 0D), and the
    // files are served like any other.
    void hostileNames()
    {
        QFETCH(QString, name);

        sim.setHostileNames(true);
        Client client;
        const QByteArray payload = client.list().mid(HEADER_SIZE);
        QByteArray wire(4 + 2 * name.size(), '\0');
        qToBigEndian<quint32>(108, wire.data());
        qToLittleEndian<quint16>(name.utf16(), name.size(), wire.data() + 4);
        const int pos = payload.indexOf(QByteArray(wire + NameSeparator));
        QVERIFY2(pos >= 6, "name not on the wire as it is");
        QCOMPARE(client.detail(qFromBigEndian<quint16>(payload.constData() + pos - 6)),
                 ReplyBuilder::detail({AudioProbe::Wav, 8000, 16, 32}));
    }

private:
    RecorderSimulator sim;
    QDir base; // of the demo trees, MUSIC and MTR
};

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
