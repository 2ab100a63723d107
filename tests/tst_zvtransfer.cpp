// The command-line companion, run as a separate process against the
// simulator: listing, downloads with each same-name rule, failing and lost
// files, recorders that cannot be reached or never finish, and the exit codes.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/appsettings.h"
#include "datarows.h"
#include "protocol/zvcommand.h"
#include "sim/replybuilder.h"
#include "sim/wavwriter.h"
#include "transferrun.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
using RunRow = std::tuple<QStringList, int, QString, QString, QString>; // arguments, code, out, not out, err
using RuleRow = std::tuple<QString, QString, bool, QString, QString>;   // rule, stored, same size, written as, summary
using FailRow = std::tuple<QStringList, QString, QStringList>;          // targets, summary, each failed file's line
using SlowRow = std::tuple<QStringList, int, int, QString>;             // options, signal, code, status
using SilentRow = std::tuple<QString, QString, QString, int>;           // host, fault, error line, limit (ms)
using ProgressRow = std::tuple<int, QString, int>;  // columns (0: a pipe), every line of B.WAV, at least
using SignalRow = std::tuple<QStringList, QString>; // arguments, when the signal comes
} // namespace

class tst_ZVTransfer : public TransferRun
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(setUp()); }
    void cleanup()
    {
        tearDown();
        AppSettings().clear();
    }

    void runs_data();
    void runs();
    void namesCannotTrickTheTerminal();
    void getAllDownloadsExactly();
    void rules_data();
    void rules();
    void failuresAreNamedOnce_data();
    void failuresAreNamedOnce();
    void slowDownloadEnds_data();
    void slowDownloadEnds();
    void signalIsNeverLost_data();
    void signalIsNeverLost();
    void signalWhileTheOutputWaits();
    void noRecorderToTalkTo_data();
    void noRecorderToTalkTo();
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
    QByteArray music(const char *name) const { return readAll(tree.filePath(QString("music/") + name)); }

    QByteArray takeWav; // TAKES/T1.WAV, a real WAV for its details
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

void tst_ZVTransfer::runs_data()
{
    addColumns<RunRow>();
    // A first argument ZV_HOST=... sets it, and stores a bogus recorder name
    // that both it and --host come before. DEST is the destination.
    const auto row = [](const char *name, const QStringList &arguments, int code, const QString &out = {},
                        const QString &notOut = {}, const QString &err = {}) {
        QTest::addRow("%s", name) << arguments << code << out << notOut << err;
    };
    row("list-human-sizes", host({"list"}), 0, "file .*  9\\.8 KiB  A\\.WAV\\n.*  97\\.7 KiB  B\\.WAV\\n", "100000");
    row("list-bytes", host({"list", "--bytes"}), 0, " 100000  B\\.WAV\\n", "KiB");
    row("list-json-without-row-index", host({"list", "--json", "TAKES"}), 0, "\"name\": \"T1\\.WAV\"", "\"index\"");
    row("info-path-name-json", host({"info", "--json", "TAKES/T1.WAV"}), 0,
        "^\\{\\s*\"bits\": 24,\\s*\"date\": \"[-0-9T:]+\",\\s*\"format\": \"WAV\",\\s*\"name\": \"T1\\.WAV\",\\s*"
        "\"sampleRate\": 44100,\\s*\"samples\": 4410,\\s*\"seconds\": 0\\.1,\\s*\"size\": 26504\\s*\\}\\s*$",
        "\"index\"");
    row("host-from-zv-host", {"ZV_HOST=" + Address, "list"}, 0, "B\\.WAV");
    row("host-option-over-zv-host", QStringList{"ZV_HOST=no-such-recorder.invalid"} + host({"list"}), 0, "B\\.WAV");
    const QStringList getA = host({"get", "A.WAV", "--dest", "DEST"});
    row("quiet-prints-nothing", QStringList{"-q"} + getA, 0, "^$", {}, "^$");
    row("quiet-names-failure", QStringList{"-q"} + getA + QStringList{"NOPE.WAV"}, 1, "^$", {},
        "^zv-transfer: NOPE\\.WAV: no such recording\\n$");
    row("normal-line-per-file", getA, 0,
        "^A\\.WAV  9\\.8 KiB  done\\ndownloaded 1, skipped 0, failed 0, 10000 bytes in [0-9.]+ s\\n$");
    row("verbose-where-and-how-fast", QStringList{"-v"} + getA, 0,
        "^A\\.WAV  9\\.8 KiB  done  -> DEST/A\\.WAV, [0-9.]+ s, [0-9.]+ [KM]?i?B/s\\ndownloaded 1, ");
    row("very-verbose-hex", QStringList{"-vv"} + getA, 0, "done", {}, "net: Send command: \"5a 56 40 41 ");
    // Refused before anything is asked.
    row("no-command", host(), 2);
    row("big-v-is-version", {"-V"}, 0);
    row("small-v-is-not-version", {"-v"}, 2);
    row("quiet-and-verbose", host({"-q", "-v", "list"}), 2);
    row("unknown-command", host({"push"}), 2);
    row("get-without-dest", host({"get", "--all"}), 2);
    row("unknown-rule", host({"get", "--all", "--dest", "DEST", "--rule", "x"}), 2);
    row("no-host-anywhere", {"list"}, 2);
    // Nothing matched: a folder, a name, every name, or nothing to get.
    row("missing-folder", host({"list", "NOPE"}), 4);
    row("missing-file-info", host({"info", "TAKES/NOPE.WAV"}), 4);
    row("get-no-name-matched", host({"get", "NOPE.WAV", "TAKES/NOPE.WAV", "NOPE/A.WAV", "--dest", "DEST"}), 4);
    row("get-all-of-empty-folder", host({"get", "--all", "NONE", "--dest", "DEST"}), 4);
    row("get-some-matched", host({"get", "NOPE.WAV", "C.WAV", "--dest", "DEST"}), 1, "C\\.WAV  4\\.9 KiB  done");
}

