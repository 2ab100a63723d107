#ifndef DEVICENETCONNECTION_H
#define DEVICENETCONNECTION_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "base/apperrorcode.h"
#include "net/packetframer.h"

class QTcpSocket;
class ZVCommand;

// The TCP link to the recorder: connects, has the received stream cut into
// packets, parses and queues them for the controller, and sends requests.
class DeviceNetConnection : public QObject
{
    Q_OBJECT
public:
    explicit DeviceNetConnection(QObject *parent = nullptr);

    void connectToHost(const QString &host, quint16 port);
    void abort();
    bool isUnconnected() const;
    bool isConnected() const;

    void sendPacket(const QByteArray &packet);

    bool isCommandQueueEmpty() const { return commandQueue.isEmpty(); }
    ZVCommand *firstCommand() const { return commandQueue.first(); }
    void removeFirstCommand();
    int commandCount() const { return commandQueue.size(); }
    void clearCommandQueue();

    static constexpr int MaxPacketsPerTurn = PacketFramer::MaxPacketsPerTurn;

    // Whether a cancel request sent on this connection still waits for the
    // recorder's confirmation; if so, it counts as confirmed now.
    bool takeCancelConfirmation();
    // The same question, leaving the count as it is.
    bool awaitsCancelConfirmation() const { return unconfirmedCancels > 0; }

signals:
    void networkError(AppErrorCode code, int param);
    void networkClosed();
    void networkConnected();
    void newCommandRecieved();

public slots:
    void receivePacket();
    void closeConnection();
    void connectedConnection();
    void error();
    void timeout();

private:
    void frameReceivedBytes();
    void handlePacket(const PacketFramer::Packet &packet);
    void keepQueuedPayloads();
    void postNextTurn();
    ZVCommand *takeCommand();
    void releaseCommand(ZVCommand *command);

    QTcpSocket *socket;
    QList<ZVCommand *> commandQueue;
    // A command done with, kept to carry the next packet: allocating one per
    // packet costs a download with 1 KiB data packets about 0.17 CPU-s per GB
    // (a fifth of its CPU) and a tenth of its rate (bench/README.md, "The
    // link's read path and its spare command").
    ZVCommand *spareCommand = nullptr;
    // Commands refer to their payload in the framer's buffer while they are
    // handled; a command still queued when a turn ends takes a copy of its own.
    PacketFramer framer;
    bool framing = false;
    bool readPending = false;
    bool turnPosted = false;    // a later turn frames the rest of the buffer
    int unconfirmedCancels = 0; // cancel requests sent, not yet confirmed
};

#endif // DEVICENETCONNECTION_H
