// The command-line companion, run as a separate process against the
// simulator: listing, downloads with each same-name rule, failing and lost
// files, recorders that cannot be reached or never finish, and the exit codes.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>

#include "base/appsettings.h"
#include "controllerfixture.h"
#include "protocol/zvcommand.h"
#include "sim/recordersimulator.h"
#include "sim/wavwriter.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) & 0xFF);
    return bytes;
}

// Lines zv-transfer wrote itself (the layers' log lines aside).
int ownLines(const QByteArray &text)
{
    return text.count("zv-transfer: ");
}
} // namespace

class tst_ZVTransfer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void printed_data();
    void printed();
    void namesCannotTrickTheTerminal();
    void getAllDownloadsExactly();
    void rules_data();
    void rules();
    void failingFileDoesNotStopTheOthers();
    void everyFileNotWrittenIsNamedOnce();
    void targetGoneAfterRelistIsNamed();
    void slowDownloadEnds_data();
    void slowDownloadEnds();
    void noRecorderToTalkTo_data();
    void noRecorderToTalkTo();
    void exitCodes_data();
    void exitCodes();
    void progress_data();
    void progress();

private:
    static QStringList oddNames()
    {
        return {QStringLiteral("title\x1b]0;owned\x07.wav"),
                QStringLiteral("clear\x1b[2J.wav"),
                QStringLiteral("row\nfile    2024-01-01 00:00  1  FORGED.WAV"),
                QString::fromUtf16(u"csi\u009b2J.wav"),
                QString::fromUtf16(u"evil\u202Evaw.exe"),
                QString::fromUtf16(u"iso\u2066x\u2069.wav")};
    }

    // Runs zv-transfer while this thread's event loop keeps serving the
    // simulator; returns the exit code, -1 when it did not end in time.
    // `during` is called while it runs, about every 20 ms. With
    // terminalColumns set, its output goes to a pseudo-terminal of no size
    // (by script(1)), which leaves the width to $COLUMNS; standard error
    // shares it, as on a user's terminal.
    int run(const QStringList &arguments, int timeoutMs = 30000,
            const std::function<void(QProcess &)> &during = nullptr);

    QTemporaryDir tree;
    QByteArray takeWav; // TAKES/T1.WAV, a real WAV for its details
    QProcessEnvironment environment;
    int terminalColumns = 0;
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
    QVERIFY(writeFile(tree.filePath("music/B.WAV"), pattern(100000, 2))); // more than one data packet
    QVERIFY(writeFile(tree.filePath("music/C.WAV"), pattern(5000, 3)));
    QVERIFY(QDir(tree.path()).mkpath("music/NONE"));
    WavWriter::Format format;
    format.sampleRate = 44100;
    format.bits = 24;
    takeWav = WavWriter::file(format, 4410, 440); // 0.1 s
    QVERIFY(writeFile(tree.filePath("music/TAKES/T1.WAV"), takeWav));
    // Names that would set the terminal's title, clear it, forge a row or
    // turn the text around if printed as they are.
    QVERIFY(QDir(tree.path()).mkpath("music/ODD"));
    for (const QString &name : oddNames())
        QVERIFY(writeFile(tree.filePath("music/ODD/" + name), "x"));
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
    environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ZV_HOST");
    terminalColumns = 0;
}

void tst_ZVTransfer::cleanup()
{
    delete sim;
    delete dest;
    AppSettings().clear();
}