void tst_ZVTransfer::runs()
{
    auto [arguments, code, out, notOut, err] = fetchRow<RunRow>();
    if (arguments.first().startsWith("ZV_HOST=")) {
        environment.insert("ZV_HOST", arguments.takeFirst().mid(8));
        AppSettings().setSSID("no-such-recorder.invalid");
    }
    arguments.replaceInStrings(QRegularExpression("^DEST$"), dest->path());
    QCOMPARE(run(arguments), code);
    const QString stdOut = QString::fromUtf8(output).replace(dest->path(), "DEST");
    QVERIFY2(stdOut.contains(QRegularExpression(out)), qPrintable(stdOut));
    QVERIFY2(notOut.isEmpty() || !stdOut.contains(notOut), qPrintable(stdOut));
    QVERIFY2(QString::fromUtf8(errors).contains(QRegularExpression(err)), errors.constData());
    if (code == 2 || code == 4)
        QVERIFY(QDir(dest->path()).isEmpty());
}

void tst_ZVTransfer::namesCannotTrickTheTerminal()
{
    // Control characters but the line end, and those that turn text around.
    const QRegularExpression raw(QString::fromUtf16(u"[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f\u202a-\u202e\u2066-\u2069]"));
    QCOMPARE(run(host({"list", "ODD"})), 0);
    const QString table = QString::fromUtf8(output);
    QVERIFY2(!table.contains(raw), qPrintable(table));
    QCOMPARE(table.count('\n'), oddNames().size() + 1); // no forged row
    QVERIFY2(table.contains("title\\x1b]0;owned\\x07.wav\n"), qPrintable(table));
    QVERIFY2(table.contains("row\\nfile "), qPrintable(table));
    QVERIFY2(table.contains("evil\\u202evaw.exe\n"), qPrintable(table));

    // JSON keeps the names exactly, escaped the way JSON escapes.
    QCOMPARE(run(host({"list", "--json", "ODD"})), 0);
    QVERIFY2(!QString::fromUtf8(output).contains(raw), output.constData());
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
    QCOMPARE(run(host({"get", "--all", "--dest", dest->path()})), 0);
    for (const char *name : {"A.WAV", "B.WAV", "C.WAV"})
        QVERIFY2(readAll(dest->filePath(name)) == music(name), name);
    QVERIFY(!QFile::exists(dest->filePath("TAKES")));
    QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0, 115000 bytes"), output.constData());
    QVERIFY2(output.contains("left out 3 folders (get -r takes them): NONE, ODD, TAKES\n"), output.constData());

    QCOMPARE(run(host({"get", "TAKES", "T1.WAV", "--dest", dest->path()})), 0);
    QVERIFY(readAll(dest->filePath("T1.WAV")) == takeWav);
}

