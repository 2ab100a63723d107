#include "sim/audioprobe.h"

#include <QFile>
#include <QtEndian>

namespace {
constexpr int RiffHeaderSize = 12;
constexpr int ChunkHeaderSize = 8;
constexpr int MaxChunks = 4096; // gives up on a file of nothing but chunk headers
constexpr int FmtBytesRead = 16;
constexpr int Id3HeaderSize = 10;
constexpr int MpegHeaderSize = 4;
constexpr int MaxSyncSearch = 4096;                   // padding tolerated between a tag and the first frame
constexpr qint64 MaxFramesWalked = 256 * 1024 * 1024; // larger files: count estimated from the first frame

struct MpegFrame
{
    quint32 sampleRate = 0;
    quint32 bitRate = 0; // bit/s
    int length = 0;      // bytes, header included
    int samples = 0;     // per frame
};

// Decodes an MPEG audio layer III frame header; false for anything else.
bool decodeMpegHeader(const uchar *h, MpegFrame *frame)
{
    static const int mpeg1Rates[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2Rates[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const quint32 mpeg1SampleRates[3] = {44100, 48000, 32000};

    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int version = (h[1] >> 3) & 0x03; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (h[1] >> 1) & 0x03;   // 1: layer III
    const int rateIndex = h[2] >> 4;
    const int sampleRateIndex = (h[2] >> 2) & 0x03;
    const int padding = (h[2] >> 1) & 0x01;
    if (version == 1 || layer != 1 || rateIndex == 0 || rateIndex == 15 || sampleRateIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    const int divisor = mpeg1 ? 1 : (version == 2 ? 2 : 4);
    frame->sampleRate = mpeg1SampleRates[sampleRateIndex] / divisor;
    frame->bitRate = quint32((mpeg1 ? mpeg1Rates : mpeg2Rates)[rateIndex]) * 1000;
    frame->samples = mpeg1 ? 1152 : 576;
    frame->length = int((mpeg1 ? 144 : 72) * frame->bitRate / frame->sampleRate) + padding;
    return true;
}
} // namespace

AudioProbe::Details AudioProbe::probe(QIODevice *device)
{
    Details details;
    if (!device || !device->isOpen())
        return details;
    if (probeWav(device, &details) || probeMp3(device, &details))
        return details;
    return Details();
}

AudioProbe::Details AudioProbe::probeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Details();
    return probe(&file);
}

// Walks the chunk list by seeking from header to header, so large data
// chunks are never read.
bool AudioProbe::probeWav(QIODevice *device, Details *details)
{
    if (!device->seek(0))
        return false;
    const QByteArray riff = device->read(RiffHeaderSize);
    if (riff.size() < RiffHeaderSize || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return false;

    const qint64 fileSize = device->size();
    qint64 pos = RiffHeaderSize;
    bool haveFmt = false;
    bool haveData = false;
    bool haveBext = false;
    quint32 blockAlign = 0;
    qint64 dataSize = 0;
    for (int chunk = 0; chunk < MaxChunks && pos + ChunkHeaderSize <= fileSize; ++chunk) {
        if (!device->seek(pos))
            break;
        const QByteArray header = device->read(ChunkHeaderSize);
        if (header.size() < ChunkHeaderSize)
            break;
        const QByteArray id = header.left(4);
        const qint64 size = qFromLittleEndian<quint32>(header.constData() + 4);
        const qint64 body = pos + ChunkHeaderSize;
        if (id == "fmt ") {
            const QByteArray fmt = device->read(FmtBytesRead);
            if (fmt.size() < FmtBytesRead)
                return false;
            details->sampleRate = qFromLittleEndian<quint32>(fmt.constData() + 4);
            blockAlign = qFromLittleEndian<quint16>(fmt.constData() + 12);
            details->bits = qFromLittleEndian<quint16>(fmt.constData() + 14);
            haveFmt = true;
        } else if (id == "data") {
            // A streaming writer may leave the size open; take what the file holds.
            dataSize = qMin(size, fileSize - body);
            haveData = true;
        } else if (id == "bext") {
            haveBext = true;
        }
        pos = body + size + (size & 1);
    }
    if (!haveFmt)
        return false;
    details->format = haveBext ? Bwf : Wav;
    details->lengthSamples = (haveData && blockAlign > 0) ? quint32(dataSize / blockAlign) : 0;
    return true;
}

// An ID3v2 tag or a frame header right at the start makes a file MP3; the
// frames are then counted one by one (length = frames x samples per frame).
bool AudioProbe::probeMp3(QIODevice *device, Details *details)
{
    if (!device->seek(0))
        return false;
    const qint64 fileSize = device->size();
    qint64 start = 0;
    const QByteArray tag = device->read(Id3HeaderSize);
    const bool tagged = tag.size() == Id3HeaderSize && tag.startsWith("ID3");
    if (tagged) {
        const auto *t = reinterpret_cast<const uchar *>(tag.constData());
        const qint64 tagSize
            = (qint64(t[6] & 0x7F) << 21) | ((t[7] & 0x7F) << 14) | ((t[8] & 0x7F) << 7) | (t[9] & 0x7F);
        const bool footer = (t[5] & 0x10) != 0;
        start = Id3HeaderSize + tagSize + (footer ? Id3HeaderSize : 0);
    }
    if (!device->seek(start))
        return false;

    const qint64 walked = qMin(fileSize - start, MaxFramesWalked);
    if (walked < MpegHeaderSize)
        return false;
    const QByteArray bytes = device->read(walked);
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();

    MpegFrame first;
    qint64 pos = 0;
    const qint64 searchEnd = tagged ? qMin<qint64>(MaxSyncSearch, size - MpegHeaderSize) : 0;
    while (pos <= searchEnd && !decodeMpegHeader(data + pos, &first))
        ++pos;
    if (pos > searchEnd)
        return false;

    qint64 frames = 0;
    MpegFrame frame;
    while (pos + MpegHeaderSize <= size && decodeMpegHeader(data + pos, &frame)) {
        ++frames;
        pos += frame.length;
    }
    if (walked < fileSize - start && first.length > 0)
        frames += (fileSize - start - walked) / first.length;

    details->format = Mp3;
    details->sampleRate = first.sampleRate;
    details->bits = first.bitRate;
    details->lengthSamples = quint32(frames * first.samples);
    return true;
}
