#include "protocol/zvcommand.h"

#include <QtEndian>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/logging.h"

int framedPacketLength(const char *header)
{
    const quint8 kind = static_cast<quint8>(header[KIND_OFFSET]);
    if (kind != KIND_COMMAND && kind != KIND_EXTENDED)
        return HEADER_SIZE;
    return HEADER_SIZE + qFromBigEndian<quint16>(header + LENGTH_OFFSET);
}

quint32 portablePayloadCheckValue(const char *data, int size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    // Summed in independent lanes of 32-bit accumulators so the compiler can
    // vectorise the loop; unsigned wrap-around makes the order irrelevant.
    constexpr int Lanes = 16;
    quint32 lane[Lanes] = {};
    int i = 0;
    for (; i + Lanes <= size; i += Lanes) {
        for (int k = 0; k < Lanes; ++k)
            lane[k] += bytes[i + k];
    }
    quint32 sum = 0;
    for (int k = 0; k < Lanes; ++k)
        sum += lane[k];
    for (; i < size; ++i)
        sum += bytes[i];
    return ~sum;
}

quint32 payloadCheckValue(const char *data, int size)
{
#if defined(__SSE2__)
    // PSADBW against zero adds 8 bytes into a 64-bit lane in one instruction:
    // about four times fewer instructions than widening bytes to 32 bits.
    // 64 bytes a round into two accumulators keep several additions in flight.
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const __m128i zero = _mm_setzero_si128();
    auto sixteen = [bytes, zero](int at) {
        return _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + at)), zero);
    };
    int i = 0;
    __m128i sum0 = zero;
    __m128i sum1 = zero;
    for (; i + 64 <= size; i += 64) {
        sum0 = _mm_add_epi64(sum0, _mm_add_epi64(sixteen(i), sixteen(i + 16)));
        sum1 = _mm_add_epi64(sum1, _mm_add_epi64(sixteen(i + 32), sixteen(i + 48)));
    }
    for (; i + 16 <= size; i += 16)
        sum0 = _mm_add_epi64(sum0, sixteen(i));
    sum0 = _mm_add_epi64(sum0, sum1);
    sum0 = _mm_add_epi64(sum0, _mm_unpackhi_epi64(sum0, sum0));
    quint32 sum = quint32(_mm_cvtsi128_si32(sum0)); // the low 32 bits: the sum wraps as in 32-bit arithmetic
    for (; i < size; ++i)
        sum += bytes[i];
    return ~sum;
#else
    return portablePayloadCheckValue(data, size);
#endif
}

ZVCommand::ZVCommand(QObject *parent)
    : QObject(parent)
{
}

void ZVCommand::connectNotify(const QMetaMethod &signal)
{
    Q_UNUSED(signal)
    connected = true;
}

bool ZVCommand::parse(const QByteArray *packet)
{
    return parse(packet->constData(), packet->size());
}

// Takes the header and leaves the payload's place in payloadBytes; the
// callers decide whether the payload is copied.
bool ZVCommand::parseHeader(const char *bytes, int size)
{
    valid = false;
    payloadBytes = nullptr;
    payloadLength = 0;
    ownedPayload.clear();
    if (size < HEADER_SIZE) {
        qCDebug(lcCommand) << "command: parse error: size too short";
        return false;
    }
    if (bytes[0] != MAGIC_0 || bytes[1] != MAGIC_1) {
        qCDebug(lcCommand) << "command: parse error: Illegal command header";
        return false;
    }
    std::memcpy(headerBytes, bytes, HEADER_SIZE);
    valid = true;
    if (size > HEADER_SIZE) {
        payloadBytes = bytes + HEADER_SIZE;
        payloadLength = size - HEADER_SIZE;
    }
    return true;
}

bool ZVCommand::parse(const char *bytes, int size)
{
    if (!parseHeader(bytes, size))
        return false;
    keepPayload();
    return true;
}

