// The command-line companion, run as a separate process against the
// simulator: listing, downloads with each same-name rule, a failing file and
// the exit codes.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "sim/recordersimulator.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) & 0xFF);
    return bytes;
}
} // namespace

class tst_ZVTransfer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listAsTableAndJson();
    void getAllDownloadsExactly();
    void rules_data();
    void rules();
    void failingFileDoesNotStopTheOthers();
    void exitCodes_data();
    void exitCodes();

private:
    // Runs zv-transfer while this thread's event loop keeps serving the
    // simulator; returns the exit code, -1 when it did not end in time.
    int run(const QStringList &arguments, int timeoutMs = 30000);

    QTemporaryDir tree;
    QTemporaryDir *dest = nullptr;
    RecorderSimulator *sim = nullptr;
    QByteArray output;
    QByteArray errors;
};

void tst_ZVTransfer::initTestCase()
{
    QVERIFY(QDir(tree.path()).mkpath("music/TAKES"));
    QVERIFY(QDir(tree.path()).mkpath("mtr"));
    QVERIFY(writeFile(tree.filePath("music/A.WAV"), pattern(10000, 1)));
    QVERIFY(writeFile(tree.filePath("music/B.WAV"), pattern(100000, 2)));   // more than one data packet
    QVERIFY(writeFile(tree.filePath("music/C.WAV"), pattern(5000, 3)));
    QVERIFY(writeFile(tree.filePath("music/TAKES/T1.WAV"), pattern(2000, 4)));
    // No settings file of the program's may decide anything here.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tree.filePath("config")));
}

void tst_ZVTransfer::init()
{
    sim = new RecorderSimulator;
    sim->setMusicRoot(tree.filePath("music"));
    sim->setMtrRoot(tree.filePath("mtr"));
    QVERIFY(sim->listen(QHostAddress(Address), 8010));
    dest = new QTemporaryDir;
}

void tst_ZVTransfer::cleanup()
{
    delete sim;
    delete dest;
}

int tst_ZVTransfer::run(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(QStringLiteral(ZV_TRANSFER_BIN), arguments);
    if (!process.waitForStarted(5000))
        return -1;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    output = process.readAllStandardOutput();
    errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_ZVTransfer::listAsTableAndJson()
{
    QCOMPARE(run({"--host", Address, "list"}), 0);
    const QString table = QString::fromUtf8(output);
    QVERIFY2(table.contains(QRegularExpression("folder .* TAKES\\n")), qPrintable(table));
    QVERIFY2(table.contains(QRegularExpression("file .* 100000  B\\.WAV\\n")), qPrintable(table));

    QCOMPARE(run({"--host", Address, "list", "--json", "TAKES"}), 0);
    const QJsonArray entries = QJsonDocument::fromJson(output).array();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).toObject().value("name").toString(), QString("T1.WAV"));
    QCOMPARE(entries.at(0).toObject().value("size").toInt(), 2000);
    QCOMPARE(entries.at(0).toObject().value("folder").toBool(), false);
}

void tst_ZVTransfer::getAllDownloadsExactly()
{
    QCOMPARE(run({"--host", Address, "get", "--all", "--dest", dest->path()}), 0);
    for (const char *name : {"A.WAV", "B.WAV", "C.WAV"})
        QVERIFY2(readAll(dest->filePath(name)) == readAll(tree.filePath(QString("music/") + name)), name);
    QVERIFY(!QFile::exists(dest->filePath("TAKES")));
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0, 115000 bytes"), output.constData());

    QCOMPARE(run({"--host", Address, "get", "TAKES", "T1.WAV", "--dest", dest->path()}), 0);
    QVERIFY(readAll(dest->filePath("T1.WAV")) == pattern(2000, 4));
}

void tst_ZVTransfer::rules_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<bool>("sameSize");
    QTest::addColumn<QString>("writtenAs");   // empty: skipped
    QTest::addColumn<QString>("summary");

    QTest::addRow("newer-same-size") << "newer" << true << "" << "downloaded 0, skipped 1";
    QTest::addRow("newer-other-size") << "newer" << false << "A.WAV" << "downloaded 1, skipped 0";
    QTest::addRow("overwrite") << "overwrite" << true << "A.WAV" << "downloaded 1, skipped 0";
    QTest::addRow("rename") << "rename" << true << "A(1).WAV" << "downloaded 1, skipped 0";
    QTest::addRow("skip") << "skip" << false << "" << "downloaded 0, skipped 1";
}

void tst_ZVTransfer::rules()
{
    QFETCH(QString, rule);
    QFETCH(bool, sameSize);
    QFETCH(QString, writtenAs);
    QFETCH(QString, summary);

    const QByteArray existing = sameSize ? QByteArray(10000, 'x') : QByteArray("old");
    QVERIFY(writeFile(dest->filePath("A.WAV"), existing));
    QCOMPARE(run({"--host", Address, "get", "A.WAV", "--dest", dest->path(), "--rule", rule}), 0);
    QVERIFY2(output.contains(summary.toUtf8()), output.constData());
    if (!writtenAs.isEmpty())
        QVERIFY(readAll(dest->filePath(writtenAs)) == pattern(10000, 1));
    if (writtenAs != QLatin1String("A.WAV"))
        QCOMPARE(readAll(dest->filePath("A.WAV")), existing);
}

void tst_ZVTransfer::failingFileDoesNotStopTheOthers()
{
    sim->setCorruptCheckAt(1);   // only B.WAV has a second data packet
    QCOMPARE(run({"--host", Address, "get", "--all", "--dest", dest->path()}), 1);
    QVERIFY2(errors.contains("code : E6-"), errors.constData());
    QVERIFY2(output.contains("downloaded 2, skipped 0, failed 1"), output.constData());
    QVERIFY(readAll(dest->filePath("A.WAV")) == pattern(10000, 1));
    QVERIFY(readAll(dest->filePath("C.WAV")) == pattern(5000, 3));
}

void tst_ZVTransfer::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<int>("code");

    QTest::addRow("no-command") << QStringList{"--host", Address} << true << 2;
    QTest::addRow("unknown-command") << QStringList{"--host", Address, "push"} << true << 2;
    QTest::addRow("get-without-dest") << QStringList{"--host", Address, "get", "--all"} << true << 2;
    QTest::addRow("unknown-rule") << QStringList{"--host", Address, "get", "--all", "--dest", "/tmp", "--rule", "x"}
                                  << true << 2;
    QTest::addRow("no-host-anywhere") << QStringList{"list"} << true << 2;
    QTest::addRow("missing-folder") << QStringList{"--host", Address, "list", "NOPE"} << true << 2;
    QTest::addRow("unreachable") << QStringList{"--host", Address, "--timeout", "1", "list"} << false << 3;
    QTest::addRow("missing-file-info") << QStringList{"--host", Address, "info", "TAKES/NOPE.WAV"} << true << 1;
}

void tst_ZVTransfer::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, listening);
    QFETCH(int, code);
    if (!listening)
        sim->close();
    QCOMPARE(run(arguments), code);
}

QTEST_GUILESS_MAIN(tst_ZVTransfer)
#include "tst_zvtransfer.moc"
