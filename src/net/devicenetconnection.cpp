#include "net/devicenetconnection.h"

#include <QTcpSocket>

#include "base/logging.h"
#include "net/socketread.h"
#include "protocol/zvcommand.h"

DeviceNetConnection::DeviceNetConnection(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
{
    socket->setReadBufferSize(SocketReadBufferSize);
    connect(socket, &QTcpSocket::disconnected, this, &DeviceNetConnection::closeConnection);
    connect(socket, &QTcpSocket::readyRead, this, &DeviceNetConnection::receivePacket);
    connect(socket, &QTcpSocket::errorOccurred, this, &DeviceNetConnection::error);
    connect(socket, &QTcpSocket::connected, this, &DeviceNetConnection::connectedConnection);
}

void DeviceNetConnection::connectToHost(const QString &host, quint16 port)
{
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void DeviceNetConnection::abort()
{
    socket->abort();
}

bool DeviceNetConnection::isUnconnected() const
{
    return socket->state() == QAbstractSocket::UnconnectedState;
}

bool DeviceNetConnection::isConnected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

void DeviceNetConnection::sendPacket(const QByteArray &packet)
{
    if (packet.size() < HEADER_SIZE) {
        qCWarning(lcNet) << "net: Send command: packet shorter than a header, not sent";
        return;
    }
    qCDebug(lcNet) << "net: Send command:" << ZVCommand::headerHexText(packet.constData());
    clearCommandQueue();
    if (quint8(packet.at(KIND_OFFSET)) == KIND_COMMAND && quint8(packet.at(CODE_OFFSET)) == CODE_CANCEL_DOWNLOAD)
        ++unconfirmedCancels;
    socket->write(packet.constData(), packet.size());
}

bool DeviceNetConnection::takeCancelConfirmation()
{
    if (unconfirmedCancels == 0)
        return false;
    --unconfirmedCancels;
    return true;
}

void DeviceNetConnection::removeFirstCommand()
{
    if (!commandQueue.isEmpty())
        releaseCommand(commandQueue.takeFirst());
}

void DeviceNetConnection::clearCommandQueue()
{
    while (!commandQueue.isEmpty())
        releaseCommand(commandQueue.takeFirst());
}

ZVCommand *DeviceNetConnection::takeCommand()
{
    ZVCommand *command = spareCommand;
    spareCommand = nullptr;
    return command ? command : new ZVCommand(this);
}

// Keeps one finished command for the next packet. A command someone has
// connected to is never handed out again.
void DeviceNetConnection::releaseCommand(ZVCommand *command)
{
    if (!spareCommand && command->isReusable())
        spareCommand = command;
    else
        delete command;
}

void DeviceNetConnection::receivePacket()
{
    // A handler of newCommandRecieved that spins an event loop could bring us
    // back here while the outer call still walks the buffer: leave the new
    // bytes to the outer call.
    if (framing) {
        readPending = true;
        return;
    }
    framing = true;
    do {
        readPending = false;
        frameReceivedBytes();
    } while (readPending);
    framing = false;
}

void DeviceNetConnection::frameReceivedBytes()
{
    framer.startTurn();
    readSocketInto(*socket, framer);
    PacketFramer::Packet packet;
    PacketFramer::Step step;
    while ((step = framer.next(&packet)) == PacketFramer::Step::Packet)
        handlePacket(packet);
    if (step == PacketFramer::Step::TurnOver) {
        // The rest waits in place for the next turn.
        keepQueuedPayloads();
        postNextTurn();
        return;
    }
    if (step == PacketFramer::Step::Divided)
        qCDebug(lcNet) << "net: packet divided";

    // The buffer is about to change: commands nobody has taken yet keep their
    // payload.
    keepQueuedPayloads();
    // A read ending inside a header is as ordinary as one ending inside a
    // payload; it is still reported, as the controller expects.
    const QByteArray tail = framer.unframedSize() < HEADER_SIZE ? framer.unframed() : QByteArray();
    if (!tail.isEmpty()) {
        qCDebug(lcNet) << "net: Packet is Too short";
        qCDebug(lcNet) << "net: Data:" << tail;
    }
    framer.keepTail();
    if (!tail.isEmpty())
        emit networkError(NetworkPacketTooShort, tail.size());
}

void DeviceNetConnection::handlePacket(const PacketFramer::Packet &packet)
{
    qCDebug(lcNet) << "net: Recv command:" << ZVCommand::headerHexText(packet.data) << "length : " << packet.length;
    ZVCommand *command = takeCommand();
    if (command->parseInPlace(packet.data, packet.length)) {
        commandQueue.append(command);
        emit newCommandRecieved();
    } else {
        qCWarning(lcNet) << "net: Packet parse error";
        releaseCommand(command);
        emit networkError(NetworkPacketParseError, static_cast<qint8>(packet.data[KIND_OFFSET]));
    }
}

void DeviceNetConnection::keepQueuedPayloads()
{
    for (ZVCommand *command : qAsConst(commandQueue))
        command->keepPayload();
}

void DeviceNetConnection::postNextTurn()
{
    if (turnPosted)
        return;
    turnPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            turnPosted = false;
            receivePacket();
        },
        Qt::QueuedConnection);
}

void DeviceNetConnection::closeConnection()
{
    qCDebug(lcNet) << "net: socket disconnect";
    emit networkClosed();
}

void DeviceNetConnection::connectedConnection()
{
    // A new connection starts a new stream: the tail of a packet cut off by
    // the previous connection's end would otherwise swallow its first bytes.
    framer.clear();
    clearCommandQueue();
    unconfirmedCancels = 0; // a cancel of the old connection is never confirmed on this one
    emit networkConnected();
}

void DeviceNetConnection::error()
{
    qCWarning(lcNet) << "net: Tcp socket error:" << socket->errorString();
    emit networkError(NetworkSocketError, static_cast<int>(socket->error()));
}

void DeviceNetConnection::timeout()
{
}