bool ZVCommand::parseInPlace(const char *bytes, int size)
{
    return parseHeader(bytes, size);
}

void ZVCommand::keepPayload()
{
    if (payloadLength == 0 || payloadBytes == ownedPayload.constData())
        return;
    ownedPayload = QByteArray(payloadBytes, payloadLength);
    payloadBytes = ownedPayload.constData();
}

QByteArray ZVCommand::header() const
{
    return valid ? QByteArray(headerBytes, HEADER_SIZE) : QByteArray();
}

QByteArray ZVCommand::payload() const
{
    if (payloadLength == 0)
        return QByteArray();
    if (payloadBytes == ownedPayload.constData())
        return ownedPayload;
    return QByteArray(payloadBytes, payloadLength);
}

quint8 ZVCommand::kind() const
{
    if (!valid)
        return 0;
    const quint8 value = static_cast<quint8>(headerBytes[KIND_OFFSET]);
    return isKnownKind(value) ? value : 0;
}

bool ZVCommand::isKnownKind(quint8 value)
{
    return value == 0x10 || value == 0x20 || value == KIND_STATUS || value == KIND_COMMAND || value == KIND_EXTENDED;
}

quint32 ZVCommand::readBigEndian(const char *data, int size, int index, int width)
{
    if (Q_UNLIKELY(index < 0 || qint64(index) + width > size)) {
        emit error();
        return 0;
    }
    const auto *bytes = reinterpret_cast<const uchar *>(data + index);
    switch (width) {
    case 1:
        return bytes[0];
    case 2:
        return qFromBigEndian<quint16>(bytes);
    default:
        return qFromBigEndian<quint32>(bytes);
    }
}

quint8 ZVCommand::headerByte(int index)
{
    return static_cast<quint8>(readBigEndian(headerBytes, valid ? HEADER_SIZE : 0, index, 1));
}

quint16 ZVCommand::headerWord(int index)
{
    return static_cast<quint16>(readBigEndian(headerBytes, valid ? HEADER_SIZE : 0, index, 2));
}

quint32 ZVCommand::headerLong(int index)
{
    return readBigEndian(headerBytes, valid ? HEADER_SIZE : 0, index, 4);
}

quint8 ZVCommand::payloadByte(int index)
{
    return static_cast<quint8>(readBigEndian(payloadBytes, payloadLength, index, 1));
}

quint16 ZVCommand::payloadWord(int index)
{
    return static_cast<quint16>(readBigEndian(payloadBytes, payloadLength, index, 2));
}

quint32 ZVCommand::payloadLong(int index)
{
    return readBigEndian(payloadBytes, payloadLength, index, 4);
}

QString ZVCommand::payloadString(int offset, int length)
{
    if (offset < 0 || length < 0 || qint64(offset) + length > payloadLength) {
        emit error();
        return QString();
    }
    // UTF-16 little-endian whatever the host order; an odd last byte is dropped.
    const int units = length / 2;
    QString result(units, Qt::Uninitialized);
    const char *bytes = payloadBytes + offset;
    QChar *out = result.data();
    for (int i = 0; i < units; ++i)
        out[i] = QChar(qFromLittleEndian<quint16>(bytes + 2 * i));
    return result;
}

int ZVCommand::payloadIndexOf(const QByteArray &pattern, int from) const
{
    return QByteArray::fromRawData(payloadBytes, payloadLength).indexOf(pattern, from);
}

quint32 ZVCommand::crc() const
{
    if (payloadLength == 0)
        return 0xFFFFFFFF;
    return payloadCheckValue(payloadBytes, payloadLength);
}

QString ZVCommand::headerHexText(const char *header)
{
    static const char digits[] = "0123456789abcdef";
    QString text(HEADER_SIZE * 3, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < HEADER_SIZE; ++i) {
        const auto byte = static_cast<quint8>(header[i]);
        *out++ = QLatin1Char(digits[byte >> 4]);
        *out++ = QLatin1Char(digits[byte & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}
