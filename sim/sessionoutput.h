#ifndef SESSIONOUTPUT_H
#define SESSIONOUTPUT_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include "sim/simulatorsettings.h"

class QTcpSocket;
struct iovec;
class QTimer;

// Everything the simulator sends to its client goes through here, where the
// traffic faults act: splitting packets into pieces with pauses, the rate
// limit, and dropping the connection after a number of bytes.
//
// Unshaped traffic goes straight into the socket. Shaped traffic waits in a
// queue of whole packets and leaves it piece by piece on a timer; download
// data still waiting there can be taken back when the client cancels.
class SessionOutput : public QObject
{
    Q_OBJECT
public:
    SessionOutput(QTcpSocket *socket, SimulatorSettings *settings, QObject *parent = nullptr);

    // One packet, or a run of whole packets when traffic is not shaped.
    // `droppable` marks download data.
    void send(const char *data, int size, bool droppable);
    void send(const QByteArray &bytes, bool droppable) { send(bytes.constData(), bytes.size(), droppable); }
    // Whether data handed over now goes straight to the kernel: traffic not
    // shaped, no drop armed, nothing waiting in the socket's buffer.
    bool sendsDirectly() const;
    // Download data in several parts (only when sendsDirectly()); what the
    // kernel does not take at once is copied into the socket's buffer.
    void sendGathered(const iovec *parts, int count);
    // Forgets the download data that has not begun to leave the queue.
    void dropPendingData();

    // Bytes waiting here and in the socket's buffer.
    qint64 queuedBytes() const;
    // Bytes handed to the socket in this session.
    qint64 bytesSent() const { return sentBytes; }
    // Nothing more goes out: the drop fault has fired.
    bool isStopped() const { return stopped; }

signals:
    // The queue drained below the send window: room for more data.
    void readyForMore();
    // The drop fault has fired in this mode.
    void dropped(SimulatorSettings::DropMode mode);

private slots:
    void writePending();

private:
    struct Pending
    {
        QByteArray bytes;
        int done = 0;
        bool droppable = false;
    };

    void writeOut(const char *data, qint64 size);
    void fireDrop();
    void scheduleWrite(int delayMs);

    QTcpSocket *socket;
    SimulatorSettings *settings;
    QList<Pending> pending;
    qint64 pendingBytes = 0;
    qint64 sentBytes = 0;
    bool stopped = false;
    QTimer *timer;
    QElapsedTimer creditClock;
    double credit = 0; // bytes the rate limit allows now
};

#endif // SESSIONOUTPUT_H
