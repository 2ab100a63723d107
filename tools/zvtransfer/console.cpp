#include "console.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutex>
#include <cstdio>

#include "base/errortranslator.h"
#include "base/mutexlocker.h"

namespace {
Console::Verbosity level = Console::Verbosity::Normal;

// Guards the line drawn in place: the worker thread's log lines erase it.
QMutex inPlaceMutex; // locked through MutexLocker, which ThreadSanitizer sees
bool lineInPlace = false;

const char EraseLine[] = "\r\033[K";

// With inPlaceMutex held.
void eraseLocked()
{
    if (!lineInPlace)
        return;
    std::fputs(EraseLine, stdout);
    std::fflush(stdout);
    lineInPlace = false;
}

QString explanation(AppErrorCode code)
{
    switch (code) {
    case NetworkSocketError:
        return QStringLiteral("the network connection to the recorder failed");
    case NetworkPacketTooShort:
        return QStringLiteral("a read ended inside a packet header");
    case NetworkPacketParseError:
        return QStringLiteral("the recorder sent a packet without the ZV mark");
    case DownloadFileNotOpen:
        return QStringLiteral("the target file could not be opened for writing");
    case DownloadPacketLengthError:
        return QStringLiteral("a data packet's length field does not match its data");
    case DownloadIllegalOffset:
        return QStringLiteral("a data packet arrived out of order");
    case DownloadPacketCrcError:
        return QStringLiteral("a data packet failed its checksum");
    case FileDetailIllegalPacketSize:
        return QStringLiteral("the recorder's detail reply has the wrong size");
    case FileDetailUnknownFileFormat:
        return QStringLiteral("the recorder reported an unknown file format");
    case DownloadIllegalFileName:
        return QStringLiteral("the recorder's file name cannot be used safely");
    case DownloadSizeExceeded:
        return QStringLiteral("the recorder sent more data than the file's listed size");
    case DownloadFileWriteError:
        return QStringLiteral("writing the target file failed (disk full or not writable?)");
    case DownloadNoSpace:
        return QStringLiteral("the destination folder has not enough free space for these files");
    case DownloadTargetLost:
        return QStringLiteral("some recordings were no longer listed after the recorder's listing changed");
    case DownloadStoppedByRecorder:
        return QStringLiteral("the recorder stopped the download by itself");
    case DownloadLinkLost:
        return QStringLiteral("the connection to the recorder was lost during the download");
    default:
        break;
    }
    return QStringLiteral("unknown error");
}

// Characters that move the cursor, end a line, start a terminal command or
// turn the direction of text: in a recorder's name they could forge output.
bool isDeceptive(ushort u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F || u == 0x2028
        || u == 0x2029 || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}
} // namespace

void Console::setVerbosity(Verbosity verbosity)
{
    level = verbosity;
}

Console::Verbosity Console::verbosity()
{
    return level;
}

void Console::out(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void Console::err(const QString &text)
{
    const QByteArray line = (text + QLatin1Char('\n')).toUtf8();
    printAbove([&line] { std::fputs(line.constData(), stderr); });
}

void Console::outJson(const QJsonDocument &document)
{
    out(terminalSafeJson(QString::fromUtf8(document.toJson(QJsonDocument::Indented))));
}

void Console::drawInPlace(const QString &text)
{
    const QByteArray line = EraseLine + text.toUtf8();
    MutexLocker locker(inPlaceMutex);
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
    lineInPlace = true;
}

void Console::eraseInPlace()
{
    MutexLocker locker(inPlaceMutex);
    eraseLocked();
}

void Console::printAbove(const std::function<void()> &print)
{
    MutexLocker locker(inPlaceMutex);
    eraseLocked();
    print();
}

QString Console::codeText(const ErrorTally::Item &item)
{
    return ErrorTranslator::getCodeText(item.code, item.param1, item.param2);
}

void Console::printErrors(ErrorTally &tally)
{
    qint64 others = 0;
    const auto items = tally.take(&others);
    for (const auto &item : items) {
        err(QStringLiteral("zv-transfer: error (%1): %2").arg(codeText(item), explanation(item.code)));
        if (item.count > 1)
            err(QStringLiteral("zv-transfer: \u2026 repeated %1 %2")
                    .arg(item.count - 1)
                    .arg(item.count == 2 ? QStringLiteral("time") : QStringLiteral("times")));
    }
    if (others > 0)
        err(QStringLiteral("zv-transfer: \u2026 and %1 errors of other kinds").arg(others));
}

QString Console::visibleName(const QString &name)
{
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\'))
            text += QLatin1String("\\\\");
        else if (u == '\n')
            text += QLatin1String("\\n");
        else if (u == '\r')
            text += QLatin1String("\\r");
        else if (u == '\t')
            text += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F)
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (isDeceptive(u))
            text += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

QString Console::terminalSafeJson(const QString &json)
{
    QString text;
    text.reserve(json.size());
    for (const QChar c : json) {
        if (c.unicode() >= 0x7F && isDeceptive(c.unicode()))
            text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

QString Console::humanBytes(double bytes)
{
    constexpr double Step = 1024;
    const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    // 1023.96 KiB would round to "1024.0 KiB": the next unit reads better.
    while (unit < 4 && (unit == 0 ? bytes >= Step : bytes >= Step - 0.05)) {
        bytes /= Step;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', unit == 0 ? 0 : 1).arg(QLatin1String(units[unit]));
}

QString Console::clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString Console::isoDate(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toString(Qt::ISODate) : QString();
}
