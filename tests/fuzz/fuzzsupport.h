// What the fuzz targets share: the Qt application they run in, a reader of
// the fuzzer's bytes, a wait that notices hangs, packet builders, an
// independent model of the stream framing and a scratch folder that notices
// writes outside it.
#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "fuzzinputs.h"
#include "protocol/zvcommand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// Creates the QCoreApplication once and silences the program's logging
// (set ZV_FUZZ_LOG=1 to keep it); a fatal message still aborts.
inline void initApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zv-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    if (qEnvironmentVariableIntValue("ZV_FUZZ_LOG") == 0)
        QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    // Wakes the targets' waits now and then, so a stall is noticed even when
    // nothing else happens.
    auto *tick = new QTimer(QCoreApplication::instance());
    tick->start(50);
}

// Aborts with a message: how a target reports a broken property.
[[noreturn]] inline void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s %s\n", what, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

inline void check(bool condition, const char *what, const QString &detail = QString())
{
    if (!condition)
        fail(what, detail);
}

// Runs the event loop until `done` holds; a stall of 10 s is a hang.
inline void waitFor(const std::function<bool()> &done, const char *what)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 10000)
            fail("hang while waiting for", QString::fromLatin1(what));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

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
    quint8 u8() { return left == 0 ? 0 : (--left, *p++); }
    quint16 u16()
    {
        const quint16 high = u8();
        return quint16(high << 8 | u8());
    }
    quint32 u32()
    {
        const quint32 high = u16();
        return high << 16 | u16();
    }
    QByteArray bytes(size_t count) // at most what is left
    {
        const size_t n = qMin(count, left);
        const QByteArray out(reinterpret_cast<const char *>(p), int(n));
        p += n;
        left -= n;
        return out;
    }
    QByteArray rest() { return bytes(left); }

private:
    const uint8_t *p;
    size_t left;
};

// The big-endian number of `width` bytes at `at`, read the slow way; -1
// when they are not all there.
inline qint64 bigEndianAt(const QByteArray &bytes, qint64 at, int width)
{
    if (at < 0 || at + width > bytes.size())
        return -1;
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | quint8(bytes.at(int(at + i)));
    return value;
}

// UTF-16LE text, a trailing odd byte dropped.
inline QString utf16le(const QByteArray &bytes)
{
    QString text;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(qFromLittleEndian<quint16>(bytes.constData() + i));
    return text;
}

// Packet builders in the recorder's layout (big-endian fields).
inline QByteArray header(quint8 kind, quint8 code, quint8 sequence = 0, quint32 at6 = 0, quint16 at10 = 0,
                         quint16 length = 0)
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

inline QByteArray commandPacket(quint8 code, const QByteArray &payload, quint8 sequence = 0)
{
    const QByteArray body = payload.left(MAX_PAYLOAD_SIZE);
    return header(KIND_COMMAND, code, sequence, 0, 0, quint16(body.size())) + body;
}

// Complement of the byte sum, as a data packet's check field carries it.
inline quint32 byteSumComplement(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    return ~sum;
}

// The framing rule written down independently of DeviceNetConnection: a
// packet of kind 0x40 or 0xF0 is its header plus the length field, any other
// is 14 bytes.
class StreamModel
{
public:
    // Appends bytes and returns the packets they complete, in order.
    QList<QByteArray> feed(const QByteArray &bytes)
    {
        pending += bytes;
        QList<QByteArray> packets;
        while (pending.size() >= 14 && pending.size() >= packetLength(pending)) {
            packets << pending.left(packetLength(pending));
            pending.remove(0, packets.last().size());
        }
        return packets;
    }
    // Zero bytes that complete the pending packet, so the stream ends on a
    // packet boundary (empty when it already does).
    QByteArray filler() const
    {
        if (pending.isEmpty())
            return QByteArray();
        const QByteArray head = pending.leftJustified(14, '\0', true);
        return QByteArray(packetLength(head) - pending.size(), '\0');
    }

private:
    static int packetLength(const QByteArray &header)
    {
        const quint8 kind = quint8(header.at(KIND_OFFSET));
        if (kind != 0x40 && kind != 0xF0)
            return 14;
        return 14 + (quint8(header.at(12)) << 8 | quint8(header.at(13)));
    }

    QByteArray pending;
};

// <base>/outer/inner/scratch: downloads go to scratch; anything else that
// appears in base, or any folder inside scratch, is a write that left the
// folder.
class ScratchArea
{
public:
    ScratchArea() { check(base.isValid() && QDir().mkpath(scratch), "cannot create", scratch); }
    QString path() const { return scratch; }
    // `name` in the folder, also when it begins with ':' (no resource path).
    QString filePath(const QString &name) const { return scratch + QLatin1Char('/') + name; }
    void checkNothingOutside() const
    {
        QDirIterator it(base.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const bool allowed = it.fileInfo().isDir()
                ? QString(scratch + QLatin1Char('/')).startsWith(path + QLatin1Char('/'))
                : it.fileInfo().path() == scratch;
            check(allowed, "written outside the download folder:", path);
        }
    }
    void clean() const
    {
        QDir(scratch).removeRecursively();
        QDir().mkpath(scratch);
    }

private:
    QTemporaryDir base;
    QString scratch = base.path() + QStringLiteral("/outer/inner/scratch");
};

} // namespace fuzz

#endif // FUZZSUPPORT_H
