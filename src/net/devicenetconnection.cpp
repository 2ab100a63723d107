#include "net/devicenetconnection.h"

#include <QTcpSocket>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

#include "base/logging.h"
#include "protocol/zvcommand.h"

namespace {
// Initial room of the receive buffer; it grows for larger reads and keeps its
// capacity between reads.
constexpr int ReceiveBufferReserve = 256 * 1024;
// Most bytes the socket itself takes from the system before it reports them.
constexpr qint64 SocketReadBufferSize = 64 * 1024;
// Most bytes in the receive buffer after a read; the rest waits in the kernel
// (and TCP slows the sender) until the worker has handled these.
constexpr int ReceiveBufferLimit = 1024 * 1024;
} // namespace

DeviceNetConnection::DeviceNetConnection(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
{
    receiveBuffer.reserve(ReceiveBufferReserve);
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

void DeviceNetConnection::readSocketIntoBuffer()
{
    int size = receiveBuffer.size();
    // Bytes left over from a turn that hit its packet limit are framed first;
    // until they are, the socket keeps the rest (and TCP slows the sender).
    if (size - framedBytes >= ReceiveBufferLimit)
        return;
    const qint64 buffered = socket->bytesAvailable();
    if (buffered > 0) {
        receiveBuffer.resize(size + static_cast<int>(buffered));
        const qint64 got = socket->read(receiveBuffer.data() + size, buffered);
        size += static_cast<int>(qMax<qint64>(got, 0));
        receiveBuffer.resize(size);
    }
#ifdef Q_OS_UNIX
    // When the socket's own buffer came full, the system usually holds more:
    // that part is read straight into ours, which saves copying it through
    // the socket's buffer. Only bytes the system reports queued are read, so
    // an end of stream or an error stays for the socket to find and report
    // as it always does.
    if (buffered < SocketReadBufferSize || !isConnected())
        return;
    const int room = ReceiveBufferLimit - (size - framedBytes);
    const int descriptor = static_cast<int>(socket->socketDescriptor());
    int queued = 0;
    if (room <= 0 || descriptor < 0 || ::ioctl(descriptor, FIONREAD, &queued) != 0 || queued <= 0)
        return;
    const int wanted = qMin(room, queued);
    receiveBuffer.resize(size + wanted);
    const ssize_t got = ::recv(descriptor, receiveBuffer.data() + size, static_cast<size_t>(wanted), MSG_DONTWAIT);
    receiveBuffer.resize(size + static_cast<int>(got > 0 ? got : 0));
#endif
}

// Turns cut short by the packet limit leave what they framed at the front of
// the buffer; once that is as much as a full buffer, it goes (the move costs
// no more than the bytes framed meanwhile).
void DeviceNetConnection::dropFramedFront()
{
    if (framedBytes < ReceiveBufferLimit)
        return;
    const int left = receiveBuffer.size() - framedBytes;
    std::memmove(receiveBuffer.data(), receiveBuffer.constData() + framedBytes, static_cast<size_t>(left));
    receiveBuffer.resize(left);
    framedBytes = 0;
}

void DeviceNetConnection::frameReceivedBytes()
{
    dropFramedFront();
    readSocketIntoBuffer();
    const int size = receiveBuffer.size();
    if (size == 0)
        return;

    const char *data = receiveBuffer.constData();
    int pos = framedBytes;
    int packets = 0;
    while (size - pos >= HEADER_SIZE) {
        if (++packets > MaxPacketsPerTurn) {
            // The rest waits in place for the next turn.
            for (ZVCommand *command : qAsConst(commandQueue))
                command->keepPayload();
            framedBytes = pos;
            postNextTurn();
            return;
        }
        const char *packet = data + pos;
        const int length = framedPacketLength(packet);
        if (length > size - pos) {
            qCDebug(lcNet) << "net: packet divided";
            break;
        }
        qCDebug(lcNet) << "net: Recv command:" << ZVCommand::headerHexText(packet) << "length : " << length;

        ZVCommand *command = takeCommand();
        pos += length;
        if (command->parseInPlace(packet, length)) {
            commandQueue.append(command);
            emit newCommandRecieved();
        } else {
            qCWarning(lcNet) << "net: Packet parse error";
            releaseCommand(command);
            emit networkError(NetworkPacketParseError, static_cast<qint8>(packet[KIND_OFFSET]));
        }
    }
    keepUnframedTail(pos);
}

// Keeps only the bytes from `pos` on, the start of a packet still to come.
// Everything before it was consumed in this turn, so the move costs no more
// than the bytes this read brought.
void DeviceNetConnection::keepUnframedTail(int pos)
{
    // The buffer is about to change: commands nobody has taken yet keep their
    // payload.
    for (ZVCommand *command : qAsConst(commandQueue))
        command->keepPayload();

    const char *data = receiveBuffer.constData();
    const int left = receiveBuffer.size() - pos;
    if (left > 0 && left < HEADER_SIZE) {
        const QByteArray rest = QByteArray::fromRawData(data + pos, left);
        qCWarning(lcNet) << "net: Packet is Too short";
        qCWarning(lcNet) << "net: Data:" << rest;
    }
    if (pos > 0) {
        if (left > 0)
            std::memmove(receiveBuffer.data(), data + pos, static_cast<size_t>(left));
        receiveBuffer.resize(left);
    }
    framedBytes = 0;
    if (left > 0 && left < HEADER_SIZE)
        emit networkError(NetworkPacketTooShort, left);
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
    receiveBuffer.resize(0);
    framedBytes = 0;
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
