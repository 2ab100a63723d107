#ifndef DETAILTEXT_H
#define DETAILTEXT_H

#include <QDateTime>
#include <QObject>
#include <QString>

#include "base/zvfileformat.h"

// The texts of a recording's details as the program shows them, shared by
// the window and the command-line companion.
class DetailText : public QObject
{
    Q_OBJECT
public:
    // "WAV  48000Hz 24bit", "MP3  44100Hz 128kbps", or "unknown".
    static QString formatText(ZVFileFormat format, uint sampleRate, uint bits);
    // "hh:mm:ss" of fs / sampleRate seconds (hours not wrapped); "--:--:--"
    // when the rate is 0.
    static QString lengthText(uint fs, uint sampleRate);
    // "yyyy/MM/dd hh:mm:ss".
    static QString dateText(const QDateTime &dateTime);
    // "1,234,567 bytes".
    static QString sizeText(qint64 size);

private:
    DetailText() = delete;
};

#endif // DETAILTEXT_H
