#ifndef WAVWRITER_H
#define WAVWRITER_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Builds PCM RIFF/WAVE files: the header (with a broadcast-wave "bext" chunk
// when asked) and tone samples.
class WavWriter
{
public:
    struct Format
    {
        int sampleRate = 48000;
        int bits = 16; // 16 or 24
        int channels = 2;
        int blockAlign() const { return channels * bits / 8; }
    };

    // Everything before the samples: RIFF, WAVE, [bext], fmt, data header.
    static QByteArray header(const Format &format, qint64 dataBytes, const QByteArray &bext = QByteArray());
    // Body of a version 1 "bext" chunk (602 bytes plus the coding history).
    static QByteArray bextBody(const Format &format, const QString &description, const QDateTime &origination);
    // `frames` sample frames of a half-scale sine at `frequency` Hz (the
    // second channel a fifth higher), faded in and out over 5 ms.
    static QByteArray tone(const Format &format, int frames, double frequency);
    // A whole file: header and tone.
    static QByteArray file(const Format &format, int frames, double frequency, const QByteArray &bext = QByteArray());
};

#endif // WAVWRITER_H
