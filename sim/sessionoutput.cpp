#include "sim/sessionoutput.h"

#include <QTcpSocket>
#include <QTimer>
#include <limits>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/uio.h>
#endif

#include "sim/simlogging.h"

namespace {
// Tick of the rate limit, and the longest burst it lets through after idling.
constexpr int ThrottleTickMs = 5;
constexpr double ThrottleBurstSeconds = 0.01;

// A close with a zero linger time resets the connection instead of the
// orderly FIN handshake.
void setZeroLinger(QTcpSocket *socket)
{
#ifdef Q_OS_UNIX
    const linger zero = {1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &zero, sizeof zero);
#else
    Q_UNUSED(socket)
#endif
}
} // namespace

SessionOutput::SessionOutput(QTcpSocket *socket, SimulatorSettings *settings, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , settings(settings)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &SessionOutput::writePending);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (pending.isEmpty())
            emit readyForMore();
    });
}

void SessionOutput::send(const char *data, int size, bool droppable)
{
    if (stopped || size <= 0)
        return;
    if (!settings->shapesTraffic() && pending.isEmpty()) {
        writeOut(data, size);
        return;
    }
    if (pending.isEmpty()) {
        creditClock.start();
        credit = 0;
        scheduleWrite(0);
    }
    pending.append(Pending{QByteArray(data, size), 0, droppable});
    pendingBytes += size;
}

bool SessionOutput::sendsDirectly() const
{
#ifdef Q_OS_UNIX
    return !stopped && !settings->shapesTraffic() && !settings->dropArmed() && pending.isEmpty()
        && socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState;
#else
    return false;
#endif
}

void SessionOutput::sendGathered(const iovec *parts, int count)
{
    qint64 taken = 0;
#ifdef Q_OS_UNIX
    msghdr message{};
    message.msg_iov = const_cast<iovec *>(parts);
    message.msg_iovlen = size_t(count);
    taken = qMax<qint64>(0, ::sendmsg(int(socket->socketDescriptor()), &message, MSG_DONTWAIT | MSG_NOSIGNAL));
#endif
    for (int i = 0; i < count; ++i) {
        const qint64 length = qint64(parts[i].iov_len);
        sentBytes += length;
        if (taken >= length) {
            taken -= length;
            continue;
        }
        socket->write(static_cast<const char *>(parts[i].iov_base) + taken, length - taken);
        taken = 0;
    }
}

void SessionOutput::dropPendingData()
{
    for (int i = pending.size() - 1; i >= 0; --i) {
        const Pending &p = pending.at(i);
        // A packet already partly out must be finished, or the stream breaks.
        if (p.droppable && p.done == 0) {
            pendingBytes -= p.bytes.size();
            pending.removeAt(i);
        }
    }
}

qint64 SessionOutput::queuedBytes() const
{
    return pendingBytes + socket->bytesToWrite();
}

// One round of shaped sending: one piece when splitting, otherwise as much as
// the rate limit allows.
void SessionOutput::writePending()
{
    if (stopped || pending.isEmpty())
        return;
    const qint64 rate = settings->throttleBytesPerSecond;
    const int pieceLimit = settings->splitBytes;
    qint64 budget = std::numeric_limits<qint64>::max();
    if (rate > 0) {
        credit += double(rate) * double(creditClock.nsecsElapsed()) / 1e9;
        creditClock.restart();
        credit = qMin(credit, qMax(double(rate) * ThrottleBurstSeconds, double(qMax(pieceLimit, 1))));
        budget = qint64(credit);
    }

    bool pieceWritten = false;
    while (!pending.isEmpty() && budget > 0) {
        Pending &head = pending.first();
        qint64 piece = qMin<qint64>(head.bytes.size() - head.done, budget);
        if (pieceLimit > 0)
            piece = qMin<qint64>(piece, pieceLimit);
        writeOut(head.bytes.constData() + head.done, piece);
        if (stopped)
            return;
        head.done += int(piece);
        pendingBytes -= piece;
        budget -= piece;
        if (rate > 0)
            credit -= double(piece);
        if (head.done == head.bytes.size())
            pending.removeFirst();
        if (pieceLimit > 0) {
            // Out now, so the piece travels as a segment of its own.
            socket->flush();
            pieceWritten = true;
            break;
        }
    }

    if (!pending.isEmpty())
        scheduleWrite(pieceWritten ? settings->splitPauseMs : ThrottleTickMs);
    if (queuedBytes() < settings->sendWindow)
        emit readyForMore();
}

void SessionOutput::scheduleWrite(int delayMs)
{
    if (!timer->isActive())
        timer->start(qMax(delayMs, 0));
}

// The single place where bytes reach the socket; the drop fault counts here.
void SessionOutput::writeOut(const char *data, qint64 size)
{
    if (settings->dropArmed()) {
        const qint64 room = settings->dropAfterBytes - sentBytes;
        if (size >= room) {
            if (room > 0) {
                socket->write(data, room);
                sentBytes += room;
            }
            fireDrop();
            return;
        }
    }
    sentBytes += size;
#ifdef Q_OS_UNIX
    // Nothing waiting in the socket's own buffer: hand the bytes to the
    // kernel directly, which saves copying every byte once more; whatever it
    // does not take now goes through the socket as usual.
    if (socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState) {
        const ssize_t taken = ::send(int(socket->socketDescriptor()), data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (taken > 0) {
            data += taken;
            size -= taken;
        }
        if (size == 0)
            return;
    }
#endif
    socket->write(data, size);
}

void SessionOutput::fireDrop()
{
    const SimulatorSettings::DropMode mode = settings->dropMode;
    settings->dropSpent = true;
    stopped = true;
    pending.clear();
    pendingBytes = 0;
    timer->stop();
    qCInfo(lcSim) << "sim: fault: dropping the connection after" << sentBytes << "bytes"
                  << (mode == SimulatorSettings::DropMode::Reset       ? "(reset)"
                          : mode == SimulatorSettings::DropMode::Close ? "(close)"
                                                                       : "(going silent)");
    switch (mode) {
    case SimulatorSettings::DropMode::Reset:
        socket->flush();
        setZeroLinger(socket);
        emit dropped(mode);
        socket->abort();
        return;
    case SimulatorSettings::DropMode::Close:
        emit dropped(mode);
        socket->disconnectFromHost();
        return;
    case SimulatorSettings::DropMode::Silent:
        emit dropped(mode);
        return;
    }
}
