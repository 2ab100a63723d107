#ifndef ZVCOMMAND_H
#define ZVCOMMAND_H

#include <QByteArray>
#include <QObject>
#include <QString>

// Packet layout shared by the link, the request builders, the controller and
// the download engine. Every multi-byte field is big-endian.
constexpr int HEADER_SIZE = 14;
constexpr char MAGIC_0 = 'Z';
constexpr char MAGIC_1 = 'V';
constexpr int KIND_OFFSET = 2;
constexpr int FLAGS_OFFSET = 3;
constexpr int CODE_OFFSET = 4;        // command code (kind 0x40) or status item (kind 0x30)
constexpr int SEQUENCE_OFFSET = 5;    // file-list packet number
constexpr int PARAM_OFFSET = 6;       // request parameter, status value
constexpr int DATA_OFFSET_OFFSET = 6; // 32-bit file position of a data packet
constexpr int COUNT_OFFSET = 8;       // file-list total entry count
constexpr int CHECK_OFFSET = 10;      // data packet check value
constexpr int LENGTH_OFFSET = 12;     // payload length
constexpr int MAX_PAYLOAD_SIZE = 0xFFFF;

constexpr quint8 KIND_COMMAND = 0x40;
constexpr quint8 KIND_STATUS = 0x30;
constexpr quint8 KIND_EXTENDED = 0xF0; // carries a payload; nothing acts on it
constexpr quint8 REQUEST_FLAGS = 0x41;
constexpr quint16 PARENT_FOLDER_INDEX = 0x8000;
constexpr quint16 FOLDER_INDEX_BIT = 0x8000;

// Command codes (byte 4 of kind 0x40 packets).
constexpr quint8 CODE_FILE_LIST = 0x10;
constexpr quint8 CODE_LIST_INVALIDATED = 0x12;
constexpr quint8 CODE_MOVE_FOLDER = 0x20;
constexpr quint8 CODE_FILE_DETAIL = 0x21;
constexpr quint8 CODE_FILE_DETAIL_RESULT = 0x22;
constexpr quint8 CODE_FILE_DETAIL_DATA = 0x23;
constexpr quint8 CODE_DOWNLOAD = 0x30;
constexpr quint8 CODE_CANCEL_DOWNLOAD = 0x31;
constexpr quint8 CODE_DOWNLOAD_DATA = 0x32;

// Status items (bytes 4-5 of kind 0x30 packets).
constexpr quint16 STATUS_RECORD_MODE = 0;

// Layout of one file-list entry inside a code 0x10 payload.
constexpr int ENTRY_INDEX_OFFSET = 0;
constexpr int ENTRY_DATE_OFFSET = 2;
constexpr int ENTRY_TIME_OFFSET = 4;
constexpr int ENTRY_SIZE_OFFSET = 6;
constexpr int ENTRY_NAME_OFFSET = 10;

// Layout of the 16-byte file-detail payload (code 0x23).
constexpr int DETAIL_PAYLOAD_SIZE = 16;
constexpr int DETAIL_FORMAT_OFFSET = 0;
constexpr int DETAIL_SAMPLE_OFFSET = 4;
constexpr int DETAIL_BITS_OFFSET = 8;
constexpr int DETAIL_FS_OFFSET = 12;

// Packet length as the framing computes it from a header: header plus payload
// for kinds that carry one, the bare header otherwise. Wide enough for
// 14 + 65535.
int framedPacketLength(const char *header);

// Check value of a data packet's payload: the complement of the 32-bit byte sum.
quint32 payloadCheckValue(const char *data, int size);
// The same without SIMD instructions: what payloadCheckValue() is on builds
// without SSE2, built everywhere so the tests compare the two.
quint32 portablePayloadCheckValue(const char *data, int size);

// One packet received from the recorder: its 14-byte header and its payload,
// with bounds-checked big-endian reads.
class ZVCommand : public QObject
{
    Q_OBJECT
public:
    explicit ZVCommand(QObject *parent = nullptr);

    // Copies the packet.
    bool parse(const QByteArray *packet);
    bool parse(const char *packet, int size);
    // As parse(), but the payload stays where it is: it is read from `packet`,
    // which must not change or go away until keepPayload() has been called
    // (or the command is parsed again or deleted). The link uses this to
    // hand packets over without copying them out of its receive buffer.
    bool parseInPlace(const char *packet, int size);
    // Gives the command its own copy of a payload left in place.
    void keepPayload();

    quint8 kind() const;
    quint8 headerByte(int index);
    quint16 headerWord(int index);
    quint32 headerLong(int index);
    quint8 payloadByte(int index);
    quint16 payloadWord(int index);
    quint32 payloadLong(int index);
    QString payloadString(int offset, int length);
    int payloadIndexOf(const QByteArray &pattern, int from) const;

    QByteArray header() const;
    QByteArray payload() const;
    // The payload's bytes (payloadSize() of them, never null), valid as long
    // as the payload is (see parseInPlace()).
    const char *payloadData() const { return payloadLength > 0 ? payloadBytes : ""; }
    int payloadSize() const { return payloadLength; }
    quint32 crc() const;
    bool isValid() const { return valid; }
    static bool isKnownKind(quint8 value);
    // Text of a header as logged in both directions: "5a 56 40 ... ".
    static QString headerHexText(const char *header);

    // False once anything was connected to this command's signals: then it
    // must not be handed out again as another packet.
    bool isReusable() const { return !connected; }

signals:
    // A ranged read asked for bytes beyond the end; the read returned 0.
    void error();

protected:
    void connectNotify(const QMetaMethod &signal) override;

private:
    bool parseHeader(const char *packet, int size);
    quint32 readBigEndian(const char *data, int size, int index, int width);

    char headerBytes[HEADER_SIZE] = {};
    bool valid = false;
    bool connected = false;
    // The payload: either ownedPayload's bytes or bytes left in place.
    const char *payloadBytes = nullptr;
    int payloadLength = 0;
    QByteArray ownedPayload;
};

#endif // ZVCOMMAND_H
