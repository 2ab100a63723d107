#ifndef DEVICENETCONNECTION_H
#define DEVICENETCONNECTION_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "app/apperrorcode.h"

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

    // Text of a header as logged in both directions: "5a 56 40 ... ".
    static QString headerHexText(const char *header);

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
    void readSocketIntoBuffer();
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
};

#endif // DEVICENETCONNECTION_H
