#include "recordersession.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QHostInfo>
#include <QScopeGuard>
#include <deque>

#include "base/threadjoin.h"
#include "base/waituntil.h"
#include "loglinefilter.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"

namespace {
// The socket's warning while connecting: "cannot reach ..." tells it.
const QString SocketErrorLine = QStringLiteral("net: Tcp socket error:");
// The detail decoder's warning: fileDetail()'s caller tells it.
const QString UnknownFormatLine = QStringLiteral("FileDetail: Unknown File Format");
} // namespace

namespace {
// How long a cancelled download waits for the recorder's confirmation.
constexpr int CancelConfirmTimeoutMs = 5000;
// After a signal, less: the user wants to be done.
constexpr int InterruptConfirmTimeoutMs = 1000;
// The way back to the starting tree after a signal: one or two switches, each
// the recorder's notice, the controller's pause of a second and a listing.
constexpr int InterruptRestoreTimeoutMs = 4000;
// How often the progress line may hear of the bytes received.
constexpr int ProgressIntervalMs = 100;
// How often a wait looks at its clock, whatever arrives meanwhile.
constexpr int CheckIntervalMs = 50;
// Spacing of the byte counts kept for the rate over the window.
constexpr int RateSampleMs = 250;
} // namespace

// A closing step (the cancel's confirmation, the way back to the starting
// tree): its waits go on despite the run's first signal, whether it came
// before or comes during the step, for at most `boundMs` after it; any
// further signal ends them.
class RecorderSession::Closing
{
public:
    Closing(RecorderSession &session, int boundMs)
        : session(session)
    {
        session.signalsExcused = 1;
        session.closingBoundMs = boundMs;
        if (session.signalNumber != 0)
            session.closingSinceSignal.start();
    }
    ~Closing()
    {
        session.signalsExcused = 0;
        session.closingBoundMs = -1;
        session.closingSinceSignal.invalidate();
    }
    Closing(const Closing &) = delete;
    Closing &operator=(const Closing &) = delete;

private:
    RecorderSession &session;
};

RecorderSession::RecorderSession(int answerTimeoutMs, QObject *parent)
    : QObject(parent)
    , answerTimeoutMs(answerTimeoutMs)
    // Byte counts arrive per data packet; the progress line needs a few a
    // second. The controller paces them and sends a file's last count
    // ahead of whatever follows it.
    , controllerHost(new ControllerHost(ProgressIntervalMs, this))
    , controller(controllerHost->controller())
{
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
    connect(controller, &ZVController::renewalRecodeMode, this, [this](ZVRecordMode mode) {
        reportedMode = mode;
        listingsAtReport = listings;
        ++modeReports;
    });
    connect(controller, &ZVController::error, this, &RecorderSession::noteError);

    connect(this, &RecorderSession::requestMoveFolder, controller, &ZVController::requestMoveFolder);
    connect(this, &RecorderSession::requestChangeRecordMode, controller, &ZVController::requestChangeRecordMode);
    connect(this, &RecorderSession::requestFileDetail, controller, &ZVController::requestFileDetail);
    connect(this, &RecorderSession::requestDownloadFiles, controller, &ZVController::requestDownloadFiles);
    connect(this, &RecorderSession::requestCancelDownload, controller, &ZVController::cancelDownload);
}

RecorderSession::~RecorderSession()
{
    // A worker still busy is left behind by the host for the end of the
    // process.
    close();
}

bool RecorderSession::close()
{
    return controllerHost->stop(ThreadJoin::ExitBoundMs);
}

void RecorderSession::interrupt(int signal)
{
    ++signalsHeard;
    if (signalNumber == 0)
        signalNumber = signal;
    if (closingBoundMs >= 0 && !closingSinceSignal.isValid())
        closingSinceSignal.start();
}

void RecorderSession::noteError(AppErrorCode code, int param1, int param2)
{
    if (code == NetworkSocketError) {
        // While opening, the socket's error is the reason given in one line,
        // not a code.
        if (opening && !connected) {
            if (connectError < 0)
                connectError = param1;
            return;
        }
        ++linkErrors;
    }
    // The engine ended the download with the link (dropped without a socket
    // error, too): the recorder is lost, as after a socket error.
    if (code == DownloadLinkLost)
        ++linkErrors;
    // A file that is not a recording has no audio details: an answer, not
    // a fault.
    if (code == FileDetailUnknownFileFormat && param1 == NotAudioFormat) {
        ++notAudioDetails;
        return;
    }
    if (code == FileDetailIllegalPacketSize || code == FileDetailUnknownFileFormat)
        ++detailErrors;
    if (endsDownload(code)) {
        ++endingErrors;
        endingError = {code, param1, param2, 1};
    }
    tally.add(code, param1, param2);
}

