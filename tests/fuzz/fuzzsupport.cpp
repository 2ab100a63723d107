#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "protocol/zvcommand.h"
#include "recorder/zvcontroller.h"

namespace fuzz {

namespace {
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "qFatal: %s\n", qPrintable(message));
        std::abort();
    }
}

int socketQueue(QTcpSocket *socket, unsigned long request)
{
    int bytes = 0;
    if (::ioctl(int(socket->socketDescriptor()), request, &bytes) != 0)
        return 0;
    return bytes;
}
} // namespace

void initApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zv-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    if (qEnvironmentVariableIntValue("ZV_FUZZ_LOG") == 0) {
        QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
        qInstallMessageHandler(quietMessages);
    }
    // Wakes the waits below now and then, so a stall is noticed even when
    // nothing else happens.
    auto *tick = new QTimer(QCoreApplication::instance());
    tick->start(50);
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s %s\n", what, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

void waitFor(const std::function<bool()> &done, const char *what, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            fail("hang while waiting for", QString::fromLatin1(what));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

quint8 Reader::u8()
{
    if (left == 0)
        return 0;
    --left;
    return *p++;
}

quint16 Reader::u16()
{
    const quint16 high = u8();
    return quint16(high << 8 | u8());
}

quint32 Reader::u32()
{
    const quint32 high = u16();
    return high << 16 | u16();
}

QByteArray Reader::bytes(size_t count)
{
    const size_t n = qMin(count, left);
    QByteArray out(reinterpret_cast<const char *>(p), int(n));
    p += n;
    left -= n;
    return out;
}

QByteArray header(quint8 kind, quint8 code, quint8 sequence, quint32 at6, quint16 at10, quint16 length)
{
    QByteArray h(HEADER_SIZE, '\0');
    char *d = h.data();
    d[0] = MAGIC_0;
    d[1] = MAGIC_1;
    d[KIND_OFFSET] = char(kind);
    d[CODE_OFFSET] = char(code);
    d[SEQUENCE_OFFSET] = char(sequence);
    qToBigEndian<quint32>(at6, d + DATA_OFFSET_OFFSET);
    qToBigEndian<quint16>(at10, d + CHECK_OFFSET);
    qToBigEndian<quint16>(length, d + LENGTH_OFFSET);
    return h;
}

QByteArray commandPacket(quint8 code, const QByteArray &payload, quint8 sequence, quint16 count)
{
    const QByteArray body = payload.left(MAX_PAYLOAD_SIZE);
    return header(KIND_COMMAND, code, sequence, count, 0, quint16(body.size())) + body;
}

QByteArray statusPacket(quint16 item, quint16 value)
{
    QByteArray h = header(KIND_STATUS, 0);
    qToBigEndian<quint16>(item, h.data() + CODE_OFFSET);
    qToBigEndian<quint16>(value, h.data() + PARAM_OFFSET);
    return h;
}

QByteArray dataPacket(quint32 offset, quint16 check, quint16 length, const QByteArray &payload)
{
    return header(KIND_COMMAND, CODE_DOWNLOAD_DATA, 0, offset, check, length) + payload;
}

quint32 byteSumComplement(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    return ~sum;
}

int StreamModel::packetLength(const QByteArray &header)
{
    const quint8 kind = quint8(header.at(KIND_OFFSET));
    if (kind != 0x40 && kind != 0xF0)
        return 14;
    return 14 + (quint8(header.at(12)) << 8 | quint8(header.at(13)));
}

QList<QByteArray> StreamModel::feed(const QByteArray &bytes)
{
    pending += bytes;
    QList<QByteArray> packets;
    int pos = 0;
    while (pending.size() - pos >= 14) {
        const int length = packetLength(pending.mid(pos, 14));
        if (pending.size() - pos < length)
            break;
        packets << pending.mid(pos, length);
        pos += length;
    }
    pending.remove(0, pos);
    return packets;
}

QByteArray StreamModel::filler() const
{
    if (pending.isEmpty())
        return QByteArray();
    QByteArray head = pending.left(14);
    head.append(QByteArray(14 - head.size(), '\0'));
    return QByteArray(packetLength(head) - pending.size(), '\0');
}

LoopbackPeer::LoopbackPeer(const char *address)
    : host(QString::fromLatin1(address))
    , server(new QTcpServer)
{
    if (!server->listen(QHostAddress(host), ZVController::Port))
        fail("cannot listen on", host + QStringLiteral(": ") + server->errorString());
}

LoopbackPeer::~LoopbackPeer()
{
    delete socket;
    delete server;
}

QTcpSocket *LoopbackPeer::waitForPeer()
{
    waitFor([this] { return server->hasPendingConnections(); }, "the program's connection");
    socket = server->nextPendingConnection();
    socket->setParent(nullptr);
    // Small writes go out at once instead of waiting for the last one's
    // (delayed) acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [s = socket] { s->readAll(); });
    return socket;
}

void LoopbackPeer::send(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    socket->write(bytes);
    socket->flush();
}

void LoopbackPeer::waitTaken(QTcpSocket *reader)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        socket->flush();
        if (socket->bytesToWrite() == 0 && socketQueue(socket, SIOCOUTQNSD) == 0 && socketQueue(reader, FIONREAD) == 0
            && reader->bytesAvailable() == 0)
            return;
        if (clock.elapsed() > 10000)
            fail("hang: the program's socket does not take the bytes");
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

ScratchArea::ScratchArea()
    : base(new QTemporaryDir)
{
    check(base->isValid(), "no temporary folder");
    scratch = base->path() + QStringLiteral("/outer/inner/scratch");
    check(QDir().mkpath(scratch), "cannot create", scratch);
    expected = listing();
}

QStringList ScratchArea::listing() const
{
    QStringList names;
    QDirIterator it(base->path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.startsWith(scratch + QLatin1Char('/')))
            names << path;
    }
    names.sort();
    return names;
}

void ScratchArea::checkNothingOutside() const
{
    const QStringList now = listing();
    check(now == expected, "written outside the download folder:", now.join(QLatin1Char(' ')));
    const QStringList folders = dir().entryList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    check(folders.isEmpty(), "folder created in the download folder:", folders.join(QLatin1Char(' ')));
}

void ScratchArea::clean() const
{
    QDir folder(scratch);
    const QStringList names = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (!folder.remove(name))
            QDir(folder.filePath(name)).removeRecursively();
    }
}

bool harmlessName(const QString &name)
{
    if (name.isEmpty() || name.size() > 255 || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)
            || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return false;
    }
    return true;
}

QString ScratchArea::filePath(const QString &name) const
{
    return scratch + QLatin1Char('/') + name;
}

} // namespace fuzz
