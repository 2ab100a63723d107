// The relay that carries per-packet byte counts from the controller's thread
// to the window's: order with the other signals, the last count of every
// file, and coalescing under a burst.
#include <QStringList>
#include <QThread>
#include <QtTest>

#include "base/threadjoin.h"
#include "datarows.h"
#include "recorder/progressrelay.h"

// Stands in for the controller: emits a scripted download on its own thread.
class ScriptedSender : public QObject
{
    Q_OBJECT
public:
    int files = 1;
    int counts = 1;
    int pauseEvery = 0; // sleep past the relay's interval every N counts
    int pauseMs = 0;
    bool endWithSignal = true;

signals:
    void started(const QString &name);
    void counted(qulonglong bytes);
    void finished();

public slots:
    void run()
    {
        for (int file = 0; file < files; ++file) {
            emit started(QString::number(file));
            for (int count = 1; count <= counts; ++count) {
                emit counted(qulonglong(count));
                if (pauseEvery > 0 && count % pauseEvery == 0)
                    QThread::msleep(ulong(pauseMs));
            }
        }
        if (endWithSignal)
            emit finished();
    }
};

class TestProgressRelay : public QObject
{
    Q_OBJECT
private slots:
    void keepsOrderAndLastCounts_data();
    void keepsOrderAndLastCounts();
};

using RelayRow = std::tuple<int, int, int, int, bool>;

void TestProgressRelay::keepsOrderAndLastCounts_data()
{
    // The relay's interval, files, counts per file, a pause after every N
    // counts, whether a signal follows the last count.
    addColumns<RelayRow>();

    QTest::newRow("burst, interval") << 20 << 3 << 20000 << 0 << true;
    QTest::newRow("burst, no interval") << 0 << 3 << 20000 << 0 << true;
    // Pauses longer than the interval: the slot is handed back between
    // counts and the next count must be posted again, not lost.
    QTest::newRow("trickle") << 5 << 2 << 40 << 4 << true;
    // Nothing follows the last count: the interval timer has to deliver it.
    QTest::newRow("last count without a following signal") << 20 << 1 << 5000 << 0 << false;
    QTest::newRow("trickle, last count without a following signal") << 5 << 1 << 12 << 3 << false;
}

void TestProgressRelay::keepsOrderAndLastCounts()
{
    const auto [intervalMs, files, counts, pauseEvery, endWithSignal] = fetchRow<RelayRow>();

    QThread thread;
    ScriptedSender sender;
    sender.files = files;
    sender.counts = counts;
    sender.pauseEvery = pauseEvery;
    sender.pauseMs = intervalMs * 3 + 5;
    sender.endWithSignal = endWithSignal;
    sender.moveToThread(&thread);
    watchThreadEnd(&thread);

    // The relay first, as the window does; then the receiver's own connections.
    ProgressRelay relay(&sender, "counted(qulonglong)", intervalMs);
    QStringList seen;
    int deliveries = 0;
    connect(&relay, &ProgressRelay::progress, this, [&](qulonglong bytes) {
        ++deliveries;
        seen << QString::number(bytes);
    });
    connect(&sender, &ScriptedSender::started, this, [&](const QString &name) { seen << "start " + name; });
    connect(&sender, &ScriptedSender::finished, this, [&] { seen << "finished"; });

    thread.start();
    QMetaObject::invokeMethod(&sender, &ScriptedSender::run, Qt::QueuedConnection);
    const QString last = endWithSignal ? QStringLiteral("finished") : QString::number(counts);
    QTRY_COMPARE_WITH_TIMEOUT(seen.isEmpty() ? QString() : seen.last(), last, 20000);
    stopThread(&thread);
    QCoreApplication::processEvents(); // nothing may arrive after the end
    QCOMPARE(seen.last(), last);

    // Each file: its start, rising counts ending with the file's last, then
    // the next file's start (or the end).
    int at = 0;
    for (int file = 0; file < files; ++file) {
        QCOMPARE(seen.value(at++), "start " + QString::number(file));
        qulonglong previous = 0;
        while (at < seen.size() && !seen.at(at).startsWith(QLatin1String("start")) && seen.at(at) != "finished") {
            const qulonglong bytes = seen.at(at++).toULongLong();
            QVERIFY2(bytes > previous, qPrintable(seen.mid(at - 2, 3).join(' ')));
            previous = bytes;
        }
        QCOMPARE(previous, qulonglong(counts));
    }
    if (endWithSignal)
        QCOMPARE(seen.value(at++), QStringLiteral("finished"));
    QCOMPARE(at, seen.size());

    // A burst is carried by a few deliveries, not one per count.
    if (pauseEvery == 0 && intervalMs > 0)
        QVERIFY2(deliveries < files * counts / 10, qPrintable(QString::number(deliveries)));
}

QTEST_GUILESS_MAIN(TestProgressRelay)
#include "tst_progressrelay.moc"