int tst_ZVTransfer::run(const QStringList &arguments, int timeoutMs, const std::function<void(QProcess &)> &during)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (terminalColumns > 0) {
        QString command = QStringLiteral(ZV_TRANSFER_BIN);
        for (QString argument : arguments)
            command += " '" + argument.replace("'", "'\\''") + "'";
        QProcessEnvironment sized = environment;
        sized.insert("COLUMNS", QString::number(terminalColumns));
        process.setProcessEnvironment(sized);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start("script", {"-qec", command, "/dev/null"});
    } else {
        process.start(QStringLiteral(ZV_TRANSFER_BIN), arguments);
    }
    if (!process.waitForStarted(5000))
        return -1;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs) {
        QTest::qWait(20);
        if (during && process.state() == QProcess::Running)
            during(process);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    output = process.readAllStandardOutput();
    errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_ZVTransfer::printed_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("zvHost"); // ZV_HOST, empty: unset
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out"); // a pattern standard output matches
    QTest::addColumn<QString>("notOut");
    QTest::addColumn<QString>("err"); // a pattern standard error matches

    const QStringList host{"--host", Address};
    const QString any;
    QTest::addRow("list-human-sizes") << host + QStringList{"list"} << any << 0
                                      << "file .*  9\\.8 KiB  A\\.WAV\\n.*  97\\.7 KiB  B\\.WAV\\n"
                                      << "100000" << any;
    QTest::addRow("list-bytes") << host + QStringList{"list", "--bytes"} << any << 0 << " 100000  B\\.WAV\\n"
                                << "KiB" << any;
    QTest::addRow("list-json-without-row-index")
        << host + QStringList{"list", "--json", "TAKES"} << any << 0 << "\"name\": \"T1\\.WAV\""
        << "\"index\"" << any;
    QTest::addRow("info-path-name-json")
        << host + QStringList{"info", "--json", "TAKES/T1.WAV"} << any << 0
        << "^\\{\\s*\"bits\": 24,\\s*\"date\": \"[-0-9T:]+\",\\s*\"format\": \"WAV\",\\s*\"name\": \"T1\\.WAV\",\\s*"
           "\"sampleRate\": 44100,\\s*\"samples\": 4410,\\s*\"seconds\": 0\\.1,\\s*\"size\": 26504\\s*\\}\\s*$"
        << "\"index\"" << any;
    // The stored name is a bogus one: ZV_HOST comes before it, --host first.
    QTest::addRow("host-from-zv-host") << QStringList{"list"} << Address << 0 << "B\\.WAV" << any << any;
    QTest::addRow("host-option-over-zv-host")
        << host + QStringList{"list"} << "no-such-recorder.invalid" << 0 << "B\\.WAV" << any << any;
    const QStringList getA = host + QStringList{"get", "A.WAV", "--dest"};
    QTest::addRow("quiet-prints-nothing") << QStringList{"-q"} + getA << any << 0 << "^$" << any << "^$";
    QTest::addRow("quiet-names-failure") << QStringList{"-q"} + getA + QStringList{"NOPE.WAV"} << any << 1 << "^$"
                                         << any << "^zv-transfer: NOPE\\.WAV: no such recording\\n$";
    QTest::addRow("normal-line-per-file") << getA << any << 0
                                          << "^A\\.WAV  9\\.8 KiB  done\\ndownloaded 1, skipped 0, failed 0, "
                                             "10000 bytes in [0-9.]+ s\\n$"
                                          << any << any;
    QTest::addRow("verbose-where-and-how-fast")
        << QStringList{"-v"} + getA << any << 0
        << "^A\\.WAV  9\\.8 KiB  done  -> DEST/A\\.WAV, [0-9.]+ s, [0-9.]+ [KM]?i?B/s\\ndownloaded 1, " << any << any;
    QTest::addRow("very-verbose-hex") << QStringList{"-vv"} + getA << any << 0 << "done" << any
                                      << "net: Send command: \"5a 56 40 41 ";
}

void tst_ZVTransfer::printed()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, zvHost);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, notOut);
    QFETCH(QString, err);

    AppSettings().setSSID("no-such-recorder.invalid");
    if (!zvHost.isEmpty())
        environment.insert("ZV_HOST", zvHost);
    const int dash = arguments.indexOf("--dest");
    if (dash >= 0)
        arguments.insert(dash + 1, dest->path());
    QCOMPARE(run(arguments), code);
    const QString stdOut = QString::fromUtf8(output).replace(dest->path(), "DEST");
    QVERIFY2(stdOut.contains(QRegularExpression(out)), qPrintable(stdOut));
    if (!notOut.isEmpty())
        QVERIFY2(!stdOut.contains(notOut), qPrintable(stdOut));
    if (!err.isEmpty())
        QVERIFY2(QString::fromUtf8(errors).contains(QRegularExpression(err)), errors.constData());
}

