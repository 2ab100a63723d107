#ifndef ZVDOWNLOADQUEUE_H
#define ZVDOWNLOADQUEUE_H

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include "base/apperrorcode.h"
#include "base/samenameoption.h"
#include "recorder/partfile.h"

class DeviceNetConnection;
class QMutex;
class QTimer;
class ZVCommand;
class ZVFileList;

// Downloads the checked recordings one after the other into the save
// directory: takes each target in turn, lets the same-name rule settle its
// local name, sends the download request and checks the recorder's data
// packets before they go to the file being written.
//
// Byte counts are paced here, on the thread that receives the data: with an
// interval set, the first count goes out at once and then at most one every
// interval while counts keep coming; a count held back goes out when the
// interval ends, or at once ahead of any other signal of the download (a
// file started, skipped or complete, the end, a failure), so a receiver on
// another thread gets one queued call per interval, in the order of events,
// and always the last count.
class ZVDownloadQueue : public QObject
{
    Q_OBJECT
public:
    // The pause before requesting the next file, as the recorder expects.
    static constexpr unsigned long PauseBetweenFilesMs = 200;

    // `mutex` guards the targets, directory and option against the GUI
    // thread (it is the controller's).
    ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QMutex &mutex, QObject *parent = nullptr);
    ~ZVDownloadQueue() override;

    // At most one downloadProgress every `intervalMs`; 0 (the default) sends
    // every count.
    void setProgressInterval(int intervalMs);
    // Sends a count held back by the pacing now. The controller calls it
    // before signals of its own.
    void flushProgress();

    // Called with the mutex held by the caller. A target is the entry listed
    // under `index` now: its name and size are kept with it, so a later
    // listing cannot swap in another recording under the same index.
    void clearTargets();
    void addTarget(int index);
    void setDirectory(const QString &path);
    void setSameOption(SameNameOption option);

    // The controller emptied the file list for a new listing (called with the
    // mutex held). While a download runs its targets stay: the current file
    // goes on, the next one waits for listingFinished().
    void fileListCleared();
    // The new listing is complete: a download that waited goes on with every
    // target whose entry (index, name, size) is listed again.
    void listingFinished();

    void startDownload();
    void saveDownloadData(ZVCommand *command);
    void cancel();

    // From startDownload until the download finishes or ends otherwise.
    bool isRunning() const { return running; }
    // The link to the recorder went down: a running download ends here
    // (DownloadLinkLost) and is never taken up again by itself. False when
    // none was running.
    bool linkLost();
    // The recorder stopped sending on its own: a running download ends here
    // (DownloadStoppedByRecorder). False when none was running.
    bool stoppedByRecorder();

    // The counted names of the same-name rule (SameNameRule).
    static QString makeCountFileName(int count, const QString &path);
    static QString makeNewCountFileName(const QString &path);

signals:
    void downloadStarted(QString targetName, qulonglong size);
    void downloadProgress(qulonglong downloadedBytes);
    void downloadFinished();
    // The current target was left alone under the same-name rule; the usual
    // downloadStarted and downloadProgress follow as for a complete file.
    void fileSkipped(QString targetName);
    void error(AppErrorCode code, int param = 0, int param2 = 0);

private:
    struct Target
    {
        int index = 0;
        QString name;
        qint64 size = 0;
        QDateTime dateTime;
        bool listed = false; // a recording of that index was listed when chosen
        // Settled when the target starts:
        QString path;
        int option = SaveNoWrite;
        bool safeName = false;
    };
    enum class Next { Start, Lost, Wait, None };
    // How starting a target ended.
    enum class Started { Receiving, Done, Failed };

    Next takeFirstTarget(Target *target);
    bool nextTargetOrFinish(Target *target);
    void removeFirstTarget();
    bool checkFreeSpace();
    void startNextTarget();
    Started startTarget(const Target &target);
    void skipTarget(const Target &target);
    bool completeFile();
    void finishDownload();
    bool endWithoutRequest(AppErrorCode code);
    bool checkPacket(ZVCommand *command);
    void fail(AppErrorCode code, int param, int param2);
    void writeError();
    void reportProgress(qulonglong bytes);

    DeviceNetConnection *connection;
    ZVFileList *fileList;
    QList<Target> targets;
    QDir saveDirectory;
    int sameOption = SaveNoWrite;
    // The file being received: written under its ".part" name, it takes the
    // target's name once it is complete.
    PartFile file;
    qint64 estimatedSize = 0;
    quint32 receivedSize = 0;
    bool canceled = false;

    bool running = false;           // from startDownload to its end
    bool listingPending = false;    // the file list was emptied, the new one is not complete
    bool waitingForListing = false; // the next target waits for listingFinished()
    int lostTargets = 0;            // targets of this download that were no longer listed

    QMutex &mutex;

    int progressIntervalMs = 0;
    QElapsedTimer sinceProgress; // since the last count sent
    QTimer *heldProgressTimer;   // sends a held count when counts stop coming
    qulonglong heldBytes = 0;
    bool progressHeld = false;
};

#endif // ZVDOWNLOADQUEUE_H
