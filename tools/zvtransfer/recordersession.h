#ifndef RECORDERSESSION_H
#define RECORDERSESSION_H

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

#include "app/apperrorcode.h"
#include "controller/downloadfileinfo.h"
#include "controller/zvfileformat.h"
#include "controller/zvrecordmode.h"
#include "download/samenameoption.h"

class ProgressRelay;
class QThread;
class ZVController;

// Drives a ZVController on its worker thread from a command-line program:
// each step sends one request and waits (in a local event loop) for the
// answer the window would wait for.
class RecorderSession : public QObject
{
    Q_OBJECT
public:
    struct Entry {
        bool isFolder = false;
        QString name;
        QDateTime dateTime;
        qint64 size = 0;
        int index = 0;
    };
    struct Detail {
        ZVFileFormat format = FormatWAV;
        uint sampleRate = 0;
        uint bits = 0;
        uint samples = 0;
    };
    struct ErrorReport {
        AppErrorCode code = NetworkSocketError;
        int param1 = 0;
        int param2 = 0;
    };
    // What one download run reports, file by file.
    struct DownloadObserver {
        std::function<void(const QString &name, qulonglong size)> started;
        std::function<void(qulonglong bytes)> progress;
        std::function<void(const QString &name)> skipped;
    };

    explicit RecorderSession(QObject *parent = nullptr);
    ~RecorderSession() override;

    // Connects and waits for the first listing; false after `timeoutMs`.
    bool open(const QString &host, int timeoutMs);
    bool changeRecordMode(ZVRecordMode mode);
    // Enters each folder of a "/"-separated path, relative to the current one.
    bool enterPath(const QString &path, QString *missing);
    QList<Entry> entries() const { return listing; }
    bool fileDetail(int index, Detail *detail);

    enum class DownloadEnd { Finished, Failed, Lost };
    DownloadEnd download(const QString &directory, const QList<int> &indexes, SameNameOption rule,
                         const DownloadObserver &observer);

    QList<ErrorReport> errors() const { return errorReports; }
    QString lastErrorText() const;

signals:
    // Requests to the controller, queued onto its thread.
    void requestMoveFolder(int index);
    void requestChangeRecordMode(ZVRecordMode mode);
    void requestFileDetail(int index);
    void requestDownloadFiles();

private:
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    void readListing();

    QThread *thread;
    ZVController *controller;
    ProgressRelay *progressRelay;
    QList<Entry> listing;
    QList<ErrorReport> errorReports;
    bool connected = false;
    int listings = 0;
    int details = 0;
    Detail lastDetail;
    int modeReports = 0;
};

#endif // RECORDERSESSION_H
