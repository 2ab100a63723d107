// zv-transfer over whole trees, run as a separate process against the
// simulator: get -r mirrors a tree exactly, sync takes only what is new and
// remembers it across runs, interruptions and damage, --dry-run writes
// nothing, --watch follows a recorder that comes and goes, and folder names
// cannot lead outside the destination.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>

#include "controllerfixture.h"
#include "sim/recordersimulator.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString RecordName = QStringLiteral(".zv-transfer-sync.json");

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

// Every file and folder below `root`: relative path, then contents and
// modification time for files ("folder" for folders). Times are compared in
// the recorder's listing's steps of two seconds.
QStringList snapshot(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString path = QDir(root).relativeFilePath(info.filePath());
        const QString what = info.isDir()
            ? QStringLiteral("folder")
            : QString::fromLatin1(
                  QCryptographicHash::hash(readAll(info.filePath()), QCryptographicHash::Sha256).toHex())
                + QLatin1Char(' ') + QString::number(info.lastModified().toSecsSinceEpoch() / 2);
        entries << path + QLatin1Char(' ') + what;
    }
    entries.sort();
    return entries;
}
} // namespace

class tst_ZVSync : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void treeMirroredExactly();
    void syncTakesOnlyWhatIsNew();
    void interruptedSyncResumesWithTheNextFile();
    void dryRunWritesNothing_data();
    void dryRunWritesNothing();
    void damagedRecordIsSetAside_data();
    void damagedRecordIsSetAside();
    void watchSyncsEachTimeTheRecorderComes();
    void hostileFolderStaysOutside();
    void getAllNamesTheFoldersItLeavesOut_data();
    void getAllNamesTheFoldersItLeavesOut();

private:
    // Runs zv-transfer while this thread's event loop serves the simulator;
    // the exit code, -1 when it did not end in time or died. `during` is
    // called about every 20 ms with everything written so far.
    int run(const QStringList &arguments, int timeoutMs = 60000,
            const std::function<void(QProcess &, const QByteArray &)> &during = nullptr);
    QStringList sync(const QStringList &more = {}) const
    {
        return QStringList{"--host", Address, "sync", "--music", "--dest", dest->path()} + more;
    }
    bool startSimulator(bool hostile = false);

    QTemporaryDir tree; // music/ and mtr/, small
    QTemporaryDir *dest = nullptr;
    RecorderSimulator *sim = nullptr;
    QByteArray output;
    QByteArray errors;
};

void tst_ZVSync::initTestCase()
{
    QVERIFY(QDir(tree.path()).mkpath("music/F"));
    QVERIFY(QDir(tree.path()).mkpath("mtr"));
    QVERIFY(writeFile(tree.filePath("music/A.WAV"), pattern(3000, 1)));
    QVERIFY(writeFile(tree.filePath("music/B.WAV"), pattern(100000, 2)));
    QVERIFY(writeFile(tree.filePath("music/F/C.WAV"), pattern(5000, 3)));
    // No settings file of the program's may decide anything here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tree.filePath("config")));
}

void tst_ZVSync::init()
{
    dest = new QTemporaryDir;
    QVERIFY(startSimulator());
}

void tst_ZVSync::cleanup()
{
    delete sim;
    sim = nullptr;
    delete dest;
}

bool tst_ZVSync::startSimulator(bool hostile)
{
    delete sim;
    sim = new RecorderSimulator;
    sim->setMusicRoot(tree.filePath("music"));
    sim->setMtrRoot(tree.filePath("mtr"));
    sim->setHostileNames(hostile);
    return sim->listen(QHostAddress(Address), 8010);
}

