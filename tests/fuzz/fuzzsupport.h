// What the fuzz targets share: the Qt application they run in, a reader of
// the fuzzer's bytes, packet builders, an independent model of the stream
// framing, a loopback peer playing the recorder and a scratch folder that
// notices writes outside it.
#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// Creates the QCoreApplication once and silences the program's logging
// (set ZV_FUZZ_LOG=1 to keep it).
void initApplication();

// Aborts with a message: how a target reports a broken property.
[[noreturn]] void fail(const char *what, const QString &detail = QString());
inline void check(bool condition, const char *what, const QString &detail = QString())
{
    if (!condition)
        fail(what, detail);
}

// Runs the event loop until `done` holds; a stall of `timeoutMs` is a hang.
void waitFor(const std::function<bool()> &done, const char *what, int timeoutMs = 10000);

// Reads the fuzzer's bytes front to back; past the end every read yields 0.
class Reader
{
public:
    Reader(const uint8_t *data, size_t size)
        : p(data)
        , left(size)
    {
    }
    bool atEnd() const { return left == 0; }
    size_t remaining() const { return left; }
    quint8 u8();
    quint16 u16();
    quint32 u32();
    QByteArray bytes(size_t count); // at most what is left
    QByteArray rest() { return bytes(left); }

private:
    const uint8_t *p;
    size_t left;
};

// Packet builders in the recorder's layout (big-endian fields).
QByteArray header(quint8 kind, quint8 code, quint8 sequence = 0, quint32 at6 = 0, quint16 at10 = 0, quint16 length = 0);
QByteArray commandPacket(quint8 code, const QByteArray &payload, quint8 sequence = 0, quint16 count = 0);
QByteArray statusPacket(quint16 item, quint16 value);
QByteArray dataPacket(quint32 offset, quint16 check, quint16 length, const QByteArray &payload);
// Complement of the byte sum, as a data packet's check field carries it.
quint32 byteSumComplement(const QByteArray &bytes);

// The framing rule written down independently of DeviceNetConnection: a
// packet of kind 0x40 or 0xF0 is its header plus the length field, any other
// is 14 bytes.
class StreamModel
{
public:
    // Appends bytes and returns the packets they complete, in order.
    QList<QByteArray> feed(const QByteArray &bytes);
    // Zero bytes that complete the pending packet, so the stream ends on a
    // packet boundary (empty when it already does).
    QByteArray filler() const;
    static int packetLength(const QByteArray &header);

private:
    QByteArray pending;
};

// A listening socket on one loopback address, port 8010, and the one peer
// connection it accepted; what the peer receives is counted and dropped.
class LoopbackPeer
{
public:
    explicit LoopbackPeer(const char *address);
    ~LoopbackPeer();
    QString address() const { return host; }
    // Waits for the connection the program opens.
    QTcpSocket *waitForPeer();
    QTcpSocket *peer() const { return socket; }
    // Writes and waits until the bytes left this side's buffers.
    void send(const QByteArray &bytes);
    // Waits until `reader` (the program's socket, same thread) has taken
    // everything sent so far.
    void waitTaken(QTcpSocket *reader);

private:
    QString host;
    QTcpServer *server;
    QTcpSocket *socket = nullptr;
};

// <base>/outer/inner/scratch: downloads go to scratch; anything that appears
// in base outside scratch, or any folder inside scratch, is a write that
// left the folder.
class ScratchArea
{
public:
    ScratchArea();
    QString path() const { return scratch; }
    QDir dir() const { return QDir(scratch); }
    // `name` in the folder, also when it begins with ':' (no resource path).
    QString filePath(const QString &name) const;
    void checkNothingOutside() const;
    void clean() const;

private:
    QStringList listing() const;

    std::unique_ptr<QTemporaryDir> base;
    QString scratch;
    QStringList expected;
};

// A name the program may write in a folder: 1 to 255 UTF-16 units, no
// leading dot, no control character (C0, DEL, C1), no bidirectional control,
// no slash or backslash.
bool harmlessName(const QString &name);

} // namespace fuzz

#endif // FUZZSUPPORT_H
