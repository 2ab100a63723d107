#ifndef RECORDERSIMULATOR_H
#define RECORDERSIMULATOR_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "sim/demotree.h"
#include "sim/recordertree.h"
#include "sim/simulatorsettings.h"

class QTcpServer;
class QTcpSocket;
class QTemporaryDir;
class SimulatorSession;

// A stand-in for the recorder at the other end of the TCP link, for tests,
// demos and benchmarks. It serves a music tree and a multitrack tree (real
// directories or the generated demo trees) with the recorder's protocol, on
// the event loop of the thread it lives in, and injects faults on request.
//
// One client at a time: a connection that arrives while another is served
// is held (accepted, its requests buffered, nothing answered) until the
// served one ends, then served in turn; so a client that drops its connection
// and reconnects at once is never turned away by the end of its own old
// session. Every connection starts a fresh session at the root of the tree of
// the current record mode; the record mode itself is the recorder's state and
// survives reconnections.
//
// Requests it does not know (other kinds, other codes, status items other
// than 0) are ignored without an answer.
class RecorderSimulator : public QObject
{
    Q_OBJECT
public:
    using DropMode = SimulatorSettings::DropMode;
    static constexpr quint16 DefaultPort = 8010;
    static constexpr int RecordModeRequest = SimulatorSettings::RecordModeRequest;

    explicit RecorderSimulator(QObject *parent = nullptr);
    ~RecorderSimulator() override;

    // Trees
    void setMusicRoot(const QString &directory);
    void setMtrRoot(const QString &directory);
    // Generates the demo trees into `directory` (or, when that is empty, into
    // a scratch directory removed with the simulator) and serves them. False
    // when they cannot be written.
    bool useDemoTrees(const QString &directory = QString(), const DemoTree::Options &options = DemoTree::Options());
    QString musicRoot() const;
    QString mtrRoot() const;

    // Server
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = DefaultPort);
    void close();
    bool isListening() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    bool hasClient() const;
    void disconnectClient();
    // Sends the client a code 0x12 notice, as the recorder does when its
    // current listing changes.
    void notifyListingChanged();
    // Sends the client these bytes as they are (packets nobody asked for).
    void sendToClient(const QByteArray &bytes);

    // Behaviour
    void setRecordMode(int mode); // 0 music, 1 multitrack
    int recordMode() const { return mode; }
    void setMaxListPayload(int bytes); // listing payload per packet, default 4096
    void setChunkSize(int bytes);      // data payload per packet, 1..65521, default 32 KiB
    void setSendWindow(qint64 bytes);  // most bytes queued towards the socket, default 2 MiB
    void setLogExchanges(bool on);     // one "sim: " line per request and answer

    // Faults; each is off until set, clearFaults() turns all off.
    void setPacketSplit(int pieceBytes, int pauseMs); // 0 bytes: off
    void setThrottle(qint64 bytesPerSecond);          // 0: off
    void setCorruptCheckAt(int packet);               // data packet from 0 in each download, -1: off
    void setWrongOffsetAt(int packet);                // offset field + 1
    void setWrongLengthAt(int packet);                // length field - 1
    void setExtraBytes(qint64 bytes);                 // zeros after the listed size
    void setForeignPackets(bool on);                  // kind 0x77 and code 0x7E before each answer
    // First listing of a session numbered from 1, or every listing.
    void setListSequenceFault(bool on, bool everyListing = false);
    // Ends the conversation once `bytes` bytes went out in a session; fires
    // once, or in every session. Negative bytes: off.
    void setDropAfter(qint64 bytes, DropMode dropMode = DropMode::Reset, bool everySession = false);
    // Leaves a request unanswered: a kind 0x40 code, or RecordModeRequest.
    void setUnanswered(int request, bool on = true);
    void setHostileNames(bool on); // hostile entries at the root of both trees
    // Each listing announces `entries` fewer than it sends (never below 0).
    void setListSurplus(int entries);
    // Every listed file name is lengthened to `units` UTF-16 units (at most
    // SimulatorSettings::MaxNameUnits); 0: off.
    void setLongNames(int units);
    // From each new connection on, sends packets without the "ZV" mark
    // continuously (besides any answers) until the client leaves.
    void setFloodBadMagic(bool on);
    void clearFaults();

    const SimulatorSettings &settings() const { return config; }

signals:
    void clientConnected();
    void clientDisconnected();
    // A connection came while another is served; it waits its turn.
    void connectionHeld();
    // Every request framed from the client, before it is handled.
    void requestReceived(const QByteArray &header);
    void downloadStarted(const QString &name, qint64 size);
    // All data of a download was handed to the connection.
    void downloadFinished(qint64 bytes);
    void downloadCanceled(qint64 bytesProduced);
    // The drop fault fired.
    void connectionDropped();

private slots:
    void acceptConnections();

private:
    void serve(QTcpSocket *socket);
    void serveNextWaiting();

    QTcpServer *server;
    QPointer<SimulatorSession> session;
    QList<QTcpSocket *> waiting; // held connections, oldest first
    SimulatorSettings config;
    RecorderTree musicTree;
    RecorderTree mtrTree;
    int mode = 0;
    std::unique_ptr<QTemporaryDir> scratch;
};

#endif // RECORDERSIMULATOR_H
