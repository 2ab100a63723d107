// zv-transfer over whole trees, run as a separate process against the
// simulator: get -r mirrors a tree exactly, sync takes only what is new and
// remembers it across runs, interruptions and damage, --dry-run writes
// nothing, --watch follows a recorder that comes and goes, and folder names
// cannot lead outside the destination.
#include <QTcpSocket>
#include <csignal>

#include "datarows.h"
#include "protocol/zvcommand.h"
#include "transferrun.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString RecordName = QStringLiteral(".zv-transfer-sync.json");
} // namespace

class tst_ZVSync : public TransferRun
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void treeMirroredExactly();
    void syncTakesOnlyWhatIsNew();
    void interruptedSyncResumesWithTheNextFile();
    void dryRunWritesNothing_data();
    void dryRunWritesNothing();
    void damagedRecordIsSetAside_data();
    void damagedRecordIsSetAside();
    void watchSyncsEachTimeTheRecorderComes();
    void watchEndsOnEverySignal_data();
    void watchEndsOnEverySignal();
    void treeLeftAsFound_data();
    void treeLeftAsFound();
    void hostileFolderStaysOutside();

private:
    QStringList sync(const QStringList &more = {}) const
    {
        return host({"sync", "--music", "--dest", dest->path()}) + more;
    }
};

void tst_ZVSync::initTestCase()
{
    QVERIFY(QDir(tree.path()).mkpath("music/F"));
    QVERIFY(QDir(tree.path()).mkpath("mtr"));
    QVERIFY(writeFile(tree.filePath("music/A.WAV"), pattern(3000, 1)));
    QVERIFY(writeFile(tree.filePath("music/B.WAV"), pattern(100000, 2)));
    QVERIFY(writeFile(tree.filePath("music/F/C.WAV"), pattern(5000, 3)));
    // Tells a listing of the multitrack tree's top from the music tree's.
    QVERIFY(writeFile(tree.filePath("mtr/M.WAV"), pattern(600, 7)));
    // No settings file of the program's may decide anything here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tree.filePath("config")));
}

// Names, contents, recording times and empty folders, in both trees.
void tst_ZVSync::treeMirroredExactly()
{
    QTemporaryDir demo;
    QVERIFY(sim->useDemoTrees(demo.path()));
    QCOMPARE(run(host({"get", "-r", "--both", "--dest", dest->path()})), 0);
    QVERIFY2(output.contains("downloaded 18, skipped 0, failed 0"), output.constData());
    QCOMPARE(snapshot(dest->filePath("MUSIC")), snapshot(sim->musicRoot()));
    QCOMPARE(snapshot(dest->filePath("MTR")), snapshot(sim->mtrRoot()));
    QVERIFY(QFileInfo(dest->filePath("MUSIC/EMPTY")).isDir());

    // A tree without a recording matched nothing.
    QCOMPARE(run(host({"--mtr", "get", "-r", "SONG0003", "--dest", dest->path()})), 4);
}

void tst_ZVSync::syncTakesOnlyWhatIsNew()
{
    QCOMPARE(run(sync()), 0);
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0"), output.constData());
    QCOMPARE(readAll(dest->filePath("MUSIC/F/C.WAV")), pattern(5000, 3));
    QCOMPARE(run(sync()), 0);
    QVERIFY2(output.contains("downloaded 0, skipped 0, failed 0") && output.contains("up to date: 3"),
             output.constData());

    // Deleted here: left alone, and named, until asked for again.
    QVERIFY(QFile::remove(dest->filePath("MUSIC/A.WAV")));
    QCOMPARE(run(sync()), 0);
    QVERIFY2(output.contains("not fetched again: 1 recording") && output.contains("MUSIC/A.WAV"), output.constData());
    QVERIFY(!QFile::exists(dest->filePath("MUSIC/A.WAV")));
    QCOMPARE(run(sync({"--again"})), 0);
    QCOMPARE(readAll(dest->filePath("MUSIC/A.WAV")), pattern(3000, 1));

    // Changed on the recorder: taken again under the rule (newer): C's size
    // (overwritten), A's time only (the same size: kept); D is new.
    const auto setTime = [](const QString &path, const QDateTime &time) {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
    };
    const QString a = tree.filePath("music/A.WAV");
    const QString c = tree.filePath("music/F/C.WAV");
    const QDateTime aTime = QFileInfo(a).lastModified();
    const QDateTime cTime = QFileInfo(c).lastModified();
    QVERIFY(writeFile(c, pattern(6000, 4)) && setTime(c, cTime));
    QVERIFY(setTime(a, aTime.addSecs(3600)));
    QVERIFY(writeFile(tree.filePath("music/F/D.WAV"), pattern(700, 5)));
    QCOMPARE(run(sync({"--rule", "newer"})), 0);
    QVERIFY2(output.contains("downloaded 2, skipped 1, failed 0"), output.constData());
    QCOMPARE(readAll(dest->filePath("MUSIC/F/C.WAV")), pattern(6000, 4));
    QVERIFY(QFile::remove(tree.filePath("music/F/D.WAV")));
    QVERIFY(writeFile(c, pattern(5000, 3)) && setTime(c, cTime) && setTime(a, aTime));
}

