#ifndef DEVICENETCONNECTION_H
#define DEVICENETCONNECTION_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "base/apperrorcode.h"

class QTcpSocket;
class ZVCommand;

// The TCP link to the recorder: connects, cuts the received stream into
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

    // Most packets framed in one turn of the event loop; the rest of the
    // received bytes is framed in the next turn, so timers, cancels and
    // quitting get through while a recorder floods the link.
    static constexpr int MaxPacketsPerTurn = 512;

    // Whether a cancel request sent on this connection still waits for the
    // recorder's confirmation; if so, it counts as confirmed now.
    bool takeCancelConfirmation();

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
    void dropFramedFront();
    void keepUnframedTail(int pos);
    void readSocketIntoBuffer();
    void postNextTurn();
    ZVCommand *takeCommand();
    void releaseCommand(ZVCommand *command);

    QTcpSocket *socket;
    QList<ZVCommand *> commandQueue;
    // A command done with, kept to carry the next packet instead of
    // allocating one per packet.
    ZVCommand *spareCommand = nullptr;
    // Bytes of an incomplete packet kept from one read to the next. New bytes
    // are appended to it and packets are cut out with a cursor; only the
    // unframed tail is moved to the front afterwards. Commands refer to their
    // payload in here while they are handled; a command still queued when
    // the framing ends takes a copy of its own.
    QByteArray receiveBuffer;
    bool framing = false;
    bool readPending = false;
    bool turnPosted = false;    // a later turn frames the rest of the buffer
    int framedBytes = 0;        // bytes at the buffer's start framed in an earlier turn
    int unconfirmedCancels = 0; // cancel requests sent, not yet confirmed
};

#endif // DEVICENETCONNECTION_H
