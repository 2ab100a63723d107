#ifndef CONTROLLERFIXTURE_H
#define CONTROLLERFIXTURE_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <algorithm>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "base/downloadfileinfo.h"
#include "base/waituntil.h"
#include "protocol/zvcommand.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"
#include "sim/recordersimulator.h"

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What a partial file must be: some, not all, of the recording, as it begins.
inline bool isProperPrefix(const QByteArray &part, const QByteArray &whole)
{
    return !part.isEmpty() && part.size() < whole.size() && whole.startsWith(part);
}

struct ErrorEvent
{
    AppErrorCode code;
    int param1, param2;
    bool operator==(const ErrorEvent &o) const { return code == o.code && param1 == o.param1 && param2 == o.param2; }
};

// Found by QCOMPARE through the argument's namespace.
inline char *toString(const ErrorEvent &event)
{
    return qstrdup(qPrintable(QStringLiteral("E%1-%2-%3").arg(int(event.code)).arg(event.param1).arg(event.param2)));
}

Q_DECLARE_METATYPE(ErrorEvent)
using Errors = QList<ErrorEvent>;

// Collects the controller's signals on the test thread (queued), so the test
// reads them without racing the worker.
class ControllerEvents : public QObject
{
public:
    explicit ControllerEvents(ZVController *controller)
    {
        connect(controller, &ZVController::networkConnected, this, [this] { connected << clock.elapsed(); });
        connect(controller, &ZVController::networkClosed, this, [this] { closed << clock.elapsed(); });
        connect(controller, &ZVController::getFileListFinished, this, [this, controller] {
            listed << clock.elapsed();
            entries.clear();
            dates.clear();
            const int count = controller->getFileCount();
            for (int row = 0; row < count; ++row) {
                DownloadFileInfo info;
                if (controller->getFileInfo(row, &info)) {
                    entries.insert(info.name, info.index);
                    dates.insert(info.name, info.dateTime);
                }
            }
        });
        connect(controller, &ZVController::discardFileList, this, [this] { discarded << clock.elapsed(); });
        connect(controller, &ZVController::error, this, [this](AppErrorCode code, int p1, int p2) {
            errors.append({code, p1, p2});
        });
        connect(controller, &ZVController::downloadStarted, this, [this](const QString &name, qulonglong size) {
            started.append({name, size});
        });
        connect(controller, &ZVController::downloadProgress, this,
                [this](qulonglong bytes) { progress.append(bytes); });
        connect(controller, &ZVController::downloadFinished, this, [this] { ++finished; });
        connect(controller, &ZVController::downloadCanceled, this, [this] { ++canceled; });
        connect(controller, &ZVController::renewalRecodeMode, this, [this](ZVRecordMode mode) { modes << mode; });
        clock.start();
    }

    QElapsedTimer clock;
    QList<qint64> connected, closed, listed, discarded;
    QMap<QString, int> entries; // name -> entry index, of the last listing
    QMap<QString, QDateTime> dates;
    QList<ErrorEvent> errors;
    QList<QPair<QString, qulonglong>> started;
    QList<qulonglong> progress;
    QList<ZVRecordMode> modes;
    int finished = 0;
    int canceled = 0;
};

// A controller on its worker thread against an in-process simulator on the
// test's own loopback address, with a scratch download folder.
class ControllerFixture : public QObject
{
protected:
    ControllerFixture() { QLoggingCategory::setFilterRules(QStringLiteral("zv.*.debug=false\nzv.sim.info=false")); }

    bool setUpFixture()
    {
        requests.clear();
        sim = new RecorderSimulator;
        if (!sim->useDemoTrees(demo.path()))
            return false;
        connect(sim, &RecorderSimulator::requestReceived, this,
                [this](const QByteArray &header) { requests << header; });
        if (!sim->listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), ZVController::Port))
            return false;
        dest = new QTemporaryDir;
        tree = new QTemporaryDir;
        controllerHost = new ControllerHost;
        controller = controllerHost->controller();
        events = new ControllerEvents(controller);
        return true;
    }

    void tearDownFixture()
    {
        delete controllerHost;
        delete events;
        delete sim;
        delete dest;
        delete tree;
    }

    void startController(const QString &host = QStringLiteral(ZV_TEST_ADDRESS))
    {
        controller->setSSID(host);
        controller->setSameOption(SaveOverwrite);
        controllerHost->start();
    }

    void waitForListing(int timeoutMs = 8000)
    {
        const int before = events->listed.size();
        QTRY_VERIFY_WITH_TIMEOUT(events->listed.size() > before, timeoutMs);
    }

    void startAndList()
    {
        startController();
        waitForListing();
    }

    void requestDownload(const QString &directory, const QList<int> &indexes)
    {
        controller->setDownloadFiles(directory, indexes);
        QMetaObject::invokeMethod(controller, "requestDownloadFiles", Qt::QueuedConnection);
    }

    int indexOf(const QString &name) const { return events->entries.value(name, -1); }

    int requestsWithCode(quint8 code) const
    {
        return int(std::count_if(requests.cbegin(), requests.cend(), [code](const QByteArray &header) {
            return quint8(header.at(KIND_OFFSET)) == KIND_COMMAND && quint8(header.at(CODE_OFFSET)) == code;
        }));
    }

    // Runs a download to its end; true when it finished (not cancelled).
    bool download(const QList<int> &indexes, SameNameOption rule = SaveOverwrite)
    {
        controller->setSameOption(rule);
        requestDownload(dest->path(), indexes);
        waitUntil([this] { return events->finished || events->canceled; }, 20000);
        return events->finished == 1;
    }

    // The recorder serves `files` (name, contents) instead of its music tree.
    bool serveTree(const QMap<QString, QByteArray> &files)
    {
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            if (!writeFile(tree->filePath(file.key()), file.value()))
                return false;
        }
        sim->setMusicRoot(tree->path());
        return true;
    }

    // Three recordings served slowly enough that A.WAV is still arriving
    // when the test acts; B.WAV and C.WAV are small.
    bool serveThreeSlowly()
    {
        sim->setSendWindow(32 * 1024);
        sim->setThrottle(400 * 1024);
        return serveTree(
            {{"A.WAV", QByteArray(300000, 'a')}, {"B.WAV", QByteArray(20000, 'b')}, {"C.WAV", QByteArray(20000, 'c')}});
    }

    QString musicFile(const QString &name) const { return QDir(sim->musicRoot()).filePath(name); }

    QTemporaryDir demo; // the demo trees, made once for the suite
    QTemporaryDir *dest = nullptr;
    QTemporaryDir *tree = nullptr; // for a tree of the test's own
    RecorderSimulator *sim = nullptr;
    ControllerHost *controllerHost = nullptr;
    ZVController *controller = nullptr;
    ControllerEvents *events = nullptr;
    QList<QByteArray> requests;
};

#endif // CONTROLLERFIXTURE_H