int tst_ZVSync::run(const QStringList &arguments, int timeoutMs,
                    const std::function<void(QProcess &, const QByteArray &)> &during)
{
    QProcess process;
    output.clear();
    process.start(QStringLiteral(ZV_TRANSFER_BIN), arguments);
    if (!process.waitForStarted(5000))
        return -1;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs) {
        QTest::qWait(20);
        output += process.readAllStandardOutput();
        if (during && process.state() == QProcess::Running)
            during(process, output);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    output += process.readAllStandardOutput();
    errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Names, contents, recording times and empty folders, in both trees.
void tst_ZVSync::treeMirroredExactly()
{
    QTemporaryDir demo;
    QVERIFY(sim->useDemoTrees(demo.path()));
    QCOMPARE(run({"--host", Address, "get", "-r", "--both", "--dest", dest->path()}), 0);
    QVERIFY2(output.contains("downloaded 18, skipped 0, failed 0"), output.constData());
    QCOMPARE(snapshot(dest->filePath("MUSIC")), snapshot(sim->musicRoot()));
    QCOMPARE(snapshot(dest->filePath("MTR")), snapshot(sim->mtrRoot()));
    QVERIFY(QFileInfo(dest->filePath("MUSIC/EMPTY")).isDir());

    // A tree without a recording matched nothing.
    QCOMPARE(run({"--host", Address, "--mtr", "get", "-r", "SONG0003", "--dest", dest->path()}), 4);
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
    const int killed = run(sync(), 60000, [](QProcess &process, const QByteArray &so) {
        if (so.contains("MUSIC/A.WAV") && so.contains("done"))
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

void tst_ZVSync::dryRunWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("damagedRecord");
    QTest::addRow("get") << QStringList{"get", "--all"} << false;
    QTest::addRow("get-r") << QStringList{"get", "-r"} << false;
    QTest::addRow("sync") << QStringList{"sync", "--music"} << false;
    QTest::addRow("sync-damaged-record") << QStringList{"sync", "--music"} << true;
}

void tst_ZVSync::dryRunWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, damagedRecord);
    if (damagedRecord)
        QVERIFY(writeFile(dest->filePath(RecordName), "{damaged"));
    const auto before = snapshot(dest->path());
    QCOMPARE(run(QStringList{"--host", Address, "-n", "--dest", dest->filePath("new")} + arguments), 0);
    QCOMPARE(snapshot(dest->path()), before);
    QVERIFY2(QString::fromUtf8(output).contains(
                 QRegularExpression("^(MUSIC/)?A\\.WAV .* would fetch$", QRegularExpression::MultilineOption)),
             output.constData());
    QVERIFY2(output.contains("would download"), output.constData());

    // Into the folder that holds the damaged record.
    if (damagedRecord) {
        QCOMPARE(run(QStringList{"--host", Address, "-n", "--dest", dest->path()} + arguments), 0);
        QCOMPARE(snapshot(dest->path()), before);
        QVERIFY2(errors.contains("is damaged"), errors.constData());
    }
}

void tst_ZVSync::damagedRecordIsSetAside_data()
{
    QTest::addColumn<QByteArray>("record");
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
    QFETCH(QByteArray, record);
    QVERIFY(QDir(dest->path()).mkpath("inner"));
    QVERIFY(QDir(dest->path()).mkpath("outside"));
    QVERIFY(writeFile(dest->filePath("outside/A.WAV"), "x"));
    QVERIFY(writeFile(dest->filePath("inner/" + RecordName), record));
    const QStringList args{"--host", Address, "sync", "--music", "--dest", dest->filePath("inner")};
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

void tst_ZVSync::watchSyncsEachTimeTheRecorderComes()
{
    sim->close();
    QProcess watch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZV_TRANSFER_POLL_MS", "100");
    watch.setProcessEnvironment(environment);
    watch.start(QStringLiteral(ZV_TRANSFER_BIN), sync({"--watch"}));
    QVERIFY(watch.waitForStarted(5000));
    QByteArray seen;
    const auto waitFor = [&](const QByteArray &text, int count) {
        return QTest::qWaitFor(
            [&] {
                seen += watch.readAllStandardOutput();
                return seen.count(text) >= count;
            },
            20000);
    };
    QVERIFY2(waitFor("watching for", 1), seen.constData());
    QTest::qWait(300); // a few looks find nobody
    QVERIFY(sim->listen(QHostAddress(Address), 8010));
    QVERIFY2(waitFor("sync done", 1), seen.constData());
    QTest::qWait(300); // still there: no second sync
    QCOMPARE(seen.count("recorder appeared"), 1);

    sim->close();
    QVERIFY2(waitFor("recorder left", 1), seen.constData());
    QVERIFY(writeFile(tree.filePath("music/F/E.WAV"), pattern(900, 6)));
    QVERIFY(sim->listen(QHostAddress(Address), 8010));
    QVERIFY2(waitFor("sync done", 2), seen.constData());
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

// The simulator's hostile entries include a folder "../up" at the top.
// Existing files named like the two harmless entries are kept, so that no
// download request goes out. A link in the destination named like a
// recorder's folder does not lead the files elsewhere either.
void tst_ZVSync::hostileFolderStaysOutside()
{
    QVERIFY(startSimulator(true));
    const QString inner = dest->filePath("inner");
    QVERIFY(QDir(inner).mkpath("."));
    QVERIFY(QDir(dest->path()).mkpath("elsewhere"));
    QVERIFY(QFile::link(dest->filePath("elsewhere"), inner + "/F"));
    QVERIFY(writeFile(inner + "/cut", "1"));
    QVERIFY(writeFile(inner + "/wav", "2"));
    QCOMPARE(run({"--host", Address, "get", "-r", "--rule", "skip", "--dest", inner}), 1);
    QVERIFY2(output.contains("skipped ../up/: refused, the name cannot be used safely (code : E10-"),
             output.constData());
    QVERIFY2(output.contains("skipped F/: not written"), output.constData());
    QCOMPARE(QDir(dest->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"elsewhere", "inner"}));
    QVERIFY(QDir(dest->filePath("elsewhere")).isEmpty());
    QCOMPARE(readAll(inner + "/B.WAV"), pattern(100000, 2));
}

void tst_ZVSync::getAllNamesTheFoldersItLeavesOut_data()
{
    QTest::addColumn<QStringList>("more");
    QTest::addRow("get") << QStringList();
    QTest::addRow("dry-run") << QStringList{"-n"};
}

void tst_ZVSync::getAllNamesTheFoldersItLeavesOut()
{
    QFETCH(QStringList, more);
    QCOMPARE(run(QStringList{"--host", Address, "get", "--all", "--dest", dest->path()} + more), 0);
    QVERIFY2(output.contains("left out 1 folder (get -r takes them): F\n"), output.constData());
}

QTEST_GUILESS_MAIN(tst_ZVSync)
#include "tst_zvsync.moc"