void tst_ZVTransfer::rules_data()
{
    addColumns<RuleRow>();
    const auto row = [](const char *name, const QString &rule, const QString &stored, bool sameSize,
                        const QString &writtenAs, const QString &summary) {
        QTest::addRow("%s", name) << rule << stored << sameSize << writtenAs << summary;
    };
    const QString skipped = "downloaded 0, skipped 1", written = "downloaded 1, skipped 0";
    row("newer-same-size", "newer", "", true, "", skipped);
    row("newer-other-size", "newer", "", false, "A.WAV", written);
    row("overwrite", "overwrite", "", true, "A.WAV", written);
    // The name written is told, on the file's line and after the summary.
    row("rename", "rename", "", true, "A(1).WAV",
        "A\\.WAV  9\\.8 KiB  done as A\\(1\\)\\.WAV\ndownloaded 1, skipped 0, .*\n"
        "renamed: A\\.WAV written as A\\(1\\)\\.WAV\n");
    row("skip", "skip", "", false, "", skipped);
    // The stored rule reads as the window reads it: nothing, text, 4 and
    // more as "newer", 3 kept, a negative number as it stands (which the
    // engine treats as overwrite).
    row("nothing-stored-is-newer", "", "", true, "", skipped);
    row("stored-text-is-newer", "", "rename", true, "", skipped);
    row("stored-4-is-newer", "", "4", true, "", skipped);
    row("stored-3-kept", "", "3", false, "", skipped);
    row("stored-minus-1-overwrites", "", "-1", true, "A.WAV", written);
}

void tst_ZVTransfer::rules()
{
    const auto [rule, stored, sameSize, writtenAs, summary] = fetchRow<RuleRow>();
    const QByteArray existing = sameSize ? QByteArray(10000, 'x') : QByteArray("old");
    QVERIFY(writeFile(dest->filePath("A.WAV"), existing));
    if (!stored.isEmpty())
        AppSettings().setStoredValue(AppSettings::Key::SameOption, stored);
    QCOMPARE(run(host({"get", "A.WAV", "--dest", dest->path()})
                 + (rule.isEmpty() ? QStringList() : QStringList{"--rule", rule})),
             0);
    QVERIFY2(QString::fromUtf8(output).contains(QRegularExpression(summary)), output.constData());
    if (!writtenAs.isEmpty())
        QVERIFY(readAll(dest->filePath(writtenAs)) == music("A.WAV"));
    if (writtenAs != QLatin1String("A.WAV"))
        QCOMPARE(readAll(dest->filePath("A.WAV")), existing);
}

