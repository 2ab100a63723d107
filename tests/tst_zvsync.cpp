// zv-transfer sync, run as a separate process against the simulator: it
// takes only what is new and remembers it across runs, interruptions and
// damage, and --watch follows a recorder that comes and goes. Whole trees,
// dry runs and tree switches: tst_zvtree; signals: tst_zvtransfer and
// tst_zvtree.
#include "base/zvrecordmode.h"
#include "transferrun.h"

namespace {
const QString RecordName = QStringLiteral(".zv-transfer-sync.json");
} // namespace

class tst_ZVSync : public TransferRun
{
    Q_OBJECT

    QStringList sync(const QStringList &more = {}) const
    {
        return host({"sync", "--music", "--dest", dest->path()}) + more;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(makeTree({{"music/A.WAV", pattern(3000, 1)},
                          {"music/B.WAV", pattern(100000, 2)},
                          {"music/F/C.WAV", pattern(5000, 3)},
                          {"mtr/M.WAV", pattern(600, 7)}}));
    }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void syncTakesOnlyWhatIsNew()
    {
        QCOMPARE(run(sync()), Exit::Done);
        QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0"), output.constData());
        QCOMPARE(readAll(dest->filePath("MUSIC/F/C.WAV")), pattern(5000, 3));

        // Taken before: up to date. Deleted here: left alone, and named, until
        // asked for again.
        QVERIFY(QFile::remove(dest->filePath("MUSIC/A.WAV")));
        QCOMPARE(run(sync()), Exit::Done);
        QVERIFY2(output.contains("downloaded 0, skipped 0, failed 0") && output.contains("up to date: 2"),
                 output.constData());
        QVERIFY2(output.contains("not fetched again: 1 recording") && output.contains("MUSIC/A.WAV"),
                 output.constData());

        // --again fetches A. Changed on the recorder: taken again under the rule
        // (newer): C's size (overwritten), B's time only (the same size: kept);
        // D is new.
        const auto setTime = [](const QString &path, const QDateTime &time) {
            QFile file(path);
            return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
        };
        const QString b = tree.filePath("music/B.WAV");
        const QString c = tree.filePath("music/F/C.WAV");
        const QDateTime bTime = QFileInfo(b).lastModified();
        const QDateTime cTime = QFileInfo(c).lastModified();
        QVERIFY(writeFile(c, pattern(6000, 4)) && setTime(c, cTime));
        QVERIFY(setTime(b, bTime.addSecs(3600)));
        QVERIFY(writeFile(tree.filePath("music/F/D.WAV"), pattern(700, 5)));
        QCOMPARE(run(sync({"--again", "--rule", "newer"})), Exit::Done);
        QVERIFY2(output.contains("downloaded 3, skipped 1, failed 0"), output.constData());
        QCOMPARE(readAll(dest->filePath("MUSIC/F/C.WAV")), pattern(6000, 4));
        QVERIFY(QFile::remove(tree.filePath("music/F/D.WAV")));
        QVERIFY(writeFile(c, pattern(5000, 3)) && setTime(c, cTime) && setTime(b, bTime));
    }

    // The record is written after every file: a run killed outright goes on
    // with the file after the last one it finished.
    void interruptedSyncResumesWithTheNextFile()
    {
        sim->setThrottle(150000);
        const int killed = run(sync(), [this](QProcess &process) {
            if (output.contains("MUSIC/A.WAV") && output.contains("done"))
                process.kill();
        });
        QCOMPARE(killed, 128 + SIGKILL);
        QVERIFY2(!output.contains("B.WAV"), output.constData());
        sim->setThrottle(0);
        QCOMPARE(run(sync()), Exit::Done);
        QVERIFY2(!output.contains("A.WAV"), output.constData());
        QVERIFY2(output.contains("downloaded 2, skipped 0, failed 0") && output.contains("up to date: 1"),
                 output.constData());
        QCOMPARE(readAll(dest->filePath("MUSIC/B.WAV")), pattern(100000, 2));
    }

