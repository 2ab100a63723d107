#include "sim/badmagicflood.h"

#include <QTcpSocket>
#include <QTimer>

#include "protocol/zvcommand.h"

namespace {
constexpr int PacketsPerBatch = 4096;
// Most flood bytes left queued in the socket before waiting for it to drain.
constexpr qint64 QueuedLimit = 256 * 1024;
} // namespace

BadMagicFlood::BadMagicFlood(QTcpSocket *socket)
    : QObject(socket)
    , socket(socket)
{
    // "XX" where the mark belongs, kind 0x40, no payload: every packet is
    // framed on its own and refused by the parser in the same way.
    QByteArray packet(HEADER_SIZE, '\0');
    packet[0] = 'X';
    packet[1] = 'X';
    packet[KIND_OFFSET] = char(KIND_COMMAND);
    batch = packet.repeated(PacketsPerBatch);
    connect(socket, &QTcpSocket::bytesWritten, this, &BadMagicFlood::fill);
    QTimer::singleShot(0, this, &BadMagicFlood::fill);
}

void BadMagicFlood::fill()
{
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < QueuedLimit)
        socket->write(batch);
}
