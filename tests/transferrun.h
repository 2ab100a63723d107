#ifndef TRANSFERRUN_H
#define TRANSFERRUN_H

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "controllerfixture.h"
#include "sim/recordersimulator.h"

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

protected:
    bool setUp()
    {
        dest = new QTemporaryDir;
        environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ZV_HOST");
        terminalColumns = 0;
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
    }

    // Runs zv-transfer while this thread's event loop keeps serving the
    // simulator; the exit code, -1 when it did not end in time or died
    // (killedBy then names the signal).
    // `during` is called about every 20 ms while it runs, `output` holding
    // everything written so far. With terminalColumns set, its output goes
    // to a pseudo-terminal of no size (by script(1)), which leaves the width
    // to $COLUMNS; standard error shares it, as on a user's terminal.
    int run(const QStringList &arguments, int timeoutMs = 60000,
            const std::function<void(QProcess &)> &during = nullptr)
    {
        QProcess process;
        QProcessEnvironment env = environment;
        output.clear();
        errors.clear();
        killedBy = 0;
        if (terminalColumns > 0) {
            QString command = QStringLiteral(ZV_TRANSFER_BIN);
            for (QString argument : arguments)
                command += " '" + argument.replace("'", "'\\''") + "'";
            env.insert("COLUMNS", QString::number(terminalColumns));
            process.setStandardInputFile(QProcess::nullDevice());
            process.setProcessEnvironment(env);
            process.start("script", {"-qec", command, "/dev/null"});
        } else {
            process.setProcessEnvironment(env);
            process.start(QStringLiteral(ZV_TRANSFER_BIN), arguments);
        }
        if (!process.waitForStarted(5000))
            return -1;
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs) {
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
        killedBy = process.exitStatus() == QProcess::CrashExit ? process.exitCode() : 0;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QTemporaryDir tree;
    QTemporaryDir *dest = nullptr;
    RecorderSimulator *sim = nullptr;
    QProcessEnvironment environment;
    int terminalColumns = 0;
    QByteArray output;
    QByteArray errors;
    int killedBy = 0; // the signal that ended the last run, when run() gave -1
};

#endif // TRANSFERRUN_H
