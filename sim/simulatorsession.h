#ifndef SIMULATORSESSION_H
#define SIMULATORSESSION_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QVector>

#include "sim/folderlisting.h"
#include "sim/treeentry.h"

class QTcpSocket;
class RecorderTree;
class SessionOutput;
struct SimulatorSettings;

// One client connection, from accept to close: reads the client's requests,
// keeps the current folder and the running download, and answers as the
// recorder does. A new connection gets a new session, so it starts at the
// root of the tree of the current record mode.
class SimulatorSession : public QObject
{
    Q_OBJECT
public:
    // `recordMode` is the simulator's (it outlives sessions); the session
    // takes ownership of `socket`.
    SimulatorSession(QTcpSocket *socket, SimulatorSettings *settings, RecorderTree *musicTree, RecorderTree *mtrTree,
                     int *recordMode, QObject *parent = nullptr);
    ~SimulatorSession() override;

    // Announces that the current listing changed (code 0x12).
    void notifyListingChanged();
    void disconnectClient();
    void sendRaw(const QByteArray &bytes);

signals:
    void requestReceived(const QByteArray &header);
    void downloadStarted(const QString &name, qint64 size);
    void downloadFinished(qint64 bytes);
    void downloadCanceled(qint64 bytes);
    void connectionDropped();
    // The connection is gone; the session may be deleted.
    void finished();

private slots:
    void readRequests();
    void produceData();
    void socketDisconnected();

private:
    void handleRequest(const QByteArray &header);
    void sendListing();
    void produceListing();
    void moveFolder(quint16 index);
    void sendDetail();
    void startDownload(quint16 index);
    void cancelDownload();
    void changeRecordMode(quint16 item, quint16 value);
    void reply(const QByteArray &packet, const QString &what);
    void logAnswer(const char *header, const QString &what) const;

    RecorderTree *currentTree() const;
    const FolderListing &currentListing();
    void produceBatch();
    void stagePayload(qint64 payloadBytes);
    qint64 writeBatch(qint64 packets, bool direct);
    void produceMappedBatch();
    void finishIfAllSent();
    void writeDataHeader(char *out, qint64 offset, const char *payload, int length);
    void readPayload(char *out, qint64 offset, int length);
    void endDownload();

    QTcpSocket *socket;
    SimulatorSettings *settings;
    RecorderTree *musicTree;
    RecorderTree *mtrTree;
    int *recordMode;
    SessionOutput *output;
    QByteArray receiveBuffer;

    // Folders entered from the root of the current tree.
    QVector<TreeEntry> folderPath;
    FolderListing listing;
    bool listingValid = false;
    bool listedOnce = false;
    int detailIndex = -1; // index named by the last 0x21, -1 for none

    // A listing goes out packet by packet as the socket drains (a listing of
    // long names runs to gigabytes).
    bool listingPending = false;
    int listingRow = 0;
    quint8 listingSequence = 0;

    bool downloading = false;
    bool continuationPosted = false; // produceData() comes back after a long run
    QString downloadName;
    QFile downloadFile;
    QByteArray downloadContent; // bytes of a virtual file
    qint64 fileBytes = 0;       // listed size: bytes taken from the file
    qint64 totalBytes = 0;      // with the extra-bytes fault
    qint64 producedBytes = 0;
    int packetNumber = 0; // data packets of this download so far
    bool shortReadReported = false;
    QByteArray batch;        // packets being built, reused
    QByteArray stage;        // file bytes of one batch, reused
    uchar *mapped = nullptr; // the file's pages, for large packets
    qint64 mappedBytes = 0;
    QByteArray headers; // headers of a mapped batch, reused
};

#endif // SIMULATORSESSION_H