QString RecorderSession::socketErrorText(int error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the recorder closed the connection");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("no such host name");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network unreachable");
    default:
        return QStringLiteral("socket error %1").arg(error);
    }
}

RecorderSession::Wait RecorderSession::waitUntil(const std::function<bool()> &done, const QElapsedTimer &quiet)
{
    // The clock is looked at from a timer too: a recorder that keeps sending
    // faults keeps the event loop busy but never postpones the check.
    Wait result = Wait::Done;
    ::waitUntil(
        [&] {
            if (signalsHeard > signalsExcused) {
                result = Wait::Interrupted;
            } else if (done()) {
                result = Wait::Done;
            } else if (quiet.elapsed() > answerTimeoutMs) {
                result = Wait::TimedOut;
                unanswered = true;
            } else if (closingSinceSignal.isValid() && closingSinceSignal.elapsed() > closingBoundMs) {
                result = Wait::TimedOut;
            } else {
                return false;
            }
            return true;
        },
        -1, CheckIntervalMs);
    return result;
}

RecorderSession::Wait RecorderSession::waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer since;
    since.start();
    return waitUntil(done, since);
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

RecorderSession::OpenResult RecorderSession::open(const QString &host)
{
    const QString target = QStringLiteral("%1:%2").arg(host).arg(ZVController::Port);
    const QString seconds = QString::number((answerTimeoutMs + 999) / 1000);
    QElapsedTimer clock;
    clock.start();
    LogLineFilter::hide(SocketErrorLine);
    const auto showSocketErrors = qScopeGuard([] { LogLineFilter::unhide(SocketErrorLine); });

    // A name that does not resolve is said so at once; the controller would
    // keep polling it quietly, as the window wants.
    if (QHostAddress(host).isNull()) {
        bool looked = false;
        QHostInfo found;
        // The answer goes to a receiver that ends with this scope, so a
        // lookup given up on cannot reach the locals below.
        QObject receiver;
        const int lookup = QHostInfo::lookupHost(host, &receiver, [&](const QHostInfo &info) {
            found = info;
            looked = true;
        });
        const Wait wait = waitUntil([&] { return looked; }, clock);
        if (!looked)
            QHostInfo::abortHostLookup(lookup);
        if (wait == Wait::Interrupted)
            return OpenResult::Interrupted;
        if (wait == Wait::TimedOut) {
            failure = QStringLiteral("cannot reach %1: the name did not resolve within %2 s").arg(target, seconds);
            return OpenResult::Unreachable;
        }
        if (found.error() != QHostInfo::NoError || found.addresses().isEmpty()) {
            failure = QStringLiteral("cannot reach %1: %2")
                          .arg(target,
                               found.error() == QHostInfo::HostNotFound
                                   ? socketErrorText(QAbstractSocket::HostNotFoundError)
                                   : found.errorString());
            return OpenResult::Unreachable;
        }
    }

    controller->setSSID(host);
    const int before = listings;
    opening = true;
    controllerHost->start();
    const Wait wait = waitUntil([&] { return (connected && listings > before) || connectError >= 0; }, clock);
    opening = false;
    if (wait == Wait::Interrupted)
        return OpenResult::Interrupted;
    if (connectError >= 0) {
        failure = QStringLiteral("cannot reach %1: %2").arg(target, socketErrorText(connectError));
        return OpenResult::Unreachable;
    }
    if (wait == Wait::Done) {
        startListing = listing;
        return OpenResult::Opened;
    }
    if (connected) {
        failure = QStringLiteral("connected to %1 but the recorder does not answer (busy with another program?)")
                      .arg(target);
        return OpenResult::NotAnswering;
    }
    failure = QStringLiteral("cannot reach %1: no connection within %2 s").arg(target, seconds);
    return OpenResult::Unreachable;
}

bool RecorderSession::changeRecordMode(ZVRecordMode mode)
{
    switchReportsBefore = modeReports;
    emit requestChangeRecordMode(mode);
    return awaitSwitch();
}

