#include "protocol/zvcommand.h"

#include <QtEndian>

#include "app/logging.h"

int framedPacketLength(const char *header)
{
    const quint8 kind = static_cast<quint8>(header[KIND_OFFSET]);
    if (kind != KIND_COMMAND && kind != KIND_EXTENDED)
        return HEADER_SIZE;
    return HEADER_SIZE + qFromBigEndian<quint16>(header + LENGTH_OFFSET);
}

quint32 payloadCheckValue(const char *data, int size)
{
    // Summed in independent lanes of 32-bit accumulators so the compiler can
    // vectorise the loop; unsigned wrap-around makes the order irrelevant.
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
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

ZVCommand::ZVCommand(QObject *parent)
    : QObject(parent)
{
}

bool ZVCommand::parse(const QByteArray *packet)
{
    return parse(packet->constData(), packet->size());
}

bool ZVCommand::parse(const char *bytes, int size)
{
    headerData.clear();
    payloadData.clear();
    if (size < HEADER_SIZE) {
        qCDebug(lcCommand) << "command: parse error: size too short";
        return false;
    }
    if (bytes[0] != MAGIC_0 || bytes[1] != MAGIC_1) {
        qCDebug(lcCommand) << "command: parse error: Illegal command header";
        return false;
    }
    headerData = QByteArray(bytes, HEADER_SIZE);
    if (size > HEADER_SIZE)
        payloadData = QByteArray(bytes + HEADER_SIZE, size - HEADER_SIZE);
    return true;
}

quint8 ZVCommand::kind() const
{
    if (headerData.size() < HEADER_SIZE)
        return 0;
    const quint8 value = static_cast<quint8>(headerData.at(KIND_OFFSET));
    return isKnownKind(value) ? value : 0;
}

bool ZVCommand::isKnownKind(quint8 value)
{
    return value == 0x10 || value == 0x20 || value == KIND_STATUS || value == KIND_COMMAND
        || value == KIND_EXTENDED;
}

quint32 ZVCommand::readBigEndian(const QByteArray &data, int index, int width)
{
    if (index < 0 || index + width - 1 >= data.size()) {
        emit error();
        return 0;
    }
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<quint8>(data.at(index + i));
    return value;
}

quint8 ZVCommand::headerByte(int index)
{
    return static_cast<quint8>(readBigEndian(headerData, index, 1));
}

quint16 ZVCommand::headerWord(int index)
{
    return static_cast<quint16>(readBigEndian(headerData, index, 2));
}

quint32 ZVCommand::headerLong(int index)
{
    return readBigEndian(headerData, index, 4);
}

quint8 ZVCommand::payloadByte(int index)
{
    return static_cast<quint8>(readBigEndian(payloadData, index, 1));
}

quint16 ZVCommand::payloadWord(int index)
{
    return static_cast<quint16>(readBigEndian(payloadData, index, 2));
}

quint32 ZVCommand::payloadLong(int index)
{
    return readBigEndian(payloadData, index, 4);
}

QString ZVCommand::payloadString(int offset, int length)
{
    if (offset < 0 || length < 0 || offset + length > payloadData.size()) {
        emit error();
        return QString();
    }
    // UTF-16 little-endian whatever the host order; an odd last byte is dropped.
    const int units = length / 2;
    QString result(units, Qt::Uninitialized);
    const char *bytes = payloadData.constData() + offset;
    QChar *out = result.data();
    for (int i = 0; i < units; ++i)
        out[i] = QChar(qFromLittleEndian<quint16>(bytes + 2 * i));
    return result;
}

int ZVCommand::payloadIndexOf(const QByteArray &pattern, int from) const
{
    return payloadData.indexOf(pattern, from);
}

quint32 ZVCommand::crc() const
{
    if (payloadData.isEmpty())
        return 0xFFFFFFFF;
    return payloadCheckValue(payloadData.constData(), payloadData.size());
}