// The record is written after every file: a run killed outright goes on
// with the file after the last one it finished.
void tst_ZVSync::interruptedSyncResumesWithTheNextFile()
{
    sim->setThrottle(150000);
    const int killed = run(sync(), 60000, [this](QProcess &process) {
        if (output.contains("MUSIC/A.WAV") && output.contains("done"))
            process.kill();
    });
    QCOMPARE(killed, -1);
    QVERIFY2(!output.contains("B.WAV"), output.constData());
    sim->setThrottle(0);
    QCOMPARE(run(sync()), 0);
    QVERIFY2(!output.contains("A.WAV"), output.constData());
    QVERIFY2(output.contains("downloaded 2, skipped 0, failed 0") && output.contains("up to date: 1"),
             output.constData());
    QCOMPARE(readAll(dest->filePath("MUSIC/B.WAV")), pattern(100000, 2));
}

using DryRow = std::tuple<QStringList, bool, QString>; // arguments, damaged record, a line also told

void tst_ZVSync::dryRunWritesNothing_data()
{
    addColumns<DryRow>();
    // Folders are never left out without a word, not even in a dry run.
    QTest::addRow("get") << QStringList{"get", "--all"} << false << "left out 1 folder (get -r takes them): F\n";
    QTest::addRow("get-r") << QStringList{"get", "-r"} << false << "would download";
    QTest::addRow("sync") << QStringList{"sync", "--music"} << false << "would download";
    QTest::addRow("sync-damaged-record") << QStringList{"sync", "--music"} << true << "would download";
}

void tst_ZVSync::dryRunWritesNothing()
{
    const auto [arguments, damagedRecord, told] = fetchRow<DryRow>();
    if (damagedRecord)
        QVERIFY(writeFile(dest->filePath(RecordName), "{damaged"));
    const auto before = snapshot(dest->path());
    QCOMPARE(run(host({"-n", "--dest", dest->filePath("new")}) + arguments), 0);
    QCOMPARE(snapshot(dest->path()), before);
    QVERIFY2(QString::fromUtf8(output).contains(
                 QRegularExpression("^(MUSIC/)?A\\.WAV .* would fetch$", QRegularExpression::MultilineOption)),
             output.constData());
    QVERIFY2(output.contains("would download") && output.contains(told.toUtf8()), output.constData());

    // Into the folder that holds the damaged record.
    if (damagedRecord) {
        QCOMPARE(run(host({"-n", "--dest", dest->path()}) + arguments), 0);
        QCOMPARE(snapshot(dest->path()), before);
        QVERIFY2(errors.contains("is damaged"), errors.constData());
    }
}

void tst_ZVSync::damagedRecordIsSetAside_data()
{
    addColumns<std::tuple<QByteArray>>();
    QTest::addRow("not-json") << QByteArray("{\"version\": 1, \"files\": [");
    QTest::addRow("other-version") << QByteArray("{\"version\": 7, \"files\": []}");
    // A record that says A.WAV lies outside the folder (where a file of that
    // name exists) would keep it from being fetched.
    QTest::addRow("local-path-outside") << QByteArray("{\"version\": 1, \"files\": [{\"tree\": \"music\", \"path\": "
                                                      "\"A.WAV\", \"size\": 3000, \"recorded\": \"\", \"local\": "
                                                      "\"../outside/A.WAV\", \"when\": \"\"}]}");
}

void tst_ZVSync::damagedRecordIsSetAside()
{
    const auto [record] = fetchRow<std::tuple<QByteArray>>();
    QVERIFY(QDir(dest->path()).mkpath("inner"));
    QVERIFY(QDir(dest->path()).mkpath("outside"));
    QVERIFY(writeFile(dest->filePath("outside/A.WAV"), "x"));
    QVERIFY(writeFile(dest->filePath("inner/" + RecordName), record));
    const QStringList args = host({"sync", "--music", "--dest", dest->filePath("inner")});
    QCOMPARE(run(args), 0);
    QVERIFY2(errors.contains("is damaged") && errors.contains("set aside"), errors.constData());
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0"), output.constData());
    const QStringList aside
        = QDir(dest->filePath("inner")).entryList({RecordName + ".damaged-*"}, QDir::Files | QDir::Hidden);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(dest->filePath("inner/" + aside.first())), record);
    // The new record is one the next run trusts (once is enough).
    if (QTest::currentDataTag() != QByteArray("not-json"))
        return;
    QCOMPARE(run(args), 0);
    QVERIFY2(output.contains("up to date: 3") && errors.isEmpty(), output.constData());
}

