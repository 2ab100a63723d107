// Framing throughput: a peer thread writes data packets (kind 0x40, code 0x32)
// over loopback as fast as it can; DeviceNetConnection frames and parses them
// and a handler drops each command. Prints MB/s and the framing thread's CPU
// seconds per GB.
//
//   zv-bench-framing [total MiB = 1024] [payload bytes = 32768] [address = 127.0.0.65]
//
// Prints one line:
//   framing packets=32768 payload=32768 mib=1024.0 seconds=0.60 mbps=1790 thread_cpu_s_per_gb=0.55
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtEndian>
#include <cstdio>
#include <ctime>

#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"

namespace {
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class Writer : public QThread
{
public:
    Writer(QHostAddress address, qint64 total, int payload)
        : address(address)
        , total(total)
        , payload(payload)
    {
    }
    QTcpServer *server = nullptr;

protected:
    void run() override
    {
        QTcpServer listener;
        if (!listener.listen(address, 8010)) {
            std::fprintf(stderr, "listen failed: %s\n", qPrintable(listener.errorString()));
            return;
        }
        ready = true;
        if (!listener.waitForNewConnection(10000))
            return;
        QTcpSocket *socket = listener.nextPendingConnection();
        QByteArray packet(HEADER_SIZE + payload, '\0');
        packet[0] = 'Z';
        packet[1] = 'V';
        packet[KIND_OFFSET] = char(KIND_COMMAND);
        packet[CODE_OFFSET] = char(CODE_DOWNLOAD_DATA);
        for (int i = 0; i < payload; ++i)
            packet[HEADER_SIZE + i] = char(i * 7);
        const quint16 check = quint16(payloadCheckValue(packet.constData() + HEADER_SIZE, payload));
        qToBigEndian(check, packet.data() + CHECK_OFFSET);
        qToBigEndian(quint16(payload), packet.data() + LENGTH_OFFSET);
        for (qint64 sent = 0; sent < total; sent += payload) {
            qToBigEndian(quint32(sent), packet.data() + DATA_OFFSET_OFFSET);
            socket->write(packet);
            if (socket->bytesToWrite() > 4 * 1024 * 1024)
                socket->waitForBytesWritten(-1);
        }
        while (socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(-1);
        socket->waitForDisconnected(30000);
    }

public:
    std::atomic<bool> ready{false};

private:
    QHostAddress address;
    qint64 total;
    int payload;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zv.*.debug=false"));
    const QStringList args = app.arguments();
    const qint64 totalMiB = args.size() > 1 ? args.at(1).toLongLong() : 1024;
    const int payload = args.size() > 2 ? args.at(2).toInt() : 32768;
    const QHostAddress address(args.size() > 3 ? args.at(3) : QStringLiteral("127.0.0.65"));
    const qint64 total = totalMiB * 1024 * 1024 / payload * payload;

    Writer writer(address, total, payload);
    writer.start();
    while (!writer.ready)
        QThread::msleep(5);

    DeviceNetConnection connection;
    qint64 received = 0;
    qint64 packets = 0;
    QElapsedTimer clock;
    double cpuStart = 0;
    QObject::connect(&connection, &DeviceNetConnection::networkConnected, [&] {
        clock.start();
        cpuStart = threadCpuSeconds();
    });
    QObject::connect(&connection, &DeviceNetConnection::newCommandRecieved, [&] {
        while (!connection.isCommandQueueEmpty()) {
            received += connection.firstCommand()->payloadSize();
            ++packets;
            connection.removeFirstCommand();
        }
        if (received >= total)
            app.quit();
    });
    connection.connectToHost(address.toString(), 8010);
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double cpu = threadCpuSeconds() - cpuStart;
    connection.abort();
    writer.wait();

    std::printf("framing packets=%lld payload=%d mib=%.1f seconds=%.3f mbps=%.0f thread_cpu_s_per_gb=%.2f\n", packets,
                payload, received / 1048576.0, seconds, received / seconds / 1e6, cpu / (received / 1e9));
    return received == total ? 0 : 1;
}