    void damagedRecordIsSetAside_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("runAgain"); // the new record is one the next run trusts
        QTest::addRow("not-json") << QByteArray("{\"version\": 1, \"files\": [") << true;
        QTest::addRow("other-version") << QByteArray("{\"version\": 7, \"files\": []}") << false;
        // A record that says C.WAV lies outside the folder (where a file of that
        // name exists) would keep it from being fetched.
        QTest::addRow("local-path-outside")
            << QByteArray("{\"version\": 1, \"files\": [{\"tree\": \"music\", \"path\": "
                          "\"C.WAV\", \"size\": 5000, \"recorded\": \"\", \"local\": "
                          "\"../outside/C.WAV\", \"when\": \"\"}]}")
            << false;
    }
    void damagedRecordIsSetAside()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, runAgain);
        sim->setMusicRoot(tree.filePath("music/F")); // C.WAV alone
        QVERIFY(QDir(dest->path()).mkpath("inner"));
        QVERIFY(QDir(dest->path()).mkpath("outside"));
        QVERIFY(writeFile(dest->filePath("outside/C.WAV"), "x"));
        QVERIFY(writeFile(dest->filePath("inner/" + RecordName), record));
        const QStringList args = host({"sync", "--music", "--dest", dest->filePath("inner")});
        QCOMPARE(run(args), Exit::Done);
        QVERIFY2(errors.contains("is damaged") && errors.contains("set aside"), errors.constData());
        QVERIFY2(output.contains("downloaded 1, skipped 0, failed 0"), output.constData());
        const QStringList aside
            = QDir(dest->filePath("inner")).entryList({RecordName + ".damaged-*"}, QDir::Files | QDir::Hidden);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(dest->filePath("inner/" + aside.first())), record);
        if (!runAgain)
            return;
        QCOMPARE(run(args), Exit::Done);
        QVERIFY2(output.contains("up to date: 1") && errors.isEmpty(), output.constData());
    }

    // Each sync leaves the recorder on the tree it found it on (the multitrack
    // one here; the syncs take the music tree).
    void watchSyncsEachTimeTheRecorderComes()
    {
        sim->close();
        sim->setRecordMode(RecordModeMTR);
        sim->setMusicRoot(tree.filePath("music/F"));
        QProcess watch;
        environment.insert("ZV_TRANSFER_POLL_MS", "100");
        watch.setProcessEnvironment(environment);
        watch.start(QStringLiteral(ZV_TRANSFER_BIN), sync({"--watch"}));
        QVERIFY(watch.waitForStarted(5000));
        QByteArray seen;
        const auto waitFor = [&](const QByteArray &text, int count) {
            return QTest::qWaitFor([&] { return (seen += watch.readAllStandardOutput()).count(text) >= count; }, 20000);
        };
        QVERIFY2(waitFor("watching for", 1), seen.constData());
        QTest::qWait(300); // a few looks find nobody
        QVERIFY(sim->listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), 8010));
        QVERIFY2(waitFor("sync done", 1), seen.constData());
        QCOMPARE(sim->recordMode(), int(RecordModeMTR));
        QTest::qWait(300); // still there: no second sync (counted at the end)

        sim->close();
        QVERIFY2(waitFor("recorder left", 1), seen.constData());
        QVERIFY(writeFile(tree.filePath("music/F/E.WAV"), pattern(900, 6)));
        QVERIFY(sim->listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), 8010));
        QVERIFY2(waitFor("sync done", 2), seen.constData());
        QVERIFY(QFile::remove(tree.filePath("music/F/E.WAV")));
        QCOMPARE(readAll(dest->filePath("MUSIC/E.WAV")), pattern(900, 6));
        QVERIFY2(seen.contains("downloaded 1, skipped 0, failed 0"), seen.constData());

        ::kill(pid_t(watch.processId()), SIGINT);
        QVERIFY(QTest::qWaitFor([&] { return watch.state() == QProcess::NotRunning; }, 5000));
        seen += watch.readAllStandardOutput();
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), Exit::Done);
        QCOMPARE(seen.count("recorder appeared"), 2);
        QVERIFY2(seen.trimmed().endsWith("stopped"), seen.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ZVSync)
#include "tst_zvsync.moc"
