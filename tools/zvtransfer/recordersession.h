#ifndef RECORDERSESSION_H
#define RECORDERSESSION_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

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
// sends meanwhile do not extend it. A signal (interrupt()) ends any wait.
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

    explicit RecorderSession(int answerTimeoutMs, QObject *parent = nullptr);
    ~RecorderSession() override;

    enum class OpenResult { Opened, Unreachable, NotAnswering, Interrupted };
    // Resolves the name, connects and waits for the first listing.
    OpenResult open(const QString &host);
    // Why open() failed, as one line.
    QString openFailure() const { return failure; }

    bool changeRecordMode(ZVRecordMode mode);
    // Enters each folder of a "/"-separated path, relative to the current one.
    bool enterPath(const QString &path, QString *missing);
    QList<Entry> entries() const { return listing; }
    bool fileDetail(int index, Detail *detail);

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
    // Runs the event loop until `done`, until `quiet` is older than the
    // answer timeout, or until a signal comes.
    Wait waitUntil(const std::function<bool()> &done, const QElapsedTimer &quiet);
    Wait waitUntil(const std::function<bool()> &done);
    // The steps of download().
    void follow(Run &run, const DownloadObserver &observer);
    bool tooSlow(Run &run);
    DownloadEnd awaitEnd(Run &run);
    void cancelAndConfirm(Run &run);
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
    int endingErrors = 0;
    int linkErrors = 0;
    Detail lastDetail;
    int modeReports = 0;
    QString failure;
    qint64 minimumRate = 0;
    int rateWindowMs = DefaultRateWindowMs;
    qint64 measuredRate = 0;
    int signalNumber = 0;
};

#endif // RECORDERSESSION_H
