#include "base/detailtext.h"

#include <QLocale>

QString DetailText::formatText(ZVFileFormat format, uint sampleRate, uint bits)
{
    switch (format) {
    case FormatWAV:
        return QStringLiteral("%1  %2Hz %3bit").arg(QStringLiteral("WAV")).arg(sampleRate).arg(bits);
    case FormatBWF:
        return QStringLiteral("%1  %2Hz %3bit").arg(QStringLiteral("BWF")).arg(sampleRate).arg(bits);
    case FormatMP3:
        return QStringLiteral("%1  %2Hz %3kbps").arg(QStringLiteral("MP3")).arg(sampleRate).arg(bits / 1000);
    }
    return QStringLiteral("unknown");
}

QString DetailText::lengthText(uint fs, uint sampleRate)
{
    if (sampleRate == 0)
        return QStringLiteral("--:--:--");
    const uint seconds = fs / sampleRate;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString DetailText::dateText(const QDateTime &dateTime)
{
    return dateTime.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

QString DetailText::sizeText(qint64 size)
{
    return QLocale(QLocale::English, QLocale::AnyCountry).toString(qlonglong(size)) + QStringLiteral(" bytes");
}