// A file that fails, a name the engine refuses, a file gone from the
// recorder's listing once it changed: each is named once, on its line and
// in the error stream, the others are written, and the run reports failure.
void tst_ZVTransfer::failuresAreNamedOnce_data()
{
    addColumns<FailRow>();
    QTest::addRow("check-fails") << QStringList{"--all"} << "downloaded 2, skipped 0, failed 1"
                                 << QStringList{"B.WAV  97.7 KiB  FAILED (code : E6-"};
    QTest::addRow("refused-names") << QStringList{"A.WAV", "../evil.wav", "B.WAV", "a/b.wav", "C.WAV"}
                                   << "downloaded 3, skipped 0, failed 2"
                                   << QStringList{"../evil.wav  108 B  FAILED (code : E10-",
                                                  "a/b.wav  108 B  FAILED (code : E10-"};
    QTest::addRow("gone-after-relist") << QStringList{"--all"} << "downloaded 2, skipped 0, failed 1"
                                       << QStringList{"C.WAV  4.9 KiB  FAILED ("};
    // The recorder stops B.WAV by itself: nothing more is asked of it.
    QTest::addRow("recorder-stops") << QStringList{"--all"} << "downloaded 1, skipped 0, failed 2"
                                    << QStringList{"B.WAV  97.7 KiB  FAILED (stopped by the recorder, code : E15-2-0)",
                                                   "C.WAV  4.9 KiB  FAILED (not started"};
    // A relist, A.WAV completes, the link goes while B.WAV waits for the
    // listing: A.WAV was downloaded, the others were not.
    QTest::addRow("link-lost-after-relist")
        << QStringList{"--all"} << "downloaded 1, skipped 0, failed 2"
        << QStringList{"B.WAV  97.7 KiB  FAILED (not started", "C.WAV  4.9 KiB  FAILED (not started"};
}

void tst_ZVTransfer::failuresAreNamedOnce()
{
    const auto [targets, summary, failed] = fetchRow<FailRow>();
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "check-fails")
        sim->setCorruptCheckAt(1); // only B.WAV has a second data packet
    sim->setHostileNames(tag == "refused-names");
    const QByteArray c = music("C.WAV");
    if (tag == "gone-after-relist") {
        sim->setThrottle(100000);
        connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
            if (name == QLatin1String("B.WAV") && QFile::remove(tree.filePath("music/C.WAV")))
                sim->notifyListingChanged();
        });
    } else if (tag == "recorder-stops") {
        sim->setThrottle(100000);
        connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
            if (name == QLatin1String("B.WAV"))
                sim->sendToClient(ReplyBuilder::command(CODE_CANCEL_DOWNLOAD));
        });
    } else if (tag == "link-lost-after-relist") {
        sim->setThrottle(100000);
        connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
            if (name == QLatin1String("A.WAV")) {
                sim->setUnanswered(CODE_FILE_LIST);
                sim->notifyListingChanged();
            }
        });
        // The relist is asked for once A.WAV is complete: then the link goes.
        connect(sim, &RecorderSimulator::requestReceived, this, [&](const QByteArray &header) {
            if (quint8(header.at(CODE_OFFSET)) == CODE_FILE_LIST && sim->settings().unanswered.contains(CODE_FILE_LIST))
                sim->disconnectClient();
        });
    }
    const int code = run(host({"get"}) + targets + QStringList{"--dest", dest->path()});
    if (!QFile::exists(tree.filePath("music/C.WAV")))
        QVERIFY(writeFile(tree.filePath("music/C.WAV"), c));
    QCOMPARE(code, 1);
    QVERIFY2(output.contains(summary.toUtf8()), output.constData());
    QString written = "A.WAV B.WAV C.WAV";
    for (const QString &line : failed) {
        const QString name = line.section("  ", 0, 0);
        QVERIFY2(output.count(name.toUtf8()) == 1 && output.contains(line.toUtf8()), output.constData());
        // An error's code is named once more in the error stream.
        const QString why = line.section("FAILED (", 1);
        QVERIFY2(!why.startsWith("code : ") || errors.count(why.toUtf8()) == failed.filter(why).size(),
                 errors.constData());
        written.remove(name);
    }
    for (const QString &name : written.split(' ', Qt::SkipEmptyParts))
        QVERIFY2(readAll(dest->filePath(name)) == music(qPrintable(name)), qPrintable(name));
}

void tst_ZVTransfer::slowDownloadEnds_data()
{
    addColumns<SlowRow>();
    // B.WAV takes 5 s at this rate.
    QTest::addRow("sigint") << QStringList() << int(SIGINT) << 130 << "FAILED (interrupted after";
    QTest::addRow("sigterm") << QStringList() << int(SIGTERM) << 143 << "FAILED (interrupted after";
    QTest::addRow("below-min-rate") << QStringList{"--min-rate", "50000", "--rate-window", "2"} << 0 << 1
                                    << "FAILED (too slow: ";
}

