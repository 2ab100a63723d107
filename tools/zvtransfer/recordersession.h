#ifndef RECORDERSESSION_H
#define RECORDERSESSION_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "base/apperrorcode.h"
#include "base/downloadfileinfo.h"
#include "base/samenameoption.h"
#include "base/zvfileformat.h"
#include "base/zvrecordmode.h"
#include "errortally.h"

class ControllerHost;
class ZVController;

// Drives a ZVController on its worker thread from a command-line program:
// each step sends one request and waits (in a local event loop) for the
// answer the window would wait for. Every wait is bounded by the answer
// timeout, counted from the last real answer: faults and notices the recorder
// sends meanwhile do not extend it. A signal (interrupt()) ends any wait but
// those of the closing steps (a cancel's confirmation, the way back to the
// tree the recorder was on), which go on for a short while after it; a
// further signal ends those too.
class RecorderSession : public QObject
{
    Q_OBJECT
public:
    struct Entry
    {
        bool isFolder = false;
        QString name;
        QDateTime dateTime;
        qint64 size = 0;
        int index = 0;

        bool operator==(const Entry &other) const
        {
            return isFolder == other.isFolder && name == other.name && dateTime == other.dateTime && size == other.size
                && index == other.index;
        }
    };
    struct Detail
    {
        ZVFileFormat format = FormatWAV;
        uint sampleRate = 0;
        uint bits = 0;
        uint samples = 0;
    };
    // What one download run reports, file by file.
    struct DownloadObserver
    {
        std::function<void(const QString &name, qulonglong size)> started;
        std::function<void(qulonglong bytes)> progress;
        std::function<void(const QString &name)> skipped;
        // The engine refused the name of the target with this entry index;
        // the download goes on with the others.
        std::function<void(int index, const ErrorTally::Item &error)> refused;
    };

    static constexpr int DefaultRateWindowMs = 60000;
    // The format a detail reply gives for a file that is not a recording.
    static constexpr int NotAudioFormat = 0;

    explicit RecorderSession(int answerTimeoutMs, QObject *parent = nullptr);
    ~RecorderSession() override;

    enum class OpenResult { Opened, Unreachable, NotAnswering, Interrupted };
    // Resolves the name, connects and waits for the first listing.
    OpenResult open(const QString &host);
    // Why open() failed, as one line.
    QString openFailure() const { return failure; }

    // Switches the recorder's tree and waits for the new tree's top listing.
    bool changeRecordMode(ZVRecordMode mode);
    // Puts the recorder back on the tree it was on when open() connected,
    // when a switch (done, or asked for) may have moved it. After a signal
    // this waits a short while only, and a further signal ends it. False when
    // it could not: restoreFailure() says why.
    bool restoreRecordMode();
    QString restoreFailure() const { return failure; }

    // Enters each folder of a "/"-separated path, relative to the current one.
    bool enterPath(const QString &path, QString *missing);
    QList<Entry> entries() const { return listing; }
    enum class DetailResult {
        Answered,
        NoAudioDetails, // the recorder gave format 0: not a recording (a text file)
        Failed,         // no answer, or one that could not be read (errors() has it)
    };
    DetailResult fileDetail(int index, Detail *detail);

    // Gives a download up when fewer than `bytesPerSecond` arrive on average
    // over `windowMs`; 0 bytes: never.
    void setMinimumRate(qint64 bytesPerSecond, int windowMs = DefaultRateWindowMs);

    enum class DownloadEnd {
        Finished,    // the engine went through every target
        Failed,      // an error ended it (the engine cancelled, or the recorder stopped it)
        Lost,        // the link broke, or nothing came for the answer timeout
        TooSlow,     // below the minimum rate; cancelled
        Interrupted, // a signal came; cancelled
    };
    DownloadEnd download(const QString &directory, const QList<int> &indexes, SameNameOption rule,
                         const DownloadObserver &observer);
    // Bytes a second over the last rate window when a download was given up.
    qint64 lastRate() const { return measuredRate; }

    ErrorTally &errors() { return tally; }
    // The code of the last error that ended a download.
    ErrorTally::Item lastEndingError() const { return endingError; }

    // The signal that ended the run, 0 for none.
    int interruption() const { return signalNumber; }
    // Ends the link and the worker thread. False when the worker did not end
    // within ThreadJoin::ExitBoundMs: it is then left running, and the
    // process should end without further clean-up.
    bool close();

public slots:
    void interrupt(int signal);

signals:
    // Requests to the controller, queued onto its thread.
    void requestMoveFolder(int index);
    void requestChangeRecordMode(ZVRecordMode mode);
    void requestFileDetail(int index);
    void requestDownloadFiles();
    void requestCancelDownload();

private:
    enum class Wait { Done, TimedOut, Interrupted };
    struct Run;
    class Closing;
    // Runs the event loop until `done`, until `quiet` is older than the
    // answer timeout, or until a signal comes.
    Wait waitUntil(const std::function<bool()> &done, const QElapsedTimer &quiet);
    Wait waitUntil(const std::function<bool()> &done);
    // The steps of download().
    void follow(Run &run, const DownloadObserver &observer);
    bool tooSlow(Run &run);
    DownloadEnd awaitEnd(Run &run);
    void cancelAndConfirm(Run &run);
    // True once the recorder stopped answering or the link broke: nothing
    // more is asked of it.
    bool linkFailed() const { return unanswered || linkErrors > 0; }
    // The second half of changeRecordMode(): the report and the top listing.
    bool awaitSwitch();
    std::optional<ZVRecordMode> startingMode() const;
    bool switchBack();
    void readListing();
    void noteError(AppErrorCode code, int param1, int param2);
    static QString socketErrorText(int error);

    const int answerTimeoutMs;
    ControllerHost *controllerHost;
    ZVController *controller;
    QList<Entry> listing;
    ErrorTally tally;
    ErrorTally::Item endingError;
    bool connected = false;
    bool opening = false;
    int connectError = -1; // socket error while opening
    int listings = 0;
    int details = 0;
    int detailErrors = 0;
    int notAudioDetails = 0;
    int endingErrors = 0;
    int linkErrors = 0;
    Detail lastDetail;
    int modeReports = 0;
    // Listings that had completed when the last mode report came.
    int listingsAtReport = 0;
    std::optional<ZVRecordMode> reportedMode;
    // Reports before the switch under way; -1 when none is.
    int switchReportsBefore = -1;
    // The listing at connection, and each tree's top as seen after a switch.
    QList<Entry> startListing;
    std::optional<QList<Entry>> topListing[2];
    bool unanswered = false; // a wait timed out
    QString failure;
    qint64 minimumRate = 0;
    int rateWindowMs = DefaultRateWindowMs;
    qint64 measuredRate = 0;
    int signalNumber = 0;
    // Signals heard, and those a closing step goes on despite (the first).
    int signalsHeard = 0;
    int signalsExcused = 0;
    // A closing step under way: how long it may wait after a signal (-1:
    // none is), and since when it does.
    int closingBoundMs = -1;
    QElapsedTimer closingSinceSignal;
};

#endif // RECORDERSESSION_H
