// zv-transfer get, run as a separate process against the simulator: exact
// downloads, each same-name rule, files that fail or vanish, downloads that
// a signal or a slow recorder ends, and the progress line.
#include "base/appsettings.h"
#include "protocol/zvcommand.h"
#include "sim/replybuilder.h"
#include "transferrun.h"

namespace {
struct RuleRow
{
    QStringList arguments; // after "get"
    QString stored;        // the stored setting, empty: none
    QString writtenAs;     // where A.WAV is written, empty: nowhere
    QString summary;       // a pattern the output matches
    bool sameSize = true;  // the file in the way has A.WAV's size
};

// What ends a file, or the whole download, before its time.
enum class Fault { CorruptCheck, HostileNames, GoneAfterRelist, RecorderStops, LinkLostAfterRelist, Sigterm, TooSlow };
struct FailRow
{
    Fault fault;
    QStringList arguments;   // after "get"
    QStringList failedLines; // each failed file's line; the others are written
};

struct ProgressRow
{
    int columns; // of the terminal; 0: a pipe
    QStringList targets;
    QString line; // a pattern every line of B.WAV matches
    int atLeast;  // lines of B.WAV
};
} // namespace
Q_DECLARE_METATYPE(RuleRow)
Q_DECLARE_METATYPE(FailRow)
Q_DECLARE_METATYPE(ProgressRow)

class tst_ZVGet : public TransferRun
{
    Q_OBJECT

