#include "sim/wavwriter.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace {
constexpr int PcmFormatTag = 1;
constexpr int FmtBodySize = 16;
constexpr int BextFixedSize = 602;
constexpr double FadeSeconds = 0.005;
constexpr double Fifth = 1.5;

void put(QByteArray *out, const char *fourcc, quint32 size)
{
    char bytes[8];
    std::memcpy(bytes, fourcc, 4);
    qToLittleEndian<quint32>(size, bytes + 4);
    out->append(bytes, 8);
}

// Copies text into a fixed-size, zero-padded field.
void putText(char *field, int width, const QByteArray &text)
{
    std::memcpy(field, text.constData(), size_t(qMin(width, text.size())));
}
} // namespace

QByteArray WavWriter::header(const Format &format, qint64 dataBytes, const QByteArray &bext)
{
    const qint64 bextChunk = bext.isEmpty() ? 0 : 8 + bext.size() + (bext.size() & 1);
    const qint64 riffSize = 4 + bextChunk + 8 + FmtBodySize + 8 + dataBytes + (dataBytes & 1);
    QByteArray out;
    out.reserve(int(44 + bextChunk));
    put(&out, "RIFF", quint32(qMin<qint64>(riffSize, 0xFFFFFFFF)));
    out.append("WAVE", 4);
    if (!bext.isEmpty()) {
        put(&out, "bext", quint32(bext.size()));
        out.append(bext);
        if (bext.size() & 1)
            out.append('\0');
    }
    put(&out, "fmt ", FmtBodySize);
    char fmt[FmtBodySize];
    qToLittleEndian<quint16>(PcmFormatTag, fmt);
    qToLittleEndian<quint16>(quint16(format.channels), fmt + 2);
    qToLittleEndian<quint32>(quint32(format.sampleRate), fmt + 4);
    qToLittleEndian<quint32>(quint32(format.sampleRate * format.blockAlign()), fmt + 8);
    qToLittleEndian<quint16>(quint16(format.blockAlign()), fmt + 12);
    qToLittleEndian<quint16>(quint16(format.bits), fmt + 14);
    out.append(fmt, FmtBodySize);
    put(&out, "data", quint32(qMin<qint64>(dataBytes, 0xFFFFFFFF)));
    return out;
}

QByteArray WavWriter::bextBody(const Format &format, const QString &description, const QDateTime &origination)
{
    const QByteArray history = QStringLiteral("A=PCM,F=%1,W=%2,M=%3,T=ZV demo\r\n")
                                   .arg(format.sampleRate)
                                   .arg(format.bits)
                                   .arg(format.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"))
                                   .toLatin1();
    char out[BextFixedSize] = {};
    putText(out, 256, description.toUtf8());
    putText(out + 256, 32, "ZV recorder simulator");
    putText(out + 288, 32, "ZVSIM0001");
    putText(out + 320, 10, origination.toString(QStringLiteral("yyyy-MM-dd")).toLatin1());
    putText(out + 330, 8, origination.toString(QStringLiteral("HH:mm:ss")).toLatin1());
    // Time reference: samples since midnight.
    const quint64 reference = quint64(origination.time().msecsSinceStartOfDay()) * quint64(format.sampleRate) / 1000;
    qToLittleEndian<quint32>(quint32(reference), out + 338);
    qToLittleEndian<quint32>(quint32(reference >> 32), out + 342);
    qToLittleEndian<quint16>(1, out + 346); // version
    return QByteArray(out, BextFixedSize) + history;
}

QByteArray WavWriter::tone(const Format &format, int frames, double frequency)
{
    const int bytesPerSample = format.bits / 8;
    QByteArray out(frames * format.blockAlign(), Qt::Uninitialized);
    char *p = out.data();
    const double fullScale = format.bits == 24 ? 8388607.0 : 32767.0;
    const int fade = qMax(1, int(format.sampleRate * FadeSeconds));
    for (int i = 0; i < frames; ++i) {
        const double envelope = qMin(1.0, qMin(double(i) / fade, double(frames - 1 - i) / fade));
        for (int c = 0; c < format.channels; ++c) {
            const double f = c == 0 ? frequency : frequency * Fifth;
            const double value = 0.5 * envelope * std::sin(2.0 * M_PI * f * i / format.sampleRate);
            const qint32 sample = qint32(std::lround(value * fullScale));
            if (bytesPerSample == 3) {
                p[0] = char(sample & 0xFF);
                p[1] = char((sample >> 8) & 0xFF);
                p[2] = char((sample >> 16) & 0xFF);
            } else {
                qToLittleEndian<qint16>(qint16(sample), p);
            }
            p += bytesPerSample;
        }
    }
    return out;
}

QByteArray WavWriter::file(const Format &format, int frames, double frequency, const QByteArray &bext)
{
    const QByteArray samples = tone(format, frames, frequency);
    return header(format, samples.size(), bext) + samples;
}
