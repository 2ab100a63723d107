// The simulator's sending rate: a discarding reader (plain blocking socket,
// no Qt event loop) lists the top folder, asks for one recording and reads
// the data packets into a fixed 1 MiB buffer, following only the packet
// headers, until the recording's bytes have all arrived. Prints
//
//   simsend name=BIG_FILE.WAV bytes=1073741824 wire_bytes=1074200578 seconds=0.400 mbps=2684.4 packets=32768 ok=1
//
// seconds: from sending the download request to the last byte; mbps counts
// the recording's bytes (not the headers), as the client's figure does.
//
//   zv-bench-sim-discard --host 127.0.0.60 [--name BIG_FILE.WAV]
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtEndian>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"

namespace {
bool readExactly(int fd, char *data, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    return ::send(fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption hostOption("host", "Recorder address (IPv4).", "host", "127.0.0.60");
    const QCommandLineOption nameOption("name", "Recording in the top folder.", "name", "BIG_FILE.WAV");
    parser.addOptions({hostOption, nameOption});
    parser.process(app);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8010);
    if (::inet_pton(AF_INET, qPrintable(parser.value(hostOption)), &address.sin_addr) != 1
        || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("zv-bench-sim-discard: connect");
        return 3;
    }

    // The listing, packet by packet, until its announced total.
    if (!sendAll(fd, ZVCommandFactory::createFileListRequest()))
        return 3;
    ZVFileList list;
    const QByteArray separator = QByteArray::fromHex("000d");
    for (;;) {
        char header[HEADER_SIZE];
        if (!readExactly(fd, header, HEADER_SIZE))
            return 3;
        const int length = framedPacketLength(header);
        QByteArray packet(header, HEADER_SIZE);
        packet.resize(length);
        if (length > HEADER_SIZE && !readExactly(fd, packet.data() + HEADER_SIZE, size_t(length - HEADER_SIZE)))
            return 3;
        ZVCommand command;
        if (!command.parse(packet.constData(), packet.size()) || command.kind() != KIND_COMMAND
            || command.headerByte(CODE_OFFSET) != CODE_FILE_LIST)
            continue;
        list.parseFileList(&command, separator, nullptr);
        if (list.count() >= command.headerWord(COUNT_OFFSET))
            break;
    }
    const QString wanted = parser.value(nameOption);
    int index = -1;
    qint64 size = 0;
    for (int row = 0; row < list.count(); ++row) {
        if (!list.at(row)->isFolder && list.at(row)->name == wanted) {
            index = list.at(row)->index;
            size = list.at(row)->size;
        }
    }
    if (index < 0) {
        std::fprintf(stderr, "zv-bench-sim-discard: no %s in the top folder\n", qPrintable(wanted));
        return 3;
    }

    std::vector<char> buffer(1024 * 1024);
    char header[HEADER_SIZE];
    int headerHave = 0; // bytes of a header split between two reads
    qint64 skip = 0;    // payload bytes still to pass over
    qint64 payloadBytes = 0;
    qint64 wireBytes = 0;
    qint64 packets = 0;
    QElapsedTimer clock;
    clock.start();
    if (!sendAll(fd, ZVCommandFactory::createDownloadRequest(qint16(index))))
        return 3;
    while (payloadBytes < size) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            break;
        wireBytes += got;
        const char *p = buffer.data();
        const char *end = p + got;
        while (p < end) {
            if (skip > 0) {
                const qint64 n = qMin<qint64>(skip, end - p);
                p += n;
                skip -= n;
                continue;
            }
            const int n = int(qMin<qint64>(HEADER_SIZE - headerHave, end - p));
            std::memcpy(header + headerHave, p, size_t(n));
            headerHave += n;
            p += n;
            if (headerHave < HEADER_SIZE)
                break;
            headerHave = 0;
            skip = framedPacketLength(header) - HEADER_SIZE;
            if (quint8(header[KIND_OFFSET]) == KIND_COMMAND && quint8(header[CODE_OFFSET]) == CODE_DOWNLOAD_DATA) {
                payloadBytes += skip;
                ++packets;
            }
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(fd);
    const bool ok = payloadBytes == size;
    std::printf("simsend name=%s bytes=%lld wire_bytes=%lld seconds=%.3f mbps=%.1f packets=%lld ok=%d\n",
                qPrintable(wanted), size, wireBytes, seconds, size / seconds / 1e6, packets, ok ? 1 : 0);
    return ok ? 0 : 1;
}