void tst_ZVTransfer::namesCannotTrickTheTerminal()
{
    const auto raw = [](const QString &text) {
        for (const QChar c : text) {
            const ushort u = c.unicode();
            if ((u < 0x20 && u != '\n') || (u >= 0x7F && u <= 0x9F) || (u >= 0x202A && u <= 0x202E)
                || (u >= 0x2066 && u <= 0x2069))
                return true;
        }
        return false;
    };
    QCOMPARE(run({"--host", Address, "list", "ODD"}), 0);
    const QString table = QString::fromUtf8(output);
    QVERIFY2(!raw(table), qPrintable(table));
    QCOMPARE(table.count('\n'), oddNames().size() + 1); // no forged row
    QVERIFY2(table.contains("title\\x1b]0;owned\\x07.wav\n"), qPrintable(table));
    QVERIFY2(table.contains("row\\nfile "), qPrintable(table));
    QVERIFY2(table.contains("evil\\u202evaw.exe\n"), qPrintable(table));

    // JSON keeps the names exactly, escaped the way JSON escapes.
    QCOMPARE(run({"--host", Address, "list", "--json", "ODD"}), 0);
    QVERIFY2(!raw(QString::fromUtf8(output)), output.constData());
    QStringList names;
    for (const auto &entry : QJsonDocument::fromJson(output).array())
        names << entry.toObject().value("name").toString();
    QStringList expected = oddNames();
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
}

void tst_ZVTransfer::getAllDownloadsExactly()
{
    QCOMPARE(run({"--host", Address, "get", "--all", "--dest", dest->path()}), 0);
    for (const char *name : {"A.WAV", "B.WAV", "C.WAV"})
        QVERIFY2(readAll(dest->filePath(name)) == readAll(tree.filePath(QString("music/") + name)), name);
    QVERIFY(!QFile::exists(dest->filePath("TAKES")));
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0, 115000 bytes"), output.constData());

    QCOMPARE(run({"--host", Address, "get", "TAKES", "T1.WAV", "--dest", dest->path()}), 0);
    QVERIFY(readAll(dest->filePath("T1.WAV")) == takeWav);
}

void tst_ZVTransfer::rules_data()
{
    QTest::addColumn<QString>("rule"); // empty: the stored setting
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("sameSize");
    QTest::addColumn<QString>("writtenAs"); // empty: skipped
    QTest::addColumn<QString>("summary");

    QTest::addRow("newer-same-size") << "newer"
                                     << "" << true << ""
                                     << "downloaded 0, skipped 1";
    QTest::addRow("newer-other-size") << "newer"
                                      << "" << false << "A.WAV"
                                      << "downloaded 1, skipped 0";
    QTest::addRow("overwrite") << "overwrite"
                               << "" << true << "A.WAV"
                               << "downloaded 1, skipped 0";
    // The name written is told, on the file's line and after the summary.
    QTest::addRow("rename") << "rename"
                            << "" << true << "A(1).WAV"
                            << "A\\.WAV  9\\.8 KiB  done as A\\(1\\)\\.WAV\ndownloaded 1, skipped 0, .*\n"
                               "renamed: A\\.WAV written as A\\(1\\)\\.WAV\n";
    QTest::addRow("skip") << "skip"
                          << "" << false << ""
                          << "downloaded 0, skipped 1";
    // The stored rule reads as the window reads it: nothing, text, 4 and
    // more as "newer", 3 kept, a negative number as it stands (which the
    // engine treats as overwrite).
    QTest::addRow("nothing-stored-is-newer") << ""
                                             << "" << true << ""
                                             << "downloaded 0, skipped 1";
    QTest::addRow("stored-text-is-newer") << ""
                                          << "rename" << true << ""
                                          << "downloaded 0, skipped 1";
    QTest::addRow("stored-4-is-newer") << ""
                                       << "4" << true << ""
                                       << "downloaded 0, skipped 1";
    QTest::addRow("stored-3-kept") << ""
                                   << "3" << false << ""
                                   << "downloaded 0, skipped 1";
    QTest::addRow("stored-minus-1-overwrites") << ""
                                               << "-1" << true << "A.WAV"
                                               << "downloaded 1, skipped 0";
}

void tst_ZVTransfer::rules()
{
    QFETCH(QString, rule);
    QFETCH(QString, stored);
    QFETCH(bool, sameSize);
    QFETCH(QString, writtenAs);
    QFETCH(QString, summary);

    const QByteArray existing = sameSize ? QByteArray(10000, 'x') : QByteArray("old");
    QVERIFY(writeFile(dest->filePath("A.WAV"), existing));
    if (!stored.isEmpty())
        AppSettings().setStoredValue(AppSettings::Key::SameOption, stored);
    QStringList arguments{"--host", Address, "get", "A.WAV", "--dest", dest->path()};
    if (!rule.isEmpty())
        arguments << "--rule" << rule;
    QCOMPARE(run(arguments), 0);
    QVERIFY2(QString::fromUtf8(output).contains(QRegularExpression(summary)), output.constData());
    if (!writtenAs.isEmpty())
        QVERIFY(readAll(dest->filePath(writtenAs)) == pattern(10000, 1));
    if (writtenAs != QLatin1String("A.WAV"))
        QCOMPARE(readAll(dest->filePath("A.WAV")), existing);
}

