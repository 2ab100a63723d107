#include "sim/replybuilder.h"

#include <QtEndian>
#include <cstring>

#include "protocol/zvcommand.h"

namespace {
void writeHeader(char *out, quint8 kind)
{
    std::memset(out, 0, HEADER_SIZE);
    out[0] = MAGIC_0;
    out[1] = MAGIC_1;
    out[KIND_OFFSET] = char(kind);
    out[FLAGS_OFFSET] = char(ReplyBuilder::ReplyFlags);
}

QByteArray commandPacket(quint8 code, const QByteArray &payload)
{
    QByteArray packet(HEADER_SIZE + payload.size(), Qt::Uninitialized);
    char *out = packet.data();
    writeHeader(out, KIND_COMMAND);
    out[CODE_OFFSET] = char(code);
    qToBigEndian<quint16>(quint16(payload.size()), out + LENGTH_OFFSET);
    if (!payload.isEmpty())
        std::memcpy(out + HEADER_SIZE, payload.constData(), size_t(payload.size()));
    return packet;
}
} // namespace

QByteArray ReplyBuilder::command(quint8 code, const QByteArray &payload)
{
    return commandPacket(code, payload);
}

QByteArray ReplyBuilder::listing(quint8 sequence, quint16 total, const QByteArray &payload)
{
    QByteArray packet = commandPacket(CODE_FILE_LIST, payload);
    char *out = packet.data();
    out[SEQUENCE_OFFSET] = char(sequence);
    qToBigEndian<quint16>(total, out + COUNT_OFFSET);
    return packet;
}

QByteArray ReplyBuilder::status(quint16 item, quint16 value)
{
    QByteArray packet(HEADER_SIZE, Qt::Uninitialized);
    char *out = packet.data();
    writeHeader(out, KIND_STATUS);
    qToBigEndian<quint16>(item, out + CODE_OFFSET);
    qToBigEndian<quint16>(value, out + PARAM_OFFSET);
    return packet;
}

QByteArray ReplyBuilder::detail(const AudioProbe::Details &details)
{
    QByteArray payload(DETAIL_PAYLOAD_SIZE, Qt::Uninitialized);
    char *out = payload.data();
    qToBigEndian<quint32>(details.format, out + DETAIL_FORMAT_OFFSET);
    qToBigEndian<quint32>(details.sampleRate, out + DETAIL_SAMPLE_OFFSET);
    qToBigEndian<quint32>(details.bits, out + DETAIL_BITS_OFFSET);
    qToBigEndian<quint32>(details.lengthSamples, out + DETAIL_FS_OFFSET);
    return commandPacket(CODE_FILE_DETAIL_DATA, payload);
}

void ReplyBuilder::writeDataHeader(char *header, quint32 offset, quint16 check, quint16 length)
{
    writeHeader(header, KIND_COMMAND);
    header[CODE_OFFSET] = char(CODE_DOWNLOAD_DATA);
    qToBigEndian<quint32>(offset, header + DATA_OFFSET_OFFSET);
    qToBigEndian<quint16>(check, header + CHECK_OFFSET);
    qToBigEndian<quint16>(length, header + LENGTH_OFFSET);
}

void ReplyBuilder::writeForeignPackets(char *out)
{
    static const char foreignPayload[4] = {'\xDE', '\xAD', '\xBE', '\xEF'};
    writeHeader(out, ForeignKind);
    // A header-only kind: the client must frame it as 14 bytes whatever this says.
    qToBigEndian<quint16>(sizeof foreignPayload, out + LENGTH_OFFSET);
    out += HEADER_SIZE;
    writeHeader(out, KIND_COMMAND);
    out[CODE_OFFSET] = char(ForeignCode);
    qToBigEndian<quint16>(sizeof foreignPayload, out + LENGTH_OFFSET);
    std::memcpy(out + HEADER_SIZE, foreignPayload, sizeof foreignPayload);
}
