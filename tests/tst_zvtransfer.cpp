// The command-line companion, run as a separate process against the
// simulator: its command line and exit codes, listings and details, names
// that would trick a terminal, recorders that cannot be reached or never
// answer, and signals wherever they come; the version options and unknown
// options of all three programs. Downloads: tst_zvget.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/appconstants.h"
#include "base/appsettings.h"
#include "base/zvrecordmode.h"
#include "protocol/zvcommand.h"
#include "sim/wavwriter.h"
#include "transferrun.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);

// One run: its arguments (DEST stands for the destination) and what it must
// give back.
struct RunRow
{
    QStringList arguments;
    int code;
    QString out;      // a pattern standard output matches
    QString notOut;   // a text it must not contain
    QString err;      // a pattern standard error matches
    QStringList made; // the files below the destination, sorted
    QString zvHost;   // $ZV_HOST, with a bogus name in the settings behind it
};

// Names that would set the terminal's title, clear it, forge a row or turn
// the text around if printed as they are.
const QStringList OddNames{QStringLiteral("title\x1b]0;owned\x07.wav"),
                           QStringLiteral("clear\x1b[2J.wav"),
                           QStringLiteral("row\nfile    2024-01-01 00:00  1  FORGED.WAV"),
                           QString::fromUtf16(u"csi\u009b2J.wav"),
                           QString::fromUtf16(u"evil\u202Evaw.exe"),
                           QString::fromUtf16(u"iso\u2066x\u2069.wav")};

// Why no recorder answers a run.
enum class Silence { Refused, UnknownName, BadMagicFlood, NoticeBurst };
} // namespace
Q_DECLARE_METATYPE(RunRow)
Q_DECLARE_METATYPE(Silence)