// Each sync leaves the recorder on the tree it found it on (the multitrack
// one here; the syncs take the music tree).
void tst_ZVSync::watchSyncsEachTimeTheRecorderComes()
{
    sim->close();
    sim->setRecordMode(1);
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
    QVERIFY(sim->listen(QHostAddress(Address), 8010));
    QVERIFY2(waitFor("sync done", 1), seen.constData());
    QCOMPARE(sim->recordMode(), 1);
    QTest::qWait(300); // still there: no second sync
    QCOMPARE(seen.count("recorder appeared"), 1);

    sim->close();
    QVERIFY2(waitFor("recorder left", 1), seen.constData());
    QVERIFY(writeFile(tree.filePath("music/F/E.WAV"), pattern(900, 6)));
    QVERIFY(sim->listen(QHostAddress(Address), 8010));
    QVERIFY2(waitFor("sync done", 2), seen.constData());
    QCOMPARE(sim->recordMode(), 1);
    QVERIFY(QFile::remove(tree.filePath("music/F/E.WAV")));
    QCOMPARE(readAll(dest->filePath("MUSIC/F/E.WAV")), pattern(900, 6));
    QVERIFY2(seen.contains("downloaded 1, skipped 0, failed 0"), seen.constData());

    ::kill(pid_t(watch.processId()), SIGINT);
    QVERIFY(QTest::qWaitFor([&] { return watch.state() == QProcess::NotRunning; }, 5000));
    seen += watch.readAllStandardOutput();
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    QCOMPARE(seen.count("recorder appeared"), 2);
    QVERIFY2(seen.trimmed().endsWith("stopped"), seen.constData());
}

using WatchSignalRow = std::tuple<QString, int>; // when the signal comes, exit code

void tst_ZVSync::watchEndsOnEverySignal_data()
{
    addColumns<WatchSignalRow>();
    // Perhaps before the program is there to catch it: then the signal's own
    // ending is the answer.
    QTest::addRow("at-start") << "start" << 0;
    QTest::addRow("while-connecting") << "busy" << 0;
    // Cancels the sync, puts the recorder back on its tree, and tells it.
    QTest::addRow("during-a-sync") << "download" << 130;
}

void tst_ZVSync::watchEndsOnEverySignal()
{
    const auto [when, code] = fetchRow<WatchSignalRow>();
    environment.insert("ZV_TRANSFER_POLL_MS", "100");
    sim->setRecordMode(1);
    bool ready = when == QLatin1String("start");
    QTcpSocket other;
    if (when == QLatin1String("busy")) {
        // Another program holds the recorder: the sync's link is held.
        other.connectToHost(Address, 8010);
        QVERIFY(other.waitForConnected(2000));
        QTRY_VERIFY(sim->hasClient());
        connect(sim, &RecorderSimulator::connectionHeld, this, [&] { ready = true; });
    } else {
        sim->setThrottle(2000); // C.WAV takes 2.5 s
        sim->setChunkSize(500);
        sim->setSendWindow(500); // so that a cancel takes back what is not out yet
        connect(sim, &RecorderSimulator::downloadStarted, this, [&] { ready = true; });
    }
    QElapsedTimer sinceSignal;
    const int ended = run(sync({"--watch"}), 30000, [&](QProcess &process) {
        if (ready && !sinceSignal.isValid() && ::kill(pid_t(process.processId()), SIGINT) == 0)
            sinceSignal.start();
    });
    QVERIFY2(ended == code || (when == QLatin1String("start") && ended == -1 && killedBy == SIGINT),
             qPrintable(QString::number(ended) + ' ' + output + errors));
    // Within the tool's own bounds for the cancel's confirmation (1 s) and
    // the restore (4 s), with room for a slow machine.
    QVERIFY2(sinceSignal.elapsed() < 6000, qPrintable(QString::number(sinceSignal.elapsed())));
    QCOMPARE(sim->recordMode(), 1);
}

// arguments, tree at the start, fault, exit code, switches asked for
using TreeRow = std::tuple<QStringList, int, QString, int, int>;

