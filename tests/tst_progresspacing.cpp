// Byte counts paced by the download engine on the thread that receives the
// data: at most one per interval during a burst, every file's last count
// ahead of what follows it, and a count held back still arrives when the
// data stops coming.
#include <QElapsedTimer>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "base/apperrorcode.h"
#include "base/downloadfileinfo.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvfilelist.h"
#include "recorder/zvdownloadqueue.h"
#include "sim/replybuilder.h"

namespace {
constexpr int PacketBytes = 1024;
// One packet every PacketGapUs, the event loop run every EventLoopEvery
// packets: a burst that lasts several intervals, as a fast link delivers it.
constexpr unsigned long PacketGapUs = 250;
constexpr int EventLoopEvery = 8;

enum class Ending { Complete, BadPacket };
} // namespace

Q_DECLARE_METATYPE(Ending)

class TestProgressPacing : public QObject
{
    Q_OBJECT
private slots:
    void pacesCountsInOrder_data();
    void pacesCountsInOrder();
};

void TestProgressPacing::pacesCountsInOrder_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("packets");    // per file
    QTest::addColumn<int>("pauseAfter"); // data stops this long after that many packets (0: never)
    QTest::addColumn<Ending>("ending");

    QTest::newRow("two files, a burst each") << 40 << 2 << 600 << 0 << Ending::Complete;
    QTest::newRow("no interval: every count") << 0 << 2 << 50 << 0 << Ending::Complete;
    QTest::newRow("data stops after a held count") << 40 << 1 << 600 << 301 << Ending::Complete;
    QTest::newRow("a bad packet after a held count") << 40 << 1 << 600 << 0 << Ending::BadPacket;
}

void TestProgressPacing::pacesCountsInOrder()
{
    QFETCH(int, intervalMs);
    QFETCH(int, files);
    QFETCH(int, packets);
    QFETCH(int, pauseAfter);
    QFETCH(Ending, ending);
    const qint64 fileSize = qint64(packets) * PacketBytes;
    // The bad packet comes where a count is held: in a burst, just after one.
    const int badPacket = packets / 2 + 1;

    QTemporaryDir dest;
    QVERIFY(dest.isValid());
    DeviceNetConnection connection; // never connected: requests go nowhere
    // The listing: recordings F0.WAV, F1.WAV ... of fileSize bytes each.
    ZVFileList list;
    for (int file = 0; file < files; ++file) {
        auto *info = new DownloadFileInfo;
        info->name = QStringLiteral("F%1.WAV").arg(file);
        info->size = fileSize;
        info->index = qint16(file + 1);
        info->dateTime = QDateTime(QDate(2024, 1, 1), QTime(0, 0));
        list.append(info);
    }

    QMutex mutex;
    ZVDownloadQueue queue(&connection, &list, mutex);
    queue.setProgressInterval(intervalMs);
    queue.setDirectory(dest.path());
    queue.setSameOption(SaveOverwrite);
    for (int file = 0; file < files; ++file)
        queue.addTarget(file + 1);

    // What the receiver sees, in order, and when each count came.
    QStringList seen;
    QList<qint64> when;
    int counts = 0;
    QElapsedTimer clock;
    clock.start();
    const auto see = [&](const QString &event) {
        seen << event;
        when << clock.elapsed();
    };
    connect(&queue, &ZVDownloadQueue::downloadStarted, this, [&](const QString &name) { see("start " + name); });
    connect(&queue, &ZVDownloadQueue::downloadProgress, this, [&](qulonglong bytes) {
        see("count " + QString::number(bytes));
        ++counts;
    });
    connect(&queue, &ZVDownloadQueue::downloadFinished, this, [&] { see(QStringLiteral("finished")); });
    connect(&queue, &ZVDownloadQueue::error, this, [&](AppErrorCode code) { see("error " + QString::number(code)); });

    // One data packet, handed to the queue as the link hands it over.
    const auto feed = [&queue](const QByteArray &payload, quint32 offset, quint16 check) {
        QByteArray packet(HEADER_SIZE, '\0');
        ReplyBuilder::writeDataHeader(packet.data(), offset, check, quint16(payload.size()));
        packet += payload;
        ZVCommand command;
        QVERIFY(command.parse(&packet));
        queue.saveDownloadData(&command);
    };

    queue.startDownload();
    QStringList expected;
    for (int file = 0; file < files; ++file) {
        expected << "start F" + QString::number(file) + ".WAV";
        for (int at = 0; at < packets; ++at) {
            const QByteArray payload(PacketBytes, char('a' + at % 26));
            const quint32 offset = quint32(at) * PacketBytes;
            const quint16 check = quint16(payloadCheckValue(payload.constData(), payload.size()) & 0xFFFF);
            if (ending == Ending::BadPacket && at == badPacket) {
                feed(payload, offset, quint16(check + 1));
                expected << "count " + QString::number(offset) << "error " + QString::number(DownloadPacketCrcError);
                break;
            }
            feed(payload, offset, check);
            QThread::usleep(PacketGapUs);
            if (at % EventLoopEvery == 0)
                QCoreApplication::processEvents();
            if (at + 1 == pauseAfter) {
                // Nothing more for a while: the count held back goes out at
                // the end of its interval, not with the next packet.
                const QString held = "count " + QString::number(offset + PacketBytes);
                QTRY_COMPARE_WITH_TIMEOUT(seen.last(), held, 3 * intervalMs);
            }
        }
        if (ending == Ending::Complete)
            expected << "count " + QString::number(fileSize);
    }
    if (ending == Ending::Complete)
        expected << QStringLiteral("finished");
    const qint64 elapsedMs = clock.elapsed();
    QCoreApplication::processEvents(); // nothing may come after the end
    QTest::qWait(2 * intervalMs);

    // Every start, the end or the failure, each directly after the last
    // count before it; counts rise within a file.
    const auto isCount = [&](int at) { return at < seen.size() && seen.at(at).startsWith(QLatin1String("count ")); };
    QStringList landmarks;
    qulonglong previous = 0;
    for (int at = 0; at < seen.size(); ++at) {
        if (!isCount(at)) {
            previous = 0;
            landmarks << seen.at(at);
            continue;
        }
        const qulonglong bytes = seen.at(at).mid(6).toULongLong();
        QVERIFY2(bytes > previous, qPrintable(seen.mid(at - 1, 2).join(", ")));
        previous = bytes;
        if (!isCount(at + 1))
            landmarks << seen.at(at);
    }
    QCOMPARE(landmarks, expected);

    if (intervalMs == 0) {
        QCOMPARE(counts, files * packets);
        return;
    }
    // Paced: counts that follow each other are an interval apart, except the
    // one sent early ahead of a start, the end or a failure; a burst takes a
    // few per interval, not one per packet.
    for (int at = 1; at < seen.size(); ++at) {
        if (isCount(at - 1) && isCount(at) && isCount(at + 1))
            QVERIFY2(when.at(at) - when.at(at - 1) >= intervalMs - 1, qPrintable(seen.mid(at - 1, 2).join(", ")));
    }
    QVERIFY2(counts <= files * 3 + int(elapsedMs / intervalMs), qPrintable(QString::number(counts)));
    QVERIFY2(counts >= 2 * files, qPrintable(QString::number(counts)));
}

QTEST_GUILESS_MAIN(TestProgressPacing)
#include "tst_progresspacing.moc"