class tst_ZVTransfer : public TransferRun
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QList<QPair<QString, QByteArray>> files{{"music/A.WAV", pattern(10000, 1)},
                                                {"music/B.WAV", pattern(100000, 2)},
                                                {"music/C.WAV", pattern(5000, 3)},
                                                {"music/README.TXT", QByteArray(101, 'r')},
                                                {"music/TAKES/T1.WAV", WavWriter::file({44100, 24, 2}, 4410, 440)},
                                                {"music/DEEP/SUB/T2.WAV", pattern(2000, 4)},
                                                {"music/NONE/", {}}};
        for (const QString &name : OddNames)
            files.append({"music/ODD/" + name, "x"});
        QVERIFY(makeTree(files));
        QFile text(tree.filePath("music/README.TXT"));
        QVERIFY(
            text.open(QIODevice::ReadWrite)
            && text.setFileTime(QDateTime(QDate(2024, 5, 17), QTime(10, 6, 20)), QFileDevice::FileModificationTime));
    }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void runs_data()
    {
        QTest::addColumn<RunRow>("row");
        const auto row = [](const char *name, const QStringList &arguments, int code, const QString &out = {},
                            const QString &notOut = {}, const QString &err = {}, const QStringList &made = {},
                            const QString &zvHost = {}) {
            QTest::addRow("%s", name) << RunRow{arguments, code, out, notOut, err, made, zvHost};
        };
        row("list-human-sizes", host({"list"}), Exit::Done, "file .*  9\\.8 KiB  A\\.WAV\\n.*  97\\.7 KiB  B\\.WAV\\n",
            "100000");
        row("list-bytes", host({"list", "--bytes"}), Exit::Done, " 100000  B\\.WAV\\n", "KiB");
        row("list-json-without-row-index", host({"list", "--json", "TAKES"}), Exit::Done, "\"name\": \"T1\\.WAV\"",
            "\"index\"");
        row("info-path-name-json", host({"info", "--json", "TAKES/T1.WAV"}), Exit::Done,
            "^\\{\\s*\"bits\": 24,\\s*\"date\": \"[-0-9T:]+\",\\s*\"format\": \"WAV\",\\s*\"name\": \"T1\\.WAV\","
            "\\s*\"sampleRate\": 44100,\\s*\"samples\": 4410,\\s*\"seconds\": 0\\.1,\\s*\"size\": 26504\\s*\\}\\s*$");
        // A file that is not a recording has no audio details: not a fault.
        row("info-of-a-text-file", host({"info", "README.TXT"}), Exit::Done,
            "^README\\.TXT\\n2024/05/17 10:06:20\\n101 bytes\\nno audio details\\n$", {}, "^$");
        row("info-of-a-text-file-json", host({"info", "--json", "README.TXT"}), Exit::Done,
            "^\\{\\s*\"date\": \"2024-05-17T10:06:20\",\\s*\"format\": null,\\s*\"name\": \"README\\.TXT\","
            "\\s*\"size\": 101\\s*\\}\\s*$");
        // The settings name a bogus recorder that both come before.
        row("host-from-zv-host", {"list"}, Exit::Done, "B\\.WAV", {}, {}, {}, Address);
        row("host-option-over-zv-host", host({"list"}), Exit::Done, "B\\.WAV", {}, {}, {}, "no-such-recorder.invalid");
        const QStringList getA = host({"get", "A.WAV", "--dest", "DEST"});
        row("quiet-names-failure", QStringList{"-q"} + getA + QStringList{"NOPE.WAV"}, Exit::SomeFailed, "^$", {},
            "^zv-transfer: NOPE\\.WAV: no such recording\\n$", {"A.WAV"});
        row("normal-line-per-file", getA, Exit::Done,
            "^A\\.WAV  9\\.8 KiB  done\\ndownloaded 1, skipped 0, failed 0, 10000 bytes in [0-9.]+ s\\n$", {}, {},
            {"A.WAV"});
        row("verbose-where-and-how-fast", QStringList{"-v"} + getA, Exit::Done,
            "^A\\.WAV  9\\.8 KiB  done  -> DEST/A\\.WAV, [0-9.]+ s, [0-9.]+ [KM]?i?B/s\\ndownloaded 1, ", {}, {},
            {"A.WAV"});
        row("very-verbose-hex", QStringList{"-vv"} + getA, Exit::Done, "done", {}, "net: Send command: \"5a 56 40 41 ",
            {"A.WAV"});
        // get -r takes a folder as rsync -r and scp -r do; a trailing slash
        // takes what it holds. Quiet: nothing printed.
        row("get-r-folder-slash-fills-dest", host({"-q", "get", "-r", "TAKES/", "--dest", "DEST"}), Exit::Done, "^$",
            {}, "^$", {"T1.WAV"});
        row("get-r-path-makes-its-last-folder", host({"get", "-r", "DEEP/SUB", "--dest", "DEST"}), Exit::Done,
            "^SUB/T2\\.WAV  2\\.0 KiB  done\\n", {}, "^$", {"SUB/T2.WAV"});
        // What newer does, in the words of the manual.
        row("help-tells-rule-newer", {"--help"}, Exit::Done,
            "newer \\(skip a file of the same\\s+size, overwrite one of another size\\)");
        // Refused before anything is asked; an unknown option is named as it
        // was typed.
        row("no-command", host(), Exit::Usage);
        row("small-v-is-not-version", {"-v"}, Exit::Usage);
        row("quiet-and-verbose", host({"-q", "-v", "list"}), Exit::Usage);
        row("unknown-command", host({"push"}), Exit::Usage);
        row("unknown-short-option", host({"-x", "list"}), Exit::Usage, "^$", {},
            "^zv-transfer: Unknown option '-x'\\.\\n$");
        row("unknown-one-letter-long-option", host({"--x=1", "list"}), Exit::Usage, "^$", {},
            "^zv-transfer: Unknown option '--x'\\.\\n$");
        row("get-without-dest", host({"get", "--all"}), Exit::Usage);
        row("unknown-rule", host({"get", "--all", "--dest", "DEST", "--rule", "x"}), Exit::Usage);
        row("no-host-anywhere", {"list"}, Exit::Usage);
        // Nothing matched: a folder, a name, every name, or nothing to get.
        row("missing-folder", host({"list", "NOPE"}), Exit::NothingMatched);
        row("missing-file-info", host({"info", "TAKES/NOPE.WAV"}), Exit::NothingMatched);
        row("get-no-name-matched", host({"get", "NOPE.WAV", "TAKES/NOPE.WAV", "NOPE/A.WAV", "--dest", "DEST"}),
            Exit::NothingMatched);
        row("get-all-of-empty-folder", host({"get", "--all", "NONE", "--dest", "DEST"}), Exit::NothingMatched);
    }
    void runs()
    {
        QFETCH(RunRow, row);
        if (!row.zvHost.isEmpty()) {
            environment.insert("ZV_HOST", row.zvHost);
            AppSettings().setSSID("no-such-recorder.invalid");
        }
        QCOMPARE(run(row.arguments.replaceInStrings(QRegularExpression("^DEST$"), dest->path())), row.code);
        const QString stdOut = QString::fromUtf8(output).replace(dest->path(), "DEST");
        QVERIFY2(stdOut.contains(QRegularExpression(row.out)), qPrintable(stdOut));
        QVERIFY2(row.notOut.isEmpty() || !stdOut.contains(row.notOut), qPrintable(stdOut));
        QVERIFY2(QString::fromUtf8(errors).contains(QRegularExpression(row.err)), errors.constData());
        QCOMPARE(filesBelow(dest->path()), row.made);
    }

    // The same version options in every program, and an unknown option
    // named as it was typed.
    void otherPrograms_data()
    {
        QTest::addColumn<QString>("binary");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // standard output, whole
        QTest::addColumn<QString>("err"); // standard error, whole
        const QString version = " " + ApplicationVersion + "\n";
        for (const QString option : {"-V", "--version"}) {
            QTest::addRow("zv-transfer%s", qPrintable(option))
                << QString(ZV_TRANSFER_BIN) << QStringList{option} << Exit::Done << "zv-transfer" + version << "";
            // On the suite's address, taken already: a start instead ends at once.
            QTest::addRow("zv-recorder-sim%s", qPrintable(option))
                << QString(ZV_SIM_BIN) << QStringList{"--address", Address, option} << Exit::Done
                << "zv-recorder-sim" + version << "";
            QTest::addRow("zv-file-transfer%s", qPrintable(option))
                << QString(ZV_WINDOW_BIN) << QStringList{option} << Exit::Done << "zv-file-transfer" + version << "";
        }
        QTest::addRow("zv-recorder-sim-unknown-option")
            << QString(ZV_SIM_BIN) << QStringList{"--address", Address, "--bogus"} << Exit::Usage << ""
            << "sim: Unknown option '--bogus'.\n";
    }
    void otherPrograms()
    {
        QFETCH(QString, binary);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        program = binary;
        QCOMPARE(run(arguments), code);
        QCOMPARE(QString::fromUtf8(output), out);
        QCOMPARE(QString::fromUtf8(errors), err);
    }

    void namesCannotTrickTheTerminal()
    {
        // Control characters but the line end, and those that turn text around.
        const QRegularExpression raw(
            QString::fromUtf16(u"[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f\u202a-\u202e\u2066-\u2069]"));
        QCOMPARE(run(host({"list", "ODD"})), Exit::Done);
        const QString table = QString::fromUtf8(output);
        QVERIFY2(!table.contains(raw), qPrintable(table));
        QCOMPARE(table.count('\n'), OddNames.size() + 1); // no forged row
        for (const char *escaped : {"title\\x1b]0;owned\\x07.wav\n", "row\\nfile ", "evil\\u202evaw.exe\n"})
            QVERIFY2(table.contains(escaped), qPrintable(table));

        // JSON keeps the names exactly, escaped the way JSON escapes.
        QCOMPARE(run(host({"list", "--json", "ODD"})), Exit::Done);
        QVERIFY2(!QString::fromUtf8(output).contains(raw), output.constData());
        QStringList names;
        for (const auto &entry : QJsonDocument::fromJson(output).array())
            names << entry.toObject().value("name").toString();
        QStringList expected = OddNames;
        names.sort();
        expected.sort();
        QCOMPARE(names, expected);
    }

    // SIGINT ends a run with 130 within moments wherever it comes, and
    // sync --watch with 0 (during a download, both with 130: tst_zvtree's
    // treeLeftAsFound). The recorder stays on the tree it was on.
    void signalIsNeverLost_data()
    {
        QTest::addColumn<QStringList>("arguments"); // DEST stands for the destination
        QTest::addColumn<SignalAt>("when");
        const QStringList watch = host({"sync", "--music", "--watch", "--dest", "DEST"});
        // Perhaps before the program is there to catch it: then the signal's
        // own ending is the answer.
        QTest::addRow("at-start") << host({"list"}) << SignalAt::Start;
        QTest::addRow("while-connecting") << host({"list"}) << SignalAt::WhileConnecting;
        QTest::addRow("watch-at-start") << watch << SignalAt::Start;
        QTest::addRow("watch-while-connecting") << watch << SignalAt::WhileConnecting;
    }
    void signalIsNeverLost()
    {
        QFETCH(QStringList, arguments);
        QFETCH(SignalAt, when);
        const int code = arguments.contains("--watch") ? Exit::Done : Exit::BySigint;
        sim->setRecordMode(RecordModeMTR);
        QElapsedTimer sinceSignal;
        const int ended
            = interruptAt(when, arguments.replaceInStrings(QRegularExpression("^DEST$"), dest->path()), &sinceSignal);
        QVERIFY2(ended == code || (when == SignalAt::Start && ended == Exit::BySigint),
                 qPrintable(QString::number(ended) + ' ' + output + errors));
        QVERIFY2(sinceSignal.elapsed() < 2000, qPrintable(QString::number(sinceSignal.elapsed())));
        QCOMPARE(sim->recordMode(), int(RecordModeMTR));
    }

    // After the last answer, while the listing waits for a reader that does
    // not read ("list | less"): the signal still ends the run with 130.
    void signalWhileTheOutputWaits()
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
        const auto drained = [&] {
            for (qint64 got; (got = ::read(reader, buffer, sizeof buffer)) > 0;)
                listed.append(buffer, int(got));
            return process.state() == QProcess::NotRunning;
        };
        QVERIFY(QTest::qWaitFor(drained, 5000));
        ::close(reader);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), Exit::BySigint);
        QVERIFY(process.readAllStandardError().contains("zv-transfer: interrupted"));
        QVERIFY(listed.count('\n') > 1200);
    }

    void noRecorderToTalkTo_data()
    {
        QTest::addColumn<Silence>("silence");
        QTest::addColumn<QString>("line"); // the error line, empty: none asked for
        QTest::addColumn<int>("withinMs");
        // Without --timeout (30 s): an unreachable recorder is said so at once.
        QTest::addRow("refused") << Silence::Refused << "cannot reach " + Address + ":8010: connection refused" << 5000;
        QTest::addRow("unknown-name") << Silence::UnknownName
                                      << "cannot reach no-such-recorder.invalid:8010: no such host name" << 10000;
        // With --timeout 2: connected, but the listing is never answered, and
        // a flood of packets without the mark comes instead.
        QTest::addRow("bad-magic-flood") << Silence::BadMagicFlood
                                         << "connected to " + Address + ":8010 but the recorder does not answer"
                                         << 5000;
        // A burst of relist notices costs the worker a pause each: the end
        // does not wait for them.
        QTest::addRow("notice-burst") << Silence::NoticeBurst << QString() << 6000;
    }
    void noRecorderToTalkTo()
    {
        QFETCH(Silence, silence);
        QFETCH(QString, line);
        QFETCH(int, withinMs);
        QStringList arguments = host({"--timeout", "2", "list"});
        switch (silence) {
        case Silence::Refused:
            sim->close();
            arguments = host({"list"});
            break;
        case Silence::UnknownName:
            arguments = QStringList{"--host", "no-such-recorder.invalid", "list"};
            break;
        case Silence::BadMagicFlood:
            sim->setUnanswered(CODE_FILE_LIST);
            sim->setFloodBadMagic(true);
            break;
        case Silence::NoticeBurst:
            connect(sim, &RecorderSimulator::clientConnected, this, [this] {
                for (int i = 0; i < 40; ++i)
                    sim->notifyListingChanged();
            });
            break;
        default:
            QFAIL("unknown silence");
        }
        QElapsedTimer clock;
        clock.start();
        const int code = run(arguments);
        QVERIFY2(code == Exit::Unreachable || (code == Exit::Done && silence == Silence::NoticeBurst),
                 qPrintable(QString::number(code)));
        QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
        const QByteArray said = QByteArray("zv-transfer: ") + line.toUtf8();
        if (silence == Silence::BadMagicFlood) {
            // A flood of faults is counted, not repeated.
            QVERIFY2(errors.contains(said) && errors.count("zv-transfer: ") <= 3
                         && errors.contains("zv-transfer: \xe2\x80\xa6 repeated "),
                     errors.right(2000).constData());
        } else if (!line.isEmpty()) {
            // One clear line in the program's words, no line of the link's
            // before it.
            QVERIFY2(errors.startsWith(said) && errors.count('\n') == 1, errors.constData());
            QCOMPARE(output, QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(tst_ZVTransfer)
#include "tst_zvtransfer.moc"