void tst_ZVTransfer::slowDownloadEnds()
{
    const auto [options, signal, code, status] = fetchRow<SlowRow>();
    sim->setThrottle(20000);
    QElapsedTimer sinceB;
    connect(sim, &RecorderSimulator::downloadStarted, this, [&](const QString &name) {
        if (name == QLatin1String("B.WAV"))
            sinceB.start();
    });
    bool signalled = false;
    QCOMPARE(run(host({"get", "A.WAV", "B.WAV", "C.WAV", "--dest", dest->path()}) + options, 30000,
                 [&](QProcess &process) {
                     if (sinceB.isValid() && signal && !signalled)
                         signalled = ::kill(pid_t(process.processId()), signal) == 0;
                 }),
             code);
    QVERIFY(sinceB.isValid());
    QVERIFY2(sinceB.elapsed() < 3500, qPrintable(QString::number(sinceB.elapsed())));
    QVERIFY2(QString::fromUtf8(output).contains(QRegularExpression(
                 "A\\.WAV  9\\.8 KiB  done\nB\\.WAV  97\\.7 KiB  " + QRegularExpression::escape(status)
                 + ".*\nC\\.WAV  4\\.9 KiB  FAILED \\(not started.*\ndownloaded 1, skipped 0, failed 2")),
             output.constData());
}

// SIGINT ends a run with 130 within moments wherever it comes (during a
// download: slowDownloadEnds).
void tst_ZVTransfer::signalIsNeverLost_data()
{
    addColumns<SignalRow>();
    // Perhaps before the program is there to catch it: then the signal's
    // own ending is the answer.
    QTest::addRow("at-start") << host({"list"}) << "start";
    // Connected to a recorder that serves another program and never answers.
    QTest::addRow("while-connecting") << host({"list"}) << "busy";
}

void tst_ZVTransfer::signalIsNeverLost()
{
    const auto [arguments, when] = fetchRow<SignalRow>();
    bool ready = when == QLatin1String("start");
    QTcpSocket other;
    if (when == QLatin1String("busy")) {
        other.connectToHost(Address, 8010);
        QVERIFY(other.waitForConnected(2000));
        QTRY_VERIFY(sim->hasClient());
        connect(sim, &RecorderSimulator::connectionHeld, this, [&] { ready = true; });
    }
    QElapsedTimer sinceSignal;
    const int code = run(arguments, 30000, [&](QProcess &process) {
        if (ready && !sinceSignal.isValid() && ::kill(pid_t(process.processId()), SIGINT) == 0)
            sinceSignal.start();
    });
    QVERIFY2(code == 130 || (when == QLatin1String("start") && code == -1 && killedBy == SIGINT),
             qPrintable(QString::number(code) + ' ' + output + errors));
    QVERIFY2(sinceSignal.elapsed() < 2000, qPrintable(QString::number(sinceSignal.elapsed())));
}

// After the last answer, while the listing waits for a reader that does not
// read ("list | less"): the signal still ends the run with 130.
void tst_ZVTransfer::signalWhileTheOutputWaits()
{
    QTemporaryDir many;
    for (int i = 0; i < 1200; ++i)
        QVERIFY(writeFile(many.filePath(QStringLiteral("TAKE_%1_OF_A_LONG_EVENING_SESSION.WAV").arg(i)), ""));
    sim->setMusicRoot(many.path());
    const QByteArray fifo = QFile::encodeName(dest->filePath("out"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QString::fromLocal8Bit(fifo));
    process.start(QStringLiteral(ZV_TRANSFER_BIN), host({"list"}));
    QVERIFY(process.waitForStarted(5000));
    // The pipe (64 KiB) is about full: the program waits in a write.
    int waiting = 0;
    QVERIFY(QTest::qWaitFor([&] { return ::ioctl(reader, FIONREAD, &waiting) == 0 && waiting > 60000; }, 10000));
    QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    QByteArray listed;
    char buffer[65536];
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (qint64 got; (got = ::read(reader, buffer, sizeof buffer)) > 0;)
                listed.append(buffer, int(got));
            return process.state() == QProcess::NotRunning;
        },
        5000));
    ::close(reader);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QVERIFY(process.readAllStandardError().contains("zv-transfer: interrupted"));
    QVERIFY(listed.count('\n') > 1200);
}