// The recorder reports its tree, then its notice makes the controller list
// the new tree's top: a listing completed after the report.
bool RecorderSession::awaitSwitch()
{
    if (waitUntil([&] { return modeReports > switchReportsBefore && listings > listingsAtReport; }) != Wait::Done)
        return false;
    switchReportsBefore = -1;
    topListing[*reportedMode == RecordModeMTR ? 1 : 0] = listing;
    return true;
}

// The protocol cannot ask for the tree: the listing at connection (the top of
// the tree the recorder was on) is compared with the tops seen since. Trees
// that list alike cannot be told apart; they count as the music tree, and so
// does a start that lists like neither. None while only the multitrack top
// was seen and lists like the start: the music top has to be looked at.
std::optional<ZVRecordMode> RecorderSession::startingMode() const
{
    const auto &music = topListing[0];
    const auto &mtr = topListing[1];
    const bool likeMusic = music && *music == startListing;
    const bool likeMtr = mtr && *mtr == startListing;
    if (music && mtr)
        return likeMtr && !likeMusic ? RecordModeMTR : RecordModeMusic;
    if (music)
        return likeMusic ? RecordModeMusic : RecordModeMTR;
    if (mtr && !likeMtr)
        return RecordModeMusic;
    return std::nullopt;
}

bool RecorderSession::restoreRecordMode()
{
    if (!reportedMode && switchReportsBefore < 0)
        return true;
    Closing closing(*this, InterruptRestoreTimeoutMs);
    if (switchBack())
        return true;
    const auto start = startingMode();
    failure = !start              ? QStringLiteral("could not put the recorder back on the folder tree it was on")
        : *start == RecordModeMTR ? QStringLiteral("could not put the recorder back on its multitrack tree")
                                  : QStringLiteral("could not put the recorder back on its music tree");
    return false;
}

bool RecorderSession::switchBack()
{
    if (linkFailed())
        return false;
    // A switch whose wait a signal cut short may still move the recorder.
    if (switchReportsBefore >= 0 && !awaitSwitch())
        return false;
    if (!startingMode() && !changeRecordMode(RecordModeMusic))
        return false;
    const ZVRecordMode start = *startingMode();
    return start == *reportedMode || changeRecordMode(start);
}

bool RecorderSession::enterPath(const QString &path, QString *missing)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        int index = -1;
        if (part == QLatin1String("..")) {
            index = ZVController::ParentFolderIndex;
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
        if (waitUntil([&] { return listings > before; }) != Wait::Done) {
            *missing = part;
            return false;
        }
    }
    return true;
}

RecorderSession::DetailResult RecorderSession::fileDetail(int index, Detail *detail)
{
    const int before = details;
    const int errorsBefore = detailErrors;
    const int notAudioBefore = notAudioDetails;
    LogLineFilter::hide(UnknownFormatLine);
    const auto showFormatErrors = qScopeGuard([] { LogLineFilter::unhide(UnknownFormatLine); });
    emit requestFileDetail(index);
    const auto answered
        = [&] { return details > before || detailErrors > errorsBefore || notAudioDetails > notAudioBefore; };
    if (waitUntil(answered) != Wait::Done)
        return DetailResult::Failed;
    if (notAudioDetails > notAudioBefore)
        return DetailResult::NoAudioDetails;
    if (details == before)
        return DetailResult::Failed;
    *detail = lastDetail;
    return DetailResult::Answered;
}

void RecorderSession::setMinimumRate(qint64 bytesPerSecond, int windowMs)
{
    minimumRate = qMax<qint64>(0, bytesPerSecond);
    rateWindowMs = qMax(1, windowMs);
}

// One download run's state, shared by the steps below.
struct RecorderSession::Run
{
    struct Sample
    {
        qint64 at;
        qint64 bytes;
    };
    bool finished = false;
    int cancels = 0;
    int endingBefore = 0;
    int linkBefore = 0;
    // Since the last real answer (a file started, new bytes).
    QElapsedTimer quiet;
    // Bytes of the whole run, for the rate over the window.
    qint64 doneBytes = 0;
    qint64 fileBytes = 0;
    QElapsedTimer clock;
    std::deque<Sample> samples{{0, 0}};
    QList<QMetaObject::Connection> links;
};

