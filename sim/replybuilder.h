#ifndef REPLYBUILDER_H
#define REPLYBUILDER_H

#include <QByteArray>
#include <QtGlobal>

#include "sim/audioprobe.h"

// Writes every packet the simulated recorder sends. Layout as the client reads
// it: "ZV", kind, flags, then the fields of the kind, all big-endian.
class ReplyBuilder
{
public:
    // Flags byte of everything the recorder sends; the client never reads it.
    static constexpr quint8 ReplyFlags = 0x00;
    // The packets of the foreign-packet fault: a kind the client does not know
    // (with a length field that must not be honoured for it) and a command
    // code it does not know (with a real payload).
    static constexpr quint8 ForeignKind = 0x77;
    static constexpr quint8 ForeignCode = 0x7E;
    static constexpr int ForeignPacketsSize = 14 + 14 + 4;

    // Kind 0x40 packet with a code and an optional payload (0x12, 0x21, 0x31, 0x23).
    static QByteArray command(quint8 code, const QByteArray &payload = QByteArray());
    // Kind 0x40 code 0x10 packet: number within the listing, total entries.
    static QByteArray listing(quint8 sequence, quint16 total, const QByteArray &payload);
    // Kind 0x30 status packet.
    static QByteArray status(quint16 item, quint16 value);
    // Code 0x23 reply with the 16-byte detail payload.
    static QByteArray detail(const AudioProbe::Details &details);
    // Header of a code 0x32 data packet, written in place before its payload.
    static void writeDataHeader(char *header, quint32 offset, quint16 check, quint16 length);
    // The two foreign packets back to back, written in place (ForeignPacketsSize bytes).
    static void writeForeignPackets(char *out);
};

#endif // REPLYBUILDER_H
