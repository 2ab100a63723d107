#ifndef ZVDOWNLOADQUEUE_H
#define ZVDOWNLOADQUEUE_H

#include <QDateTime>
#include <QDir>
#include <QList>
#include <QObject>
#include <QString>

#include "base/apperrorcode.h"
#include "base/samenameoption.h"

class DeviceNetConnection;
class QFile;
class QMutex;
class ZVCommand;
class ZVFileList;

// Downloads the checked recordings one after the other into the save
// directory: settles each local name, sends the download request and checks
// and writes the recorder's data packets.
class ZVDownloadQueue : public QObject
{
    Q_OBJECT
public:
    // The pause before requesting the next file, as the recorder expects.
    static constexpr unsigned long PauseBetweenFilesMs = 200;

    ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QObject *parent = nullptr);
    ~ZVDownloadQueue() override;

    // The lock that guards the targets, directory and option against the GUI
    // thread (the controller's); without one nothing is locked.
    void setMutex(QMutex *mutex) { this->mutex = mutex; }

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

    static QString makeCountFileName(int count, const QString &path);
    static QString makeNewCountFileName(const QString &path);
    // A recorder's entry name that may be used as a file name in `directory`.
    static bool isSafeFileName(const QString &name, const QDir &directory);
    // `name` inside `directory`, never read as a resource path (":name").
    static QString filePathIn(const QDir &directory, const QString &name);
    // The name a download of `fileName` is written under until it is
    // complete: "NAME.part", or "NAME(count).part" (count > 0) when that is
    // taken by something that is not ours.
    static QString partFileName(const QString &fileName, int count);

signals:
    void downloadStarted(QString targetName, qulonglong size);
    void downloadProgress(qulonglong downloadedBytes);
    void downloadFinished();
    // The current target was left alone under the same-name rule; the usual
    // downloadStarted and downloadProgress follow as for a complete file.
    void fileSkipped(QString targetName);
    void error(AppErrorCode code, int param = 0, int param2 = 0);

private:
    struct Target {
        int index = 0;
        QString name;
        qint64 size = 0;
        QDateTime dateTime;
        bool listed = false;   // a recording of that index was listed when chosen
        // Settled when the target starts:
        QString path;
        int option = SaveNoWrite;
        bool safeName = false;
    };
    enum class Next { Start, Lost, Wait, None };

    Next takeFirstTarget(Target *target);
    void removeFirstTarget();
    static bool keepsExistingFile(int option, const QString &path, qint64 size);
    bool checkFreeSpace();
    void startNextTarget();
    void skipTarget(const Target &target);
    void finishDownload();
    bool openTarget(const QString &path);
    bool finishFile();
    bool writePayload(const char *data, int length, qint64 *attempted, qint64 *written);
    bool flushGathered(qint64 *attempted, qint64 *written);
    void closeFile();
    void fail(AppErrorCode code, int param, int param2);
    void completeFile();
    void keepRecordingTime();
    void writeError(const QString &what, int param, int param2);
    void startWriteback();

    DeviceNetConnection *connection;
    ZVFileList *fileList;
    QList<Target> targets;
    QDir saveDirectory;
    int sameOption = SaveNoWrite;
    // The file being received is written to `partPath` and takes `finalPath`
    // only once it is complete (replacing what is there).
    QFile *file = nullptr;
    QString partPath;
    QString finalPath;
    // Verified payloads of small packets waiting for one larger write.
    QByteArray gathered;
    qint64 estimatedSize = 0;
    QDateTime recordedAt;   // the current file's date-time as listed
    quint32 receivedSize = 0;
    // The current file's bytes before writebackFrom are on their way to the
    // disk; those before previousWriteback are on it.
    qint64 writebackFrom = 0;
    qint64 previousWriteback = 0;
    bool canceled = false;

    bool running = false;             // from startDownload to its end
    bool listingPending = false;      // the file list was emptied, the new one is not complete
    bool waitingForListing = false;   // the next target waits for listingFinished()
    int lostTargets = 0;              // targets of this download that were no longer listed

    QMutex *mutex = nullptr;
    QString openError;   // why the current target could not be opened
};

#endif // ZVDOWNLOADQUEUE_H
