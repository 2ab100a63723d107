#include "net/devicenetconnection.h"

#include <QTcpSocket>
#include <cstring>

#include "app/logging.h"
#include "protocol/zvcommand.h"

namespace {
// Initial room of the receive buffer; it grows for larger reads and keeps its
// capacity between reads.
constexpr int ReceiveBufferReserve = 256 * 1024;
// Most bytes the socket takes from the system at a time; the rest waits in
// the kernel (and TCP slows the sender) until the worker has handled these.
constexpr qint64 SocketReadBufferSize = 1024 * 1024;
}

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

QString DeviceNetConnection::headerHexText(const char *header)
{
    static const char digits[] = "0123456789abcdef";
    QString text(HEADER_SIZE * 3, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < HEADER_SIZE; ++i) {
        const auto byte = static_cast<quint8>(header[i]);
        *out++ = QLatin1Char(digits[byte >> 4]);
        *out++ = QLatin1Char(digits[byte & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}

void DeviceNetConnection::sendPacket(const QByteArray &packet)
{
    if (packet.size() < HEADER_SIZE) {
        qCWarning(lcNet) << "net: Send command: packet shorter than a header, not sent";
        return;
    }
    qCDebug(lcNet) << "net: Send command:" << headerHexText(packet.constData());
    clearCommandQueue();
    socket->write(packet.constData(), packet.size());
}

void DeviceNetConnection::removeFirstCommand()
{
    if (!commandQueue.isEmpty())
        delete commandQueue.takeFirst();
}

void DeviceNetConnection::clearCommandQueue()
{
    while (!commandQueue.isEmpty())
        delete commandQueue.takeFirst();
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
    const qint64 available = socket->bytesAvailable();
    if (available <= 0)
        return;
    const int kept = receiveBuffer.size();
    receiveBuffer.resize(kept + static_cast<int>(available));
    const qint64 got = socket->read(receiveBuffer.data() + kept, available);
    receiveBuffer.resize(kept + static_cast<int>(qMax<qint64>(got, 0)));
}

void DeviceNetConnection::frameReceivedBytes()
{
    readSocketIntoBuffer();
    const int size = receiveBuffer.size();
    if (size == 0)
        return;

    const char *data = receiveBuffer.constData();
    int pos = 0;
    while (size - pos >= HEADER_SIZE) {
        const char *packet = data + pos;
        const int length = framedPacketLength(packet);
        if (length > size - pos) {
            qCDebug(lcNet) << "net: packet divided";
            break;
        }
        qCDebug(lcNet) << "net: Recv command:" << headerHexText(packet) << "length : " << length;

        auto *command = new ZVCommand(this);
        pos += length;
        if (command->parse(packet, length)) {
            commandQueue.append(command);
            emit newCommandRecieved();
        } else {
            qCWarning(lcNet) << "net: Packet parse error";
            delete command;
            emit networkError(NetworkPacketParseError, static_cast<qint8>(packet[KIND_OFFSET]));
        }
    }

    const int left = size - pos;
    if (left > 0 && left < HEADER_SIZE) {
        const QByteArray rest = QByteArray::fromRawData(data + pos, left);
        qCWarning(lcNet) << "net: Packet is Too short";
        qCWarning(lcNet) << "net: Data:" << rest;
    }
    // Keep only the unframed tail. Everything before it was consumed in this
    // call, so the move costs no more than the bytes this read brought.
    if (pos > 0) {
        if (left > 0)
            std::memmove(receiveBuffer.data(), data + pos, static_cast<size_t>(left));
        receiveBuffer.resize(left);
    }
    if (left > 0 && left < HEADER_SIZE)
        emit networkError(NetworkPacketTooShort, left);
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
    clearCommandQueue();
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