void tst_ZVTransfer::noRecorderToTalkTo_data()
{
    addColumns<SilentRow>();
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
    const auto [hostName, fault, line, limitMs] = fetchRow<SilentRow>();
    QTcpSocket other;
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
    const bool timed = !fault.isEmpty() && fault != QLatin1String("closed");
    QElapsedTimer clock;
    clock.start();
    const int code = run(QStringList{"--host", hostName} + (timed ? QStringList{"--timeout", "2"} : QStringList())
                         + QStringList{"list"});
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(code == 3 || (code == 0 && fault == QLatin1String("burst")), qPrintable(QString::number(code)));
    QVERIFY2(elapsed < limitMs, qPrintable(QString::number(elapsed)));
    if (!line.isEmpty()) {
        QVERIFY2(errors.contains(QByteArray("zv-transfer: " + line.toUtf8())), errors.constData());
        // One clear line; a flood of faults is counted, not repeated.
        QVERIFY2(errors.count("zv-transfer: ") <= (fault == QLatin1String("flood") ? 3 : 1),
                 errors.right(2000).constData());
    }
    if (fault == QLatin1String("flood"))
        QVERIFY2(errors.contains("zv-transfer: \xe2\x80\xa6 repeated "), errors.right(2000).constData());
}

void tst_ZVTransfer::progress_data()
{
    addColumns<ProgressRow>();
    // Off a terminal: a plain line every second (--stats 1), never a
    // carriage return. Files and bytes count over both folders from the
    // first file.
    QTest::addRow("pipe") << 0
                          << "^B\\.WAV: [0-9.]+ KiB of 97\\.7 KiB \\(\\d+%\\), file 1 of 2, total [0-9.]+ KiB of "
                             "123\\.5 KiB, [0-9.]+ KiB/s, ETA [-:0-9]+$"
                          << 2;
    // On a terminal, one line redrawn in place that fits the width: rate
    // and time left go first, then the bar, then the run's bytes.
    QTest::addRow("terminal-wide") << 150
                                   << "^B\\.WAV \\[#*\\.*\\]  +\\d+%  1/2  total [0-9.]+ KiB/123\\.5 KiB  [0-9.]+ "
                                      "KiB/s  ETA [-:0-9]+$"
                                   << 3;
    QTest::addRow("terminal-narrow") << 40 << "^B\\.WAV  +\\d+%  1/2$" << 3;
}

void tst_ZVTransfer::progress()
{
    const auto [columns, line, atLeast] = fetchRow<ProgressRow>();
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
    QCOMPARE(run(host({"get", "B.WAV", "TAKES/T1.WAV", "--stats", "1", "--dest", dest->path()}), 30000, inject), 0);
    QVERIFY2(errors.contains("code : E2-") || output.contains("code : E2-"), output.constData());
    QVERIFY(readAll(dest->filePath("B.WAV")) == music("B.WAV"));
    QVERIFY(readAll(dest->filePath("T1.WAV")) == takeWav);

    const QString text = QString::fromUtf8(output);
    QCOMPARE(text.contains('\r'), columns > 0);
    int lines = 0;
    for (QString piece : text.split(columns ? '\r' : '\n')) {
        piece.remove("\x1b[K");
        if (!piece.startsWith("B.WAV") || piece.contains("  done"))
            continue;
        QVERIFY2(piece.contains(QRegularExpression(line)), qPrintable(piece));
        QVERIFY2(!columns || piece.size() < columns, qPrintable(piece));
        ++lines;
    }
    QVERIFY2(lines >= atLeast, qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_ZVTransfer)
#include "tst_zvtransfer.moc"