void tst_ZVTransfer::failingFileDoesNotStopTheOthers()
{
    sim->setCorruptCheckAt(1); // only B.WAV has a second data packet
    QCOMPARE(run({"--host", Address, "get", "--all", "--dest", dest->path()}), 1);
    QVERIFY2(errors.contains("code : E6-"), errors.constData());
    QVERIFY2(output.contains("downloaded 2, skipped 0, failed 1"), output.constData());
    QVERIFY(readAll(dest->filePath("A.WAV")) == pattern(10000, 1));
    QVERIFY(readAll(dest->filePath("C.WAV")) == pattern(5000, 3));
}

void tst_ZVTransfer::everyFileNotWrittenIsNamedOnce()
{
    // Two names the engine refuses between good files: each is named and
    // counted once, the others are written, and the run reports failure.
    sim->setHostileNames(true);
    QCOMPARE(
        run({"--host", Address, "get", "A.WAV", "../evil.wav", "B.WAV", "a/b.wav", "C.WAV", "--dest", dest->path()}),
        1);
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 2"), output.constData());
    QCOMPARE(output.count("../evil.wav  108 B  FAILED (code : E10-"), 1);
    QCOMPARE(output.count("a/b.wav  108 B  FAILED (code : E10-"), 1);
    QCOMPARE(errors.count("code : E10-"), 2);
    for (const char *name : {"A.WAV", "B.WAV", "C.WAV"})
        QVERIFY2(readAll(dest->filePath(name)) == readAll(tree.filePath(QString("music/") + name)), name);
}

void tst_ZVTransfer::targetGoneAfterRelistIsNamed()
{
    // The recorder's listing changes during the first file and the last
    // target is gone from it: it is named as not downloaded.
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("X1.WAV"), pattern(60000, 5)));
    QVERIFY(writeFile(folder.filePath("X2.WAV"), pattern(3000, 6)));
    QVERIFY(writeFile(folder.filePath("X3.WAV"), pattern(3000, 7)));
    sim->setMusicRoot(folder.path());
    sim->setThrottle(60000);
    connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
        if (name == QLatin1String("X1.WAV") && QFile::remove(folder.filePath("X3.WAV")))
            sim->notifyListingChanged();
    });
    QCOMPARE(run({"--host", Address, "get", "--all", "--dest", dest->path()}), 1);
    QVERIFY2(QString::fromUtf8(output).contains(QRegularExpression("X3\\.WAV .* FAILED \\(")), output.constData());
    QCOMPARE(output.count("X3.WAV"), 1);
    QVERIFY(readAll(dest->filePath("X1.WAV")) == pattern(60000, 5));
}

void tst_ZVTransfer::slowDownloadEnds_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("signal"); // sent once B.WAV is on its way; 0: none
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");

    // B.WAV takes 5 s at this rate.
    QTest::addRow("sigint") << QStringList() << int(SIGINT) << 130 << "FAILED (interrupted after";
    QTest::addRow("sigterm") << QStringList() << int(SIGTERM) << 143 << "FAILED (interrupted after";
    QTest::addRow("below-min-rate") << QStringList{"--min-rate", "50000", "--rate-window", "2"} << 0 << 1
                                    << "FAILED (too slow: ";
}

void tst_ZVTransfer::slowDownloadEnds()
{
    QFETCH(QStringList, options);
    QFETCH(int, signal);
    QFETCH(int, code);
    QFETCH(QString, status);

    sim->setThrottle(20000);
    bool bStarted = false;
    connect(sim, &RecorderSimulator::downloadStarted, this,
            [&](const QString &name) { bStarted = bStarted || name == QLatin1String("B.WAV"); });
    QElapsedTimer sinceB;
    QElapsedTimer clock;
    clock.start();
    const int exit
        = run(QStringList{"--host", Address, "get", "A.WAV", "B.WAV", "C.WAV", "--dest", dest->path()} + options, 30000,
              [&](QProcess &process) {
                  if (!bStarted || sinceB.isValid())
                      return;
                  sinceB.start();
                  if (signal)
                      ::kill(pid_t(process.processId()), signal);
              });
    QCOMPARE(exit, code);
    QVERIFY(sinceB.isValid());
    QVERIFY2(sinceB.elapsed() < 3500, qPrintable(QString::number(sinceB.elapsed())));
    QVERIFY2(output.contains("A.WAV  9.8 KiB  done"), output.constData());
    QVERIFY2(output.contains(QByteArray("B.WAV  97.7 KiB  " + status.toUtf8())), output.constData());
    QVERIFY2(output.contains("C.WAV  4.9 KiB  FAILED (not started"), output.constData());
    QVERIFY2(output.contains("downloaded 1, skipped 0, failed 2"), output.constData());
}

