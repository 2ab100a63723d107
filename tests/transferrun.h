#ifndef TRANSFERRUN_H
#define TRANSFERRUN_H

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>

#include "base/appsettings.h"
#include "controllerfixture.h"
#include "sim/recordersimulator.h"

// zv-transfer's exit codes, as its manual lists them (128 + N: ended by
// signal N).
namespace Exit {
constexpr int Done = 0, SomeFailed = 1, Usage = 2, Unreachable = 3, NothingMatched = 4, BySigint = 130, BySigterm = 143;
} // namespace Exit

// Where a signal finds a run: perhaps before the program is there to
// catch it, connected to a recorder that serves another program, or in
// a download slow enough (2000 bytes a second in packets of 500) that a
// cancel takes back what is not sent yet.
enum class SignalAt { Start, WhileConnecting, DuringADownload };
Q_DECLARE_METATYPE(SignalAt)

// zv-transfer run as the separate program it is, against a simulator on this
// suite's loopback address that serves music/ and mtr/ of `tree`. A suite
// derives from this, fills `tree` once and calls setUp()/tearDown() around
// each case.
class TransferRun : public QObject
{
public:
    static QStringList host(const QStringList &more = {})
    {
        return QStringList{"--host", QStringLiteral(ZV_TEST_ADDRESS)} + more;
    }

    static QByteArray pattern(int size, int seed)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 13 + seed) & 0xFF);
        return bytes;
    }

    // Every file and folder below `root`: relative path, then contents and
    // modification time for files ("folder" for folders). Times are compared
    // in the recorder's listing's steps of two seconds.
    static QStringList snapshot(const QString &root)
    {
        QStringList entries;
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            const QString sum = QString::fromLatin1(
                QCryptographicHash::hash(readAll(info.filePath()), QCryptographicHash::Sha256).toHex());
            entries << QDir(root).relativeFilePath(info.filePath()) + ' '
                    + (info.isDir() ? QStringLiteral("folder")
                                    : sum + ' ' + QString::number(info.lastModified().toSecsSinceEpoch() / 2));
        }
        entries.sort();
        return entries;
    }

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

protected:
    // Writes `files` (paths below `tree`; one ending in "/" is an empty
    // folder) with their folders, and music/ and mtr/.
    bool makeTree(const QList<QPair<QString, QByteArray>> &files)
    {
        // No settings file of the program's may decide anything here.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(tree.filePath("config")));
        bool made = QDir(tree.path()).mkpath("music") && QDir(tree.path()).mkpath("mtr");
        for (const auto &file : files) {
            made = made && QDir(tree.path()).mkpath(QFileInfo(file.first).path())
                && (file.first.endsWith('/') || writeFile(tree.filePath(file.first), file.second));
        }
        return made;
    }

    bool setUp()
    {
        dest = new QTemporaryDir;
        environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ZV_HOST");
        terminalColumns = 0;
        program = QStringLiteral(ZV_TRANSFER_BIN);
        sim = new RecorderSimulator;
        sim->setMusicRoot(tree.filePath("music"));
        sim->setMtrRoot(tree.filePath("mtr"));
        return sim->listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), 8010);
    }

    void tearDown()
    {
        delete sim;
        sim = nullptr;
        delete dest;
        AppSettings().clear();
    }

    // Runs `program` (zv-transfer unless a case says otherwise) while this
    // thread's event loop keeps serving the simulator; the exit code, 128 + N
    // when signal N ended it, as a shell reports it, -1 when it did not end
    // within a minute.
    // `during` is called about every 20 ms while it runs, `output` holding
    // everything written so far. With terminalColumns set, its output goes
    // to a pseudo-terminal of no size (by script(1)), which leaves the width
    // to $COLUMNS; standard error shares it, as on a user's terminal.
    int run(const QStringList &arguments, const std::function<void(QProcess &)> &during = nullptr)
    {
        QProcess process;
        QProcessEnvironment env = environment;
        output.clear();
        errors.clear();
        if (terminalColumns > 0) {
            QString command = program;
            for (QString argument : arguments)
                command += " '" + argument.replace("'", "'\\''") + "'";
            env.insert("COLUMNS", QString::number(terminalColumns));
            process.setStandardInputFile(QProcess::nullDevice());
            process.setProcessEnvironment(env);
            process.start("script", {"-qec", command, "/dev/null"});
        } else {
            process.setProcessEnvironment(env);
            process.start(program, arguments);
        }
        if (!process.waitForStarted(5000))
            return -1;
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
            QTest::qWait(20);
            output += process.readAllStandardOutput();
            if (during && process.state() == QProcess::Running)
                during(process);
        }
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        output += process.readAllStandardOutput();
        errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128 + process.exitCode();
    }

    // run() with SIGINT sent once at `when`; `sinceSignal` starts when it is
    // sent. -2 when the moment could not be set up.
    int interruptAt(SignalAt when, const QStringList &arguments, QElapsedTimer *sinceSignal)
    {
        bool ready = false;
        QTcpSocket other;
        QObject moment; // ends the connections below with this run
        switch (when) {
        case SignalAt::Start:
            ready = true;
            break;
        case SignalAt::WhileConnecting:
            // Another program connects first and holds the recorder, which
            // serves one at a time.
            other.connectToHost(QStringLiteral(ZV_TEST_ADDRESS), 8010);
            if (!other.waitForConnected(2000) || !QTest::qWaitFor([this] { return sim->hasClient(); }, 5000))
                return -2;
            connect(sim, &RecorderSimulator::connectionHeld, &moment, [&] { ready = true; });
            break;
        case SignalAt::DuringADownload:
            sim->setThrottle(2000);
            sim->setChunkSize(500);
            sim->setSendWindow(500);
            connect(sim, &RecorderSimulator::downloadStarted, &moment, [&] { ready = true; });
            break;
        }
        return run(arguments, [&](QProcess &process) {
            if (ready && !sinceSignal->isValid() && ::kill(pid_t(process.processId()), SIGINT) == 0)
                sinceSignal->start();
        });
    }

    QTemporaryDir tree;
    QTemporaryDir *dest = nullptr;
    RecorderSimulator *sim = nullptr;
    QProcessEnvironment environment;
    QString program;
    int terminalColumns = 0;
    QByteArray output;
    QByteArray errors;
};

#endif // TRANSFERRUN_H