RecorderSession::DownloadEnd RecorderSession::download(const QString &directory, const QList<int> &indexes,
                                                       SameNameOption rule, const DownloadObserver &observer)
{
    Run run;
    run.endingBefore = endingErrors;
    run.linkBefore = linkErrors;
    run.quiet.start();
    run.clock.start();
    measuredRate = 0;
    follow(run, observer);

    controller->setSameOption(rule);
    controller->setDownloadFiles(directory, indexes);
    emit requestDownloadFiles();

    const DownloadEnd end = awaitEnd(run);
    if (end == DownloadEnd::Interrupted || end == DownloadEnd::TooSlow || end == DownloadEnd::Lost)
        cancelAndConfirm(run);
    for (const auto &link : qAsConst(run.links))
        disconnect(link);
    return end;
}

void RecorderSession::follow(Run &run, const DownloadObserver &observer)
{
    run.links << connect(controller, &ZVController::downloadStarted, this,
                         [&run, &observer](const QString &name, qulonglong size) {
                             run.quiet.restart();
                             run.doneBytes += run.fileBytes;
                             run.fileBytes = 0;
                             if (observer.started)
                                 observer.started(name, size);
                         });
    run.links << connect(controller, &ZVController::downloadProgress, this, [&run, &observer](qulonglong bytes) {
        if (qint64(bytes) != run.fileBytes)
            run.quiet.restart();
        run.fileBytes = qint64(bytes);
        if (observer.progress)
            observer.progress(bytes);
    });
    run.links << connect(controller, &ZVController::fileSkipped, this, [&observer](const QString &name) {
        if (observer.skipped)
            observer.skipped(name);
    });
    run.links << connect(controller, &ZVController::error, this, [&observer](AppErrorCode code, int p1, int p2) {
        if (code == DownloadIllegalFileName && observer.refused)
            observer.refused(p1, {code, p1, p2, 1});
    });
    run.links << connect(controller, &ZVController::downloadFinished, this, [&run] { run.finished = true; });
    run.links << connect(controller, &ZVController::downloadCanceled, this, [&run] { ++run.cancels; });
}

// True when the bytes of the last window fall short of the minimum rate.
bool RecorderSession::tooSlow(Run &run)
{
    if (minimumRate <= 0)
        return false;
    const qint64 now = run.clock.elapsed();
    const qint64 bytes = run.doneBytes + run.fileBytes;
    if (now - run.samples.back().at >= RateSampleMs)
        run.samples.push_back({now, bytes});
    while (run.samples.size() > 1 && run.samples[1].at <= now - rateWindowMs)
        run.samples.pop_front();
    const Run::Sample &oldest = run.samples.front();
    if (now - oldest.at < rateWindowMs)
        return false;
    measuredRate = (bytes - oldest.bytes) * 1000 / qMax<qint64>(1, now - oldest.at);
    return measuredRate < minimumRate;
}

RecorderSession::DownloadEnd RecorderSession::awaitEnd(Run &run)
{
    DownloadEnd end = DownloadEnd::Finished;
    QElapsedTimer sinceEnd;
    const Wait wait = waitUntil(
        [&] {
            if (run.finished)
                return true;
            if (linkErrors > run.linkBefore) {
                end = DownloadEnd::Lost;
                return true;
            }
            if (endingErrors > run.endingBefore) {
                // The engine has cancelled; the recorder confirms, or does
                // not within a short while.
                end = DownloadEnd::Failed;
                if (!sinceEnd.isValid())
                    sinceEnd.start();
                return run.cancels > 0 || sinceEnd.elapsed() > CancelConfirmTimeoutMs;
            }
            if (tooSlow(run)) {
                end = DownloadEnd::TooSlow;
                return true;
            }
            return false;
        },
        run.quiet);
    if (wait == Wait::TimedOut)
        return DownloadEnd::Lost;
    if (wait == Wait::Interrupted)
        return DownloadEnd::Interrupted;
    return run.finished ? DownloadEnd::Finished : end;
}

// The engine closes the file (what arrived stays) and asks the recorder to
// stop; its confirmation is awaited a short while, shorter after a signal.
void RecorderSession::cancelAndConfirm(Run &run)
{
    const int before = run.cancels;
    emit requestCancelDownload();
    Closing closing(*this, InterruptConfirmTimeoutMs);
    QElapsedTimer confirm;
    confirm.start();
    waitUntil([&] { return run.cancels > before || confirm.elapsed() > CancelConfirmTimeoutMs; }, confirm);
}