void tst_ZVTransfer::noRecorderToTalkTo_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("limitMs"); // from start to exit

    const QString silent = "connected to " + Address + ":8010 but the recorder does not answer";
    // Without --timeout (30 s): an unreachable recorder is said so at once.
    QTest::addRow("refused") << Address << "closed"
                             << "cannot reach " + Address + ":8010: connection refused" << 5000;
    QTest::addRow("unknown-name") << "no-such-recorder.invalid"
                                  << ""
                                  << "cannot reach no-such-recorder.invalid:8010: no such host name" << 10000;
    // With --timeout 2.
    QTest::addRow("busy-with-another") << Address << "busy" << silent << 5000;
    QTest::addRow("list-unanswered") << Address << "mute" << silent << 5000;
    QTest::addRow("bad-magic-flood") << Address << "flood" << silent << 5000;
    // A burst of relist notices costs the worker a pause each: the end does
    // not wait for them.
    QTest::addRow("notice-burst") << Address << "burst"
                                  << "" << 6000;
}

void tst_ZVTransfer::noRecorderToTalkTo()
{
    QFETCH(QString, host);
    QFETCH(QString, fault);
    QFETCH(QString, line);
    QFETCH(int, limitMs);

    QTcpSocket other;
    QStringList arguments{"--host", host};
    if (fault == QLatin1String("closed")) {
        sim->close();
    } else if (fault == QLatin1String("busy")) {
        // Another program holds the recorder, which serves one at a time.
        other.connectToHost(Address, 8010);
        QVERIFY(other.waitForConnected(2000));
        QTRY_VERIFY(sim->hasClient());
    } else if (fault == QLatin1String("mute") || fault == QLatin1String("flood")) {
        sim->setUnanswered(0x10);
        sim->setFloodBadMagic(fault == QLatin1String("flood"));
    } else if (fault == QLatin1String("burst")) {
        connect(sim, &RecorderSimulator::clientConnected, this, [this] {
            for (int i = 0; i < 40; ++i)
                sim->notifyListingChanged();
        });
    }
    if (!fault.isEmpty() && fault != QLatin1String("closed"))
        arguments << "--timeout"
                  << "2";
    arguments << "list";

    QElapsedTimer clock;
    clock.start();
    const int code = run(arguments);
    const qint64 elapsed = clock.elapsed();
    if (fault == QLatin1String("burst"))
        QVERIFY2(code == 0 || code == 3, qPrintable(QString::number(code)));
    else
        QCOMPARE(code, 3);
    QVERIFY2(elapsed < limitMs, qPrintable(QString::number(elapsed)));
    if (!line.isEmpty()) {
        QVERIFY2(errors.contains(QByteArray("zv-transfer: " + line.toUtf8())), errors.constData());
        // One clear line; a flood of faults is counted, not repeated.
        QVERIFY2(ownLines(errors) <= (fault == QLatin1String("flood") ? 3 : 1), errors.right(2000).constData());
    }
    if (fault == QLatin1String("flood"))
        QVERIFY2(errors.contains(QByteArray("zv-transfer: \xe2\x80\xa6 repeated ")), errors.right(2000).constData());
}

void tst_ZVTransfer::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");

    QTest::addRow("no-command") << QStringList{"--host", Address} << 2;
    QTest::addRow("big-v-is-version") << QStringList{"-V"} << 0;
    QTest::addRow("small-v-is-not-version") << QStringList{"-v"} << 2;
    QTest::addRow("quiet-and-verbose") << QStringList{"--host", Address, "-q", "-v", "list"} << 2;
    QTest::addRow("unknown-command") << QStringList{"--host", Address, "push"} << 2;
    QTest::addRow("get-without-dest") << QStringList{"--host", Address, "get", "--all"} << 2;
    QTest::addRow("unknown-rule") << QStringList{"--host", Address, "get", "--all", "--dest", "/tmp", "--rule", "x"}
                                  << 2;
    QTest::addRow("no-host-anywhere") << QStringList{"list"} << 2;
    // Nothing matched: a folder, a name, every name, or nothing to get.
    QTest::addRow("missing-folder") << QStringList{"--host", Address, "list", "NOPE"} << 4;
    QTest::addRow("missing-file-info") << QStringList{"--host", Address, "info", "TAKES/NOPE.WAV"} << 4;
    QTest::addRow("get-no-name-matched") << QStringList{"--host",         Address,      "get",    "NOPE.WAV",
                                                        "TAKES/NOPE.WAV", "NOPE/A.WAV", "--dest", "DEST"}
                                         << 4;
    QTest::addRow("get-all-of-empty-folder")
        << QStringList{"--host", Address, "get", "--all", "NONE", "--dest", "DEST"} << 4;
    QTest::addRow("get-some-matched") << QStringList{"--host", Address, "get", "NOPE.WAV", "C.WAV", "--dest", "DEST"}
                                      << 1;
}