    QByteArray music(const QString &path) const { return readAll(tree.filePath("music/" + path)); }
    // Does `action` when the simulator starts sending `name`.
    void onStart(const QString &name, const std::function<void()> &action)
    {
        connect(sim, &RecorderSimulator::downloadStarted, this, [=](const QString &started) {
            if (started == name)
                action();
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(makeTree({{"music/A.WAV", pattern(10000, 1)},
                          {"music/B.WAV", pattern(100000, 2)}, // more than one data packet
                          {"music/C.WAV", pattern(5000, 3)},
                          {"music/TAKES/T1.WAV", pattern(26504, 4)},
                          {"music/NONE/", {}}}));
    }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void getAllTellsWhatItLeftOut()
    {
        QCOMPARE(run(host({"get", "--all", "--dest", dest->path()})), Exit::Done);
        QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0, 115000 bytes"), output.constData());
        QVERIFY2(output.contains("left out 2 folders (get -r takes them): NONE, TAKES\n"), output.constData());

        QCOMPARE(run(host({"get", "TAKES", "T1.WAV", "--dest", dest->path()})), Exit::Done);
        QVERIFY(readAll(dest->filePath("T1.WAV")) == music("TAKES/T1.WAV"));
    }

    void rules_data()
    {
        QTest::addColumn<RuleRow>("row");
        const QString skipped = "downloaded 0, skipped 1", written = "downloaded 1, skipped 0";
        const auto rule = [](const char *name) { return QStringList{"A.WAV", "--rule", name}; };
        QTest::addRow("overwrite") << RuleRow{rule("overwrite"), "", "A.WAV", written};
        // The names written are told, on the files' lines and after the
        // summary; the second A.WAV finds the first one's name taken.
        QTest::addRow("rename") << RuleRow{QStringList{"A.WAV"} + rule("rename"), "", "A(1).WAV",
                                           "A\\.WAV  9\\.8 KiB  done as A\\(1\\)\\.WAV\nA\\.WAV  9\\.8 KiB  done as "
                                           "A\\(2\\)\\.WAV\ndownloaded 2, skipped 0, .*\nrenamed: A\\.WAV written as "
                                           "A\\(1\\)\\.WAV\nrenamed: A\\.WAV written as A\\(2\\)\\.WAV\n"};
        // The stored rule reads as the window reads it: nothing, text, past
        // the last rule as "newer", the last one (skip) kept, a negative
        // number as it stands (which the engine treats as overwrite).
        QTest::addRow("nothing-stored-is-newer") << RuleRow{{"A.WAV"}, "", "", skipped};
        QTest::addRow("stored-text-is-newer") << RuleRow{{"A.WAV"}, "rename", "", skipped};
        const QString pastTheLast = QString::number(SaveNoWrite + 1), skip = QString::number(SaveNoWrite);
        QTest::addRow("stored-past-the-last-is-newer") << RuleRow{{"A.WAV"}, pastTheLast, "", skipped};
        QTest::addRow("stored-skip-kept") << RuleRow{{"A.WAV"}, skip, "", skipped, false};
        QTest::addRow("stored-minus-1-overwrites") << RuleRow{{"A.WAV"}, "-1", "A.WAV", written};
    }
    void rules()
    {
        QFETCH(RuleRow, row);
        const QByteArray existing = row.sameSize ? QByteArray(10000, 'x') : QByteArray("old");
        QVERIFY(writeFile(dest->filePath("A.WAV"), existing));
        if (!row.stored.isEmpty())
            AppSettings().setStoredValue(AppSettings::Key::SameOption, row.stored);
        QCOMPARE(run(host({"get", "--dest", dest->path()}) + row.arguments), Exit::Done);
        QVERIFY2(QString::fromUtf8(output).contains(QRegularExpression(row.summary)), output.constData());
        if (!row.writtenAs.isEmpty())
            QVERIFY(readAll(dest->filePath(row.writtenAs)) == music("A.WAV"));
        if (row.writtenAs != QLatin1String("A.WAV"))
            QCOMPARE(readAll(dest->filePath("A.WAV")), existing);
    }

    // A file that fails, a name the engine refuses, a file gone from the
    // recorder's listing once it changed: each is named once, on its line and
    // in the error stream, the others are written, and the run reports failure.
    // A signal or a recorder below --min-rate ends the whole download soon.
    void failuresAreNamedOnce_data()
    {
        QTest::addColumn<FailRow>("row");
        const auto row
            = [](const char *name, Fault fault, const QStringList &arguments, const QStringList &failedLines) {
                  QTest::addRow("%s", name) << FailRow{fault, arguments, failedLines};
              };
        const QStringList all{"--all"};
        const QString notStarted = "C.WAV  4.9 KiB  FAILED (not started";
        row("check-fails", Fault::CorruptCheck, all, {"B.WAV  97.7 KiB  FAILED (code : E6-"});
        row("refused-names", Fault::HostileNames, {"A.WAV", "../evil.wav", "B.WAV", "a/b.wav", "C.WAV"},
            {"../evil.wav  108 B  FAILED (code : E10-", "a/b.wav  108 B  FAILED (code : E10-"});
        row("gone-after-relist", Fault::GoneAfterRelist, all, {"C.WAV  4.9 KiB  FAILED ("});
        // The recorder stops B.WAV by itself: nothing more is asked of it.
        row("recorder-stops", Fault::RecorderStops, all,
            {"B.WAV  97.7 KiB  FAILED (stopped by the recorder, code : E15-2-0)", notStarted});
        // A relist, A.WAV completes, the link goes while B.WAV waits for the
        // listing: A.WAV was downloaded, the others were not.
        row("link-lost-after-relist", Fault::LinkLostAfterRelist, all,
            {"B.WAV  97.7 KiB  FAILED (not started", notStarted});
        // Ends with the signal's code.
        row("sigterm", Fault::Sigterm, all, {"B.WAV  97.7 KiB  FAILED (interrupted after", notStarted});
        row("below-min-rate", Fault::TooSlow, QStringList{"--min-rate", "50000", "--rate-window", "2"} + all,
            {"B.WAV  97.7 KiB  FAILED (too slow: ", notStarted});
    }
    void failuresAreNamedOnce()
    {
        QFETCH(FailRow, row);
        const QByteArray c = music("C.WAV");
        QElapsedTimer sinceB;
        int signal = 0;
        sim->setThrottle(100000); // B.WAV takes 1 s: time for a fault while it runs
        switch (row.fault) {
        case Fault::CorruptCheck:
            sim->setCorruptCheckAt(1); // only B.WAV has a second data packet
            break;
        case Fault::HostileNames:
            sim->setHostileNames(true);
            break;
        case Fault::GoneAfterRelist:
            onStart("B.WAV", [this] {
                if (QFile::remove(tree.filePath("music/C.WAV")))
                    sim->notifyListingChanged();
            });
            break;
        case Fault::RecorderStops:
            onStart("B.WAV", [this] { sim->sendToClient(ReplyBuilder::command(CODE_CANCEL_DOWNLOAD)); });
            break;
        case Fault::LinkLostAfterRelist:
            onStart("A.WAV", [this] {
                sim->setUnanswered(CODE_FILE_LIST);
                sim->notifyListingChanged();
            });
            // The relist is asked for once A.WAV is complete: then the link goes.
            connect(sim, &RecorderSimulator::requestReceived, this, [this](const QByteArray &header) {
                if (quint8(header.at(CODE_OFFSET)) == CODE_FILE_LIST
                    && sim->settings().unanswered.contains(CODE_FILE_LIST))
                    sim->disconnectClient();
            });
            break;
        case Fault::Sigterm:
        case Fault::TooSlow:
            // B.WAV would take 5 s: the run ends soon after it starts.
            sim->setThrottle(20000);
            onStart("B.WAV", [&sinceB] { sinceB.start(); });
            signal = row.fault == Fault::Sigterm ? SIGTERM : 0;
            break;
        default:
            QFAIL("unknown fault");
        }
        bool signalled = false;
        const int code
            = run(host({"get"}) + row.arguments + QStringList{"--dest", dest->path()}, [&](QProcess &process) {
                  if (sinceB.isValid() && signal && !signalled)
                      signalled = ::kill(pid_t(process.processId()), signal) == 0;
              });
        if (!QFile::exists(tree.filePath("music/C.WAV")))
            QVERIFY(writeFile(tree.filePath("music/C.WAV"), c));
        QCOMPARE(code, row.fault == Fault::Sigterm ? Exit::BySigterm : Exit::SomeFailed);
        QVERIFY2(!sinceB.isValid() || sinceB.elapsed() < 3500, qPrintable(QString::number(sinceB.elapsed())));
        QStringList written{"A.WAV", "B.WAV", "C.WAV"};
        for (const QString &line : qAsConst(row.failedLines)) {
            const QString name = line.section("  ", 0, 0);
            QVERIFY2(output.count(name.toUtf8()) == 1 && output.contains(line.toUtf8()), output.constData());
            // An error's code is named once more in the error stream.
            const QString why = line.section("FAILED (", 1);
            QVERIFY2(!why.startsWith("code : ") || errors.count(why.toUtf8()) == row.failedLines.filter(why).size(),
                     errors.constData());
            written.removeOne(name);
        }
        const QString summary
            = QString("downloaded %1, skipped 0, failed %2").arg(written.size()).arg(row.failedLines.size());
        QVERIFY2(output.contains(summary.toUtf8()), output.constData());
        for (const QString &name : qAsConst(written))
            QVERIFY2(readAll(dest->filePath(name)) == music(name), qPrintable(name));
    }

    void progress_data()
    {
        QTest::addColumn<ProgressRow>("row");
        // Off a terminal: a plain line every second (--stats 1), never a
        // carriage return. Files and bytes count over both folders from the
        // first file.
        const QString pipe
            = "^B\\.WAV: [0-9.]+ KiB of 97\\.7 KiB \\(\\d+%\\), file 1 of 2, total [0-9.]+ KiB of 123\\.5 KiB, "
              "[0-9.]+ KiB/s, ETA [-:0-9]+$";
        QTest::addRow("pipe") << ProgressRow{0, {"B.WAV", "TAKES/T1.WAV"}, pipe, 2};
        // On a terminal, one line redrawn in place that fits the width: rate
        // and time left go first, then the bar, then the run's bytes.
        const QString wide
            = "^B\\.WAV \\[#*\\.*\\]  +\\d+%  1/2  total [0-9.]+ KiB/102\\.5 KiB  [0-9.]+ KiB/s  ETA [-:0-9]+$";
        QTest::addRow("terminal-wide") << ProgressRow{150, {"B.WAV", "C.WAV"}, wide, 3};
        QTest::addRow("terminal-narrow") << ProgressRow{40, {"B.WAV", "C.WAV"}, "^B\\.WAV  +\\d+%  1/2$", 3};
    }
    void progress()
    {
        QFETCH(ProgressRow, row);
        terminalColumns = row.columns;
        sim->setThrottle(row.columns ? 100000 : 30000); // B.WAV takes 1 s or 3.3 s
        sim->setChunkSize(4096);                        // and its count moves often
        // A packet without the "ZV" mark in the middle of B.WAV: its log line
        // and error must not run into the bar.
        QElapsedTimer sinceB;
        onStart("B.WAV", [&sinceB] { sinceB.start(); });
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
        QCOMPARE(run(host({"get", "--stats", "1", "--dest", dest->path()}) + row.targets, inject), Exit::Done);
        QVERIFY2(errors.contains("code : E2-") || output.contains("code : E2-"), output.constData());
        for (const QString &target : qAsConst(row.targets))
            QVERIFY2(readAll(dest->filePath(QFileInfo(target).fileName())) == music(target), qPrintable(target));

        const QString text = QString::fromUtf8(output);
        QCOMPARE(text.contains('\r'), row.columns > 0);
        int lines = 0;
        for (QString piece : text.split(row.columns ? '\r' : '\n')) {
            piece.remove("\x1b[K");
            if (!piece.startsWith("B.WAV") || piece.contains("  done"))
                continue;
            QVERIFY2(piece.contains(QRegularExpression(row.line)), qPrintable(piece));
            QVERIFY2(!row.columns || piece.size() < row.columns, qPrintable(piece));
            ++lines;
        }
        QVERIFY2(lines >= row.atLeast, qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(tst_ZVGet)
#include "tst_zvget.moc"
