// The command lines of zv-transfer, the simulator and the window, run as the
// programs they are: nothing but the program's own words when something is
// wrong, get -r FOLDER and FOLDER/ landing where rsync puts them, the same
// version options everywhere, options named as they were typed, and --help
// saying what --rule newer does.
#include "base/appconstants.h"
#include "transferrun.h"

namespace {
enum class Program { Transfer, Simulator, Window };
// What the simulator of the suite does during the run.
enum class Recorder { Serving, NotListening };
// How the output is compared: whole, or a part of it (whitespace runs read
// as one space, as --help wraps its lines).
enum class Match { Whole, Part };

struct OptionRow
{
    Program program;
    QStringList arguments;
    Recorder recorder;
    int code;
    Match match;
    QString output;        // standard output
    QString errors;        // standard error, whole
    QStringList filesMade; // below the destination, sorted
};

const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QStringList NoFiles;
// The recording time of README.TXT, as info prints it.
const QDateTime TextFileTime(QDate(2024, 5, 17), QTime(10, 6, 20));
} // namespace
Q_DECLARE_METATYPE(OptionRow)

class tst_ZVOptions : public TransferRun
{
    Q_OBJECT

    // Every file below `root`, as paths relative to it.
    static QStringList filesBelow(const QString &root)
    {
        QStringList files;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(root).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    // Runs the simulator or the window program; the exit code, -1 when it
    // did not end by itself in time (a version option taken as a start).
    int runOther(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        output = process.readAllStandardOutput();
        errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(makeTree({{"music/README.TXT", QByteArray(101, 'r')},
                          {"music/FOLDER/A.WAV", pattern(3000, 1)},
                          {"music/FOLDER/SUB/B.WAV", pattern(2000, 2)}}));
        QFile text(tree.filePath("music/README.TXT"));
        QVERIFY(text.open(QIODevice::ReadWrite) && text.setFileTime(TextFileTime, QFileDevice::FileModificationTime));
    }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    void commandLine_data()
    {
        QTest::addColumn<OptionRow>("row");
        const auto transfer = [](const QStringList &arguments) { return host({"--dest", "DEST"}) + arguments; };
        const QString version = " " + ApplicationVersion + "\n";

        // Something wrong is told once, in the program's words: no line of
        // the link's before it.
        QTest::addRow("unreachable-recorder")
            << OptionRow{Program::Transfer,
                         host({"list"}),
                         Recorder::NotListening,
                         Exit::Unreachable,
                         Match::Whole,
                         "",
                         "zv-transfer: cannot reach " + Address + ":8010: connection refused\n",
                         NoFiles};
        QTest::addRow("name-that-does-not-resolve")
            << OptionRow{Program::Transfer,
                         {"--host", "no-such-recorder.invalid", "list"},
                         Recorder::Serving,
                         Exit::Unreachable,
                         Match::Whole,
                         "",
                         "zv-transfer: cannot reach no-such-recorder.invalid:8010: no such host name\n",
                         NoFiles};
        // A file that is not a recording has no audio details: not a fault.
        QTest::addRow("info-of-a-text-file")
            << OptionRow{Program::Transfer,
                         host({"info", "README.TXT"}),
                         Recorder::Serving,
                         Exit::Done,
                         Match::Whole,
                         "README.TXT\n2024/05/17 10:06:20\n101 bytes\nno audio details\n",
                         "",
                         NoFiles};
        QTest::addRow("info-of-a-text-file-json")
            << OptionRow{Program::Transfer,
                         host({"info", "--json", "README.TXT"}),
                         Recorder::Serving,
                         Exit::Done,
                         Match::Part,
                         R"({ "date": "2024-05-17T10:06:20", "format": null, "name": "README.TXT", "size": 101 })",
                         "",
                         NoFiles};

        // get -r takes a folder as rsync -r and scp -r do; a trailing slash
        // takes what it holds.
        QTest::addRow("get-r-folder-makes-the-folder") << OptionRow{Program::Transfer,
                                                                    transfer({"-q", "get", "-r", "FOLDER"}),
                                                                    Recorder::Serving,
                                                                    Exit::Done,
                                                                    Match::Whole,
                                                                    "",
                                                                    "",
                                                                    {"FOLDER/A.WAV", "FOLDER/SUB/B.WAV"}};
        QTest::addRow("get-r-folder-slash-fills-dest") << OptionRow{Program::Transfer,
                                                                    transfer({"-q", "get", "-r", "FOLDER/"}),
                                                                    Recorder::Serving,
                                                                    Exit::Done,
                                                                    Match::Whole,
                                                                    "",
                                                                    "",
                                                                    {"A.WAV", "SUB/B.WAV"}};
        QTest::addRow("get-r-path-makes-its-last-folder") << OptionRow{Program::Transfer,
                                                                       transfer({"get", "-r", "FOLDER/SUB"}),
                                                                       Recorder::Serving,
                                                                       Exit::Done,
                                                                       Match::Part,
                                                                       "SUB/B.WAV 2.0 KiB done",
                                                                       "",
                                                                       {"SUB/B.WAV"}};

        // The same version options in every program.
        for (const char *const name : {"-V", "--version"}) {
            const QString option = QString::fromLatin1(name);
            QTest::addRow("zv-transfer%s", qPrintable(option)) << OptionRow{Program::Transfer,
                                                                            {option},
                                                                            Recorder::Serving,
                                                                            Exit::Done,
                                                                            Match::Whole,
                                                                            "zv-transfer" + version,
                                                                            "",
                                                                            NoFiles};
            // On the suite's address, taken already: a start instead ends at once.
            QTest::addRow("zv-recorder-sim%s", qPrintable(option)) << OptionRow{Program::Simulator,
                                                                                {"--address", Address, option},
                                                                                Recorder::Serving,
                                                                                Exit::Done,
                                                                                Match::Whole,
                                                                                "zv-recorder-sim" + version,
                                                                                "",
                                                                                NoFiles};
            QTest::addRow("zv-file-transfer%s", qPrintable(option)) << OptionRow{Program::Window,
                                                                                 {option},
                                                                                 Recorder::Serving,
                                                                                 Exit::Done,
                                                                                 Match::Whole,
                                                                                 "zv-file-transfer" + version,
                                                                                 "",
                                                                                 NoFiles};
        }

        // An unknown option is named as it was typed.
        QTest::addRow("zv-transfer-unknown-long-option") << OptionRow{Program::Transfer,
                                                                      host({"--bogus", "list"}),
                                                                      Recorder::Serving,
                                                                      Exit::Usage,
                                                                      Match::Whole,
                                                                      "",
                                                                      "zv-transfer: Unknown option '--bogus'.\n",
                                                                      NoFiles};
        QTest::addRow("zv-transfer-unknown-short-option") << OptionRow{Program::Transfer,
                                                                       host({"-x", "list"}),
                                                                       Recorder::Serving,
                                                                       Exit::Usage,
                                                                       Match::Whole,
                                                                       "",
                                                                       "zv-transfer: Unknown option '-x'.\n",
                                                                       NoFiles};
        QTest::addRow("zv-recorder-sim-unknown-option") << OptionRow{Program::Simulator,
                                                                     {"--address", Address, "--bogus"},
                                                                     Recorder::Serving,
                                                                     Exit::Usage,
                                                                     Match::Whole,
                                                                     "",
                                                                     "sim: Unknown option '--bogus'.\n",
                                                                     NoFiles};

        // What newer does, in the words of the manual.
        QTest::addRow("help-tells-rule-newer")
            << OptionRow{Program::Transfer,
                         {"--help"},
                         Recorder::Serving,
                         Exit::Done,
                         Match::Part,
                         "newer (skip a file of the same size, overwrite one of another size)",
                         "",
                         NoFiles};
    }
    void commandLine()
    {
        QFETCH(OptionRow, row);
        QStringList arguments = row.arguments;
        arguments.replaceInStrings(QRegularExpression("^DEST$"), dest->filePath("dest"));
        switch (row.recorder) {
        case Recorder::Serving:
            break;
        case Recorder::NotListening:
            sim->close();
            break;
        default:
            QFAIL("unknown recorder state");
        }
        int code = -1;
        switch (row.program) {
        case Program::Transfer:
            code = run(arguments, 30000);
            break;
        case Program::Simulator:
            code = runOther(QStringLiteral(ZV_SIM_BIN), arguments);
            break;
        case Program::Window:
            code = runOther(QStringLiteral(ZV_WINDOW_BIN), arguments);
            break;
        default:
            QFAIL("unknown program");
        }
        QVERIFY2(code == row.code,
                 qPrintable(QStringLiteral("exit %1, standard error: %2").arg(code).arg(QString::fromUtf8(errors))));
        switch (row.match) {
        case Match::Whole:
            QCOMPARE(QString::fromUtf8(output), row.output);
            break;
        case Match::Part:
            QVERIFY2(QString::fromUtf8(output).simplified().contains(row.output), output.constData());
            break;
        default:
            QFAIL("unknown match");
        }
        QCOMPARE(QString::fromUtf8(errors), row.errors);
        QCOMPARE(filesBelow(dest->filePath("dest")), row.filesMade);
    }
};

QTEST_GUILESS_MAIN(tst_ZVOptions)
#include "tst_zvoptions.moc"
