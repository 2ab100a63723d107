#ifndef ZVCONTROLLER_H
#define ZVCONTROLLER_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include "base/apperrorcode.h"
#include "base/samenameoption.h"
#include "base/zvfileformat.h"
#include "base/zvrecordmode.h"
#include "protocol/zvcommand.h"
#include "recorder/errorfilter.h"

class DeviceNetConnection;
class DownloadFileInfo;
class QTimer;
class ZVCommand;
class ZVDownloadQueue;
class ZVFileList;

// The worker-thread object between the window and the recorder: keeps the
// link up by polling, lists the current folder, dispatches every received
// packet and turns the window's requests into request packets.
class ZVController : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 8010;
    static constexpr int PollIntervalMs = 10000;
    static constexpr unsigned long ConnectedPauseMs = 500;
    static constexpr unsigned long DiscardPauseMs = 1000;
    static constexpr unsigned long FileDetailPauseMs = 1000;
    // The index that requestMoveFolder takes for "one level up".
    static constexpr int ParentFolderIndex = PARENT_FOLDER_INDEX;

    explicit ZVController(QObject *parent = nullptr);
    ~ZVController() override;

    // Byte counts at most every `intervalMs` (ZVDownloadQueue); 0, the
    // default, sends every count. Set before the controller's thread starts.
    void setProgressInterval(int intervalMs);

    // Called from the GUI thread; each takes the mutex.
    void setSSID(const QString &name);
    void setSameOption(SameNameOption option);
    int getFileCount();
    // Copies the entry at `row`; false (and `info` untouched) when the list
    // has changed and no longer has that row.
    bool getFileInfo(int row, DownloadFileInfo *info);
    void setDownloadFiles(const QString &directory, const QList<int> &indexes);

signals:
    void getFileListFinished();
    void networkConnected();
    void networkClosed();
    void discardFileList();
    void error(AppErrorCode code, int param = 0, int param2 = 0);
    void getFileDetailFinished(ZVFileFormat format, uint sample, uint bits, uint fs);
    void downloadStarted(QString targetName, qulonglong size);
    void downloadProgress(qulonglong downloadedBytes);
    void downloadFinished();
    void fileSkipped(QString targetName);
    void downloadCanceled();
    void renewalRecodeMode(ZVRecordMode mode);

public slots:
    void doWork();
    void pollingConnection();
    void connected();
    void analyzeCommand();
    void networkError(AppErrorCode code, int param);
    void requestNewFileList();
    void requestFileDetail(int index);
    void requestMoveFolder(int index);
    void requestChangeRecordMode(ZVRecordMode mode);
    void requestDownloadFiles();
    void cancelDownload();
    void requestDisconnect();

private:
    void clearFileList();
    void parseFileList(ZVCommand *command);
    void handleFileListPacket(ZVCommand *command);
    void notifyFileDetail(ZVCommand *command);
    void requestFileDetailResult();
    void endDownloadOfLostLink();
    static QDateTime makeDateTime(int date, int time);

    DeviceNetConnection *connection;
    QMutex mutex;
    quint8 listSequence = 0;
    bool listComplete = false; // the current listing reached its total
    // Where a restart after an out-of-sequence packet stands: none; asked
    // for, every packet but a 0 still the abandoned listing's; or running
    // from a packet 0, which may yet prove to be the abandoned listing's.
    enum class ListRestart { None, AwaitingStart, Running };
    ListRestart listRestart = ListRestart::None;
    QTimer *pollTimer = nullptr;
    QString hostName;
    const QByteArray nameSeparator;
    ZVDownloadQueue *downloadQueue;
    ZVFileList *fileList;
    QTimer *relistTimer = nullptr; // runs from a list-discard notice to the relist
    QTimer *detailTimer = nullptr; // runs from a detail acknowledgement to its follow-up
    ErrorFilter errorFilter;
};

#endif // ZVCONTROLLER_H
