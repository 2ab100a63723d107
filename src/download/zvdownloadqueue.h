#ifndef ZVDOWNLOADQUEUE_H
#define ZVDOWNLOADQUEUE_H

#include <QDateTime>
#include <QDir>
#include <QList>
#include <QObject>
#include <QString>

#include "app/apperrorcode.h"
#include "download/samenameoption.h"

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
    ZVDownloadQueue(DeviceNetConnection *connection, ZVFileList *fileList, QObject *parent = nullptr);
    ~ZVDownloadQueue() override;

    // The lock that guards the targets, directory and option against the GUI
    // thread (the controller's); without one nothing is locked.
    void setMutex(QMutex *mutex) { this->mutex = mutex; }

    // Called with the mutex held by the caller.
    void clearTargets();
    void addTarget(int index);
    void setDirectory(const QString &path);
    void setSameOption(SameNameOption option);

    void startDownload();
    void saveDownloadData(ZVCommand *command);
    void cancel();
    bool skipCurrentFile(QString *name, QString *path);

    static QString makeCountFileName(int count, const QString &path);
    static QString makeNewCountFileName(const QString &path);
    // A recorder's entry name that may be used as a file name in `directory`.
    static bool isSafeFileName(const QString &name, const QDir &directory);

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
        QString path;
        QDateTime dateTime;
        int option = SaveNoWrite;
    };
    enum class Decision { Write, Skip };

    bool takeFirstTarget(Target *target, bool *dropped);
    void removeFirstTarget();
    static bool keepsExistingFile(int option, const QString &path, qint64 size);
    Decision applySameNameRule(Target *target);
    bool checkFreeSpace();
    void startNextTarget();
    bool openTarget(const Target &target);
    bool finishFile();
    bool writePayload(const char *data, int length, qint64 *attempted, qint64 *written);
    bool flushGathered(qint64 *attempted, qint64 *written);
    void closeFile();
    void fail(AppErrorCode code, int param, int param2);
    void completeFile();
    void keepRecordingTime();

    DeviceNetConnection *connection;
    ZVFileList *fileList;
    QList<int> targetList;
    QDir saveDirectory;
    int sameOption = SaveNoWrite;
    QFile *file = nullptr;
    // When the file being written replaces one that exists, `file` is a
    // temporary file in the same folder that takes this path only once it is
    // complete.
    QString replacePath;
    // Verified payloads of small packets waiting for one larger write.
    QByteArray gathered;
    qint64 estimatedSize = 0;
    QDateTime recordedAt;   // the current file's date-time as listed
    quint32 receivedSize = 0;
    bool canceled = false;

    QMutex *mutex = nullptr;
    QString openError;   // why the current target could not be opened
};

#endif // ZVDOWNLOADQUEUE_H
