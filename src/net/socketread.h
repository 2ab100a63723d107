#ifndef SOCKETREAD_H
#define SOCKETREAD_H

#include <QtGlobal>

class PacketFramer;
class QTcpSocket;

// Most bytes the socket itself takes from the system before it reports them.
constexpr qint64 SocketReadBufferSize = 64 * 1024;

// Appends what the socket has received to the framer, as long as the framer
// has room: the bytes the socket buffered and, on Linux builds without
// ZV_QT_ONLY, what the system holds beyond them.
void readSocketInto(QTcpSocket &socket, PacketFramer &framer);

#endif // SOCKETREAD_H
