#include "recordersession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "app/errortranslator.h"
#include "app/threadjoin.h"
#include "controller/progressrelay.h"
#include "controller/zvcontroller.h"
#include "protocol/zvcommand.h"

namespace {
// A request the recorder leaves unanswered this long counts as lost, as the
// window's watchdog has it.
constexpr int AnswerTimeoutMs = 30000;
constexpr int CancelConfirmTimeoutMs = 5000;
// How often the progress line may hear of the bytes received.
constexpr int ProgressIntervalMs = 100;
} // namespace

RecorderSession::RecorderSession(QObject *parent)
    : QObject(parent)
    , thread(new QThread(this))
    , controller(new ZVController)
{
    controller->moveToThread(thread);
    connect(thread, &QThread::started, controller, &ZVController::doWork);
    connect(thread, &QThread::finished, controller, &QObject::deleteLater);
    watchThreadEnd(thread);
    // Byte counts arrive per data packet; the progress line needs a few a
    // second. Made before the other connections so that a file's last count
    // comes ahead of whatever follows it.
    progressRelay = new ProgressRelay(controller, "downloadProgress(qulonglong)", ProgressIntervalMs, this);

    connect(controller, &ZVController::networkConnected, this, [this] { connected = true; });
    connect(controller, &ZVController::networkClosed, this, [this] { connected = false; });
    connect(controller, &ZVController::getFileListFinished, this, [this] {
        readListing();
        ++listings;
    });
    connect(controller, &ZVController::getFileDetailFinished, this,
            [this](ZVFileFormat format, uint sample, uint bits, uint fs) {
                lastDetail = {format, sample, bits, fs};
                ++details;
            });
    connect(controller, &ZVController::renewalRecodeMode, this, [this] { ++modeReports; });
    connect(controller, &ZVController::error, this, [this](AppErrorCode code, int param1, int param2) {
        errorReports.append({code, param1, param2});
    });

    connect(this, &RecorderSession::requestMoveFolder, controller, &ZVController::requestMoveFolder);
    connect(this, &RecorderSession::requestChangeRecordMode, controller, &ZVController::requestChangeRecordMode);
    connect(this, &RecorderSession::requestFileDetail, controller, &ZVController::requestFileDetail);
    connect(this, &RecorderSession::requestDownloadFiles, controller, &ZVController::requestDownloadFiles);
}

RecorderSession::~RecorderSession()
{
    stopThread(thread);
}

bool RecorderSession::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        QEventLoop loop;
        QTimer::singleShot(qMin<qint64>(left, 50), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void RecorderSession::readListing()
{
    listing.clear();
    const int count = controller->getFileCount();
    DownloadFileInfo info;
    for (int row = 0; row < count; ++row) {
        if (!controller->getFileInfo(row, &info))
            break;
        listing.append({info.isFolder, info.name, info.dateTime, info.size, info.index});
    }
}

bool RecorderSession::open(const QString &host, int timeoutMs)
{
    controller->setSSID(host);
    const int before = listings;
    thread->start();
    return waitUntil([&] { return connected && listings > before; }, timeoutMs);
}

bool RecorderSession::changeRecordMode(ZVRecordMode mode)
{
    const int reports = modeReports;
    const int before = listings;
    emit requestChangeRecordMode(mode);
    return waitUntil([&] { return modeReports > reports && listings > before; }, AnswerTimeoutMs);
}

bool RecorderSession::enterPath(const QString &path, QString *missing)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        int index = -1;
        if (part == QLatin1String("..")) {
            index = PARENT_FOLDER_INDEX;
        } else {
            for (const Entry &entry : qAsConst(listing)) {
                if (entry.isFolder && entry.name == part) {
                    index = entry.index;
                    break;
                }
            }
        }
        if (index == -1) {
            *missing = part;
            return false;
        }
        const int before = listings;
        emit requestMoveFolder(index);
        if (!waitUntil([&] { return listings > before; }, AnswerTimeoutMs)) {
            *missing = part;
            return false;
        }
    }
    return true;
}

bool RecorderSession::fileDetail(int index, Detail *detail)
{
    const int before = details;
    const int errorsBefore = errorReports.size();
    emit requestFileDetail(index);
    if (!waitUntil([&] { return details > before || errorReports.size() > errorsBefore; }, AnswerTimeoutMs))
        return false;
    if (details == before)
        return false;
    *detail = lastDetail;
    return true;
}

RecorderSession::DownloadEnd RecorderSession::download(const QString &directory, const QList<int> &indexes,
                                                       SameNameOption rule, const DownloadObserver &observer)
{
    bool finished = false;
    int cancels = 0;
    const int errorsBefore = errorReports.size();
    QElapsedTimer quiet;
    quiet.start();

    QList<QMetaObject::Connection> links;
    links << connect(controller, &ZVController::downloadStarted, this, [&](const QString &name, qulonglong size) {
        quiet.restart();
        if (observer.started)
            observer.started(name, size);
    });
    links << connect(progressRelay, &ProgressRelay::progress, this, [&](qulonglong bytes) {
        quiet.restart();
        if (observer.progress)
            observer.progress(bytes);
    });
    links << connect(controller, &ZVController::fileSkipped, this, [&](const QString &name) {
        if (observer.skipped)
            observer.skipped(name);
    });
    links << connect(controller, &ZVController::downloadFinished, this, [&] { finished = true; });
    links << connect(controller, &ZVController::downloadCanceled, this, [&] { ++cancels; });

    controller->setSameOption(rule);
    controller->setDownloadFiles(directory, indexes);
    emit requestDownloadFiles();

    // Ends when the engine finishes, when an error has cancelled it (and the
    // recorder confirmed, or did not within a short while), or when nothing
    // arrives for the watchdog's time.
    QElapsedTimer sinceError;
    waitUntil(
        [&] {
            if (finished || quiet.elapsed() > AnswerTimeoutMs)
                return true;
            if (errorReports.size() == errorsBefore)
                return false;
            if (!sinceError.isValid())
                sinceError.start();
            return cancels > 0 || sinceError.elapsed() > CancelConfirmTimeoutMs;
        },
        INT_MAX);
    for (const auto &link : qAsConst(links))
        disconnect(link);
    if (finished)
        return DownloadEnd::Finished;
    return errorReports.size() > errorsBefore ? DownloadEnd::Failed : DownloadEnd::Lost;
}

QString RecorderSession::lastErrorText() const
{
    if (errorReports.isEmpty())
        return QString();
    const ErrorReport &report = errorReports.last();
    return ErrorTranslator::getCodeText(report.code, report.param1, report.param2);
}