// Whatever a command switched to, the recorder ends on the tree it was on
// when the command connected: told by its top listing, and when both trees
// list alike (and cannot be told apart) the music tree. Each switch costs the
// recorder's pause: no more of them than it takes.
void tst_ZVSync::treeLeftAsFound_data()
{
    addColumns<TreeRow>();
    // Both trees, the multitrack one first: from the music tree no way back.
    QTest::addRow("sync-from-music") << QStringList{"sync"} << 0 << "" << 0 << 2;
    // Its top lists like the start: the music top tells, then back.
    QTest::addRow("sync-from-mtr") << QStringList{"sync"} << 1 << "" << 0 << 3;
    // The multitrack top lists like the start, and so does the music top.
    QTest::addRow("sync-mtr-trees-alike") << QStringList{"sync", "--mtr"} << 1 << "alike" << 0 << 2;
    QTest::addRow("dry-run-mtr-from-music") << QStringList{"sync", "-n", "--mtr"} << 0 << "" << 0 << 2;
    QTest::addRow("failing-get-r-music-from-mtr") << QStringList{"get", "-r", "--music"} << 1 << "corrupt" << 1 << 2;
    QTest::addRow("interrupted-sync-from-mtr") << QStringList{"sync", "--music"} << 1 << "sigint" << 130 << 2;
}

void tst_ZVSync::treeLeftAsFound()
{
    const auto [arguments, start, fault, code, switches] = fetchRow<TreeRow>();
    // Tops without folders: C.WAV (music) and M.WAV (multitrack).
    sim->setMusicRoot(tree.filePath("music/F"));
    if (fault == QLatin1String("alike"))
        sim->setMtrRoot(tree.filePath("music/F"));
    sim->setRecordMode(start);
    if (fault == QLatin1String("corrupt"))
        sim->setCorruptCheckAt(0);
    if (fault == QLatin1String("sigint")) {
        sim->setThrottle(2000); // C.WAV takes 2.5 s
        sim->setChunkSize(500);
        sim->setSendWindow(500); // so that a cancel takes back what is not out yet
    }
    bool started = false;
    bool signalled = false;
    int switched = 0;
    connect(sim, &RecorderSimulator::downloadStarted, this, [&] { started = true; });
    connect(sim, &RecorderSimulator::requestReceived, this,
            [&](const QByteArray &header) { switched += quint8(header.at(KIND_OFFSET)) == KIND_STATUS; });
    QCOMPARE(run(host(arguments + QStringList{"--dest", dest->path()}), 30000,
                 [&](QProcess &process) {
                     if (fault == QLatin1String("sigint") && started && !signalled)
                         signalled = ::kill(pid_t(process.processId()), SIGINT) == 0;
                 }),
             code);
    const int left = fault == QLatin1String("alike") ? 0 : start;
    QCOMPARE(sim->recordMode(), left);
    QCOMPARE(switched, switches);
    // As the next command finds it (once for each tree).
    if (arguments == QStringList{"sync"} && fault.isEmpty()) {
        QCOMPARE(run(host({"list"})), 0);
        QVERIFY2(output.contains("M.WAV") == (left == 1), output.constData());
    }
}

// The simulator's hostile entries include a folder "../up" at the top.
// Existing files named like the two harmless entries are kept, so that no
// download request goes out. A link in the destination named like a
// recorder's folder does not lead the files elsewhere either.
void tst_ZVSync::hostileFolderStaysOutside()
{
    sim->setHostileNames(true);
    const QString inner = dest->filePath("inner");
    QVERIFY(QDir(inner).mkpath("."));
    QVERIFY(QDir(dest->path()).mkpath("elsewhere"));
    QVERIFY(QFile::link(dest->filePath("elsewhere"), inner + "/F"));
    QVERIFY(writeFile(inner + "/cut", "1"));
    QVERIFY(writeFile(inner + "/wav", "2"));
    QCOMPARE(run(host({"get", "-r", "--rule", "skip", "--dest", inner})), 1);
    QVERIFY2(output.contains("skipped ../up/: refused, the name cannot be used safely (code : E10-"),
             output.constData());
    QVERIFY2(output.contains("skipped F/: not written"), output.constData());
    QCOMPARE(QDir(dest->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"elsewhere", "inner"}));
    QVERIFY(QDir(dest->filePath("elsewhere")).isEmpty());
    QCOMPARE(readAll(inner + "/B.WAV"), pattern(100000, 2));
}

QTEST_GUILESS_MAIN(tst_ZVSync)
#include "tst_zvsync.moc"
