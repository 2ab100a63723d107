#ifndef AUDIOPROBE_H
#define AUDIOPROBE_H

#include <QString>
#include <QtGlobal>

class QIODevice;

// Reads what the recorder reports as a file's details from the file's own
// headers: RIFF/WAVE (BWF when it has a "bext" chunk) and MPEG audio layer III.
class AudioProbe
{
public:
    // Format numbers as the detail reply carries them; 0 for anything else.
    enum Format : quint32 { NotAudio = 0, Mp3 = 1, Wav = 2, Bwf = 3 };

    struct Details
    {
        quint32 format = NotAudio;
        quint32 sampleRate = 0;    // Hz
        quint32 bits = 0;          // bits per sample; MP3: bit rate in bit/s
        quint32 lengthSamples = 0; // sample frames (per channel)
    };

    // `device` is open for reading; its position is changed.
    static Details probe(QIODevice *device);
    static Details probeFile(const QString &path);

private:
    static bool probeWav(QIODevice *device, Details *details);
    static bool probeMp3(QIODevice *device, Details *details);
};

#endif // AUDIOPROBE_H