void tst_ZVTransfer::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    arguments.replaceInStrings(QRegularExpression("^DEST$"), dest->path());
    QCOMPARE(run(arguments), code);
    QCOMPARE(QFile::exists(dest->filePath("C.WAV")), code == 1);
}

void tst_ZVTransfer::progress_data()
{
    QTest::addColumn<int>("columns");  // 0: a pipe
    QTest::addColumn<QString>("line"); // every progress line of B.WAV
    QTest::addColumn<int>("atLeast");

    // Off a terminal: a plain line every second (--stats 1), never a
    // carriage return. Files and bytes count over both folders from the
    // first file.
    QTest::addRow("pipe") << 0
                          << "^B\\.WAV: [0-9.]+ KiB of 97\\.7 KiB \\(\\d+%\\), file 1 of 2, total [0-9.]+ KiB of "
                             "123\\.5 KiB, [0-9.]+ KiB/s, ETA [-:0-9]+$"
                          << 2;
    // On a terminal, one line redrawn in place that fits the width: rate
    // and time left go first, then the bar, then the run's bytes.
    QTest::addRow("terminal-wide")
        << 150
        << "^B\\.WAV \\[#*\\.*\\]  +\\d+%  1/2  total [0-9.]+ KiB/123\\.5 KiB  [0-9.]+ KiB/s  "
           "ETA [-:0-9]+$"
        << 3;
    QTest::addRow("terminal-narrow") << 40 << "^B\\.WAV  +\\d+%  1/2$" << 3;
}

void tst_ZVTransfer::progress()
{
    QFETCH(int, columns);
    QFETCH(QString, line);
    QFETCH(int, atLeast);

    terminalColumns = columns;
    sim->setThrottle(columns ? 100000 : 30000); // B.WAV takes 1 s or 3.3 s
    sim->setChunkSize(4096);                    // and its count moves often
    // A packet without the "ZV" mark in the middle of B.WAV: its log line
    // and error must not run into the bar.
    QElapsedTimer sinceB;
    connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
        if (name == QLatin1String("B.WAV"))
            sinceB.start();
    });
    QByteArray unmarked(HEADER_SIZE, '\0');
    unmarked[0] = 'X';
    unmarked[1] = 'X';
    unmarked[KIND_OFFSET] = char(KIND_COMMAND);
    const auto inject = [&](QProcess &) {
        if (sinceB.isValid() && sinceB.elapsed() > 400 && !unmarked.isEmpty()) {
            sim->sendToClient(unmarked);
            unmarked.clear();
        }
    };
    QCOMPARE(
        run({"--host", Address, "get", "B.WAV", "TAKES/T1.WAV", "--stats", "1", "--dest", dest->path()}, 30000, inject),
        0);
    QVERIFY2(errors.contains("code : E2-") || output.contains("code : E2-"), output.constData());
    QVERIFY(readAll(dest->filePath("B.WAV")) == pattern(100000, 2));
    QVERIFY(readAll(dest->filePath("T1.WAV")) == takeWav);

    const QString text = QString::fromUtf8(output);
    QCOMPARE(text.contains('\r'), columns > 0);
    int lines = 0;
    const QStringList pieces = columns ? text.split('\r') : text.split('\n');
    for (QString piece : pieces) {
        piece.remove("\x1b[K");
        if (!piece.startsWith("B.WAV") || piece.contains("  done"))
            continue;
        QVERIFY2(piece.contains(QRegularExpression(line)), qPrintable(piece));
        if (columns)
            QVERIFY2(piece.size() < columns, qPrintable(piece));
        ++lines;
    }
    QVERIFY2(lines >= atLeast, qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_ZVTransfer)
#include "tst_zvtransfer.moc"
