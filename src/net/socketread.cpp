#include "net/socketread.h"

#include <QTcpSocket>

#if !defined(ZV_QT_ONLY)
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

#include "net/packetframer.h"

namespace {
// The bytes QTcpSocket read from the system; returns how many it held.
qint64 readBuffered(QTcpSocket &socket, PacketFramer &framer)
{
    const qint64 buffered = socket.bytesAvailable();
    if (buffered > 0)
        framer.append(static_cast<int>(buffered), [&socket](char *to, int wanted) { return socket.read(to, wanted); });
    return buffered;
}

#if !defined(ZV_QT_ONLY)
// When the socket's own buffer came full, the system usually holds more: that
// part is read straight into the framer, which saves copying it through the
// socket's buffer. Only bytes the system reports queued are read, so an end of
// stream or an error stays for the socket to find and report as it always
// does. A 1 GiB download takes 0.59 CPU-s per GB at 1 410 MB/s with it and
// 0.82 at 1 100 MB/s through QTcpSocket alone with 32 KiB data packets, 0.72
// against 1.03 CPU-s per GB with 1 KiB ones (bench/README.md, "The link's
// read path and its spare command").
void readQueuedInto(QTcpSocket &socket, PacketFramer &framer)
{
    const int room = framer.room();
    const int descriptor = static_cast<int>(socket.socketDescriptor());
    int queued = 0;
    if (room <= 0 || descriptor < 0 || ::ioctl(descriptor, FIONREAD, &queued) != 0 || queued <= 0)
        return;
    framer.append(qMin(room, queued), [descriptor](char *to, int wanted) {
        return qint64(::recv(descriptor, to, static_cast<size_t>(wanted), MSG_DONTWAIT));
    });
}
#endif
} // namespace

void readSocketInto(QTcpSocket &socket, PacketFramer &framer)
{
    // Bytes left over from a turn that hit its packet budget are framed first;
    // until they are, the socket keeps the rest (and TCP slows the sender).
    if (framer.room() <= 0)
        return;
    const qint64 buffered = readBuffered(socket, framer);
#if defined(ZV_QT_ONLY)
    Q_UNUSED(buffered)
#else
    if (buffered >= SocketReadBufferSize && socket.state() == QAbstractSocket::ConnectedState)
        readQueuedInto(socket, framer);
#endif
}
