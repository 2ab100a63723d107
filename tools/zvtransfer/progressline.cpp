#include "progressline.h"

#include <QElapsedTimer>
#include <QStringList>

#ifndef ZV_QT_ONLY
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "console.h"

namespace {
// A bar drawn in place is redrawn at most this often.
constexpr qint64 DrawIntervalMs = 100;
constexpr int FallbackWidth = 80;
// Below this the bar is left out rather than drawn as a stub.
constexpr int MinimumBarWidth = 10;
constexpr int MaximumBarWidth = 40;

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

int percentOf(qulonglong part, qulonglong whole)
{
    return whole ? int(qMin(part, whole) * 100 / whole) : 100;
}

QString etaText(const ProgressLine::State &s)
{
    if (s.rate <= 0 || s.fileBytes >= s.fileSize)
        return QStringLiteral("ETA -:--");
    return QStringLiteral("ETA ") + Console::clockText(qint64((s.fileSize - s.fileBytes) / s.rate));
}
} // namespace

ProgressLine::ProgressLine(bool terminal, int plainIntervalMs)
    : terminal(terminal)
    , plainIntervalMs(plainIntervalMs)
{
}

void ProgressLine::restart()
{
    fileStartMs = nowMs();
    lastShownMs = fileStartMs;
    if (terminal)
        lastShownMs -= DrawIntervalMs; // the first count draws at once
}

void ProgressLine::show(const State &state)
{
    const qint64 now = nowMs();
    if (terminal) {
        if (now - lastShownMs < DrawIntervalMs)
            return;
        lastShownMs = now;
        Console::drawInPlace(barText(state, terminalWidth()));
        return;
    }
    if (plainIntervalMs <= 0 || now - lastShownMs < plainIntervalMs)
        return;
    lastShownMs = now;
    Console::out(plainText(state) + QLatin1Char('\n'));
}

void ProgressLine::clear()
{
    Console::eraseInPlace();
}

int ProgressLine::terminalWidth()
{
#ifndef ZV_QT_ONLY
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : FallbackWidth;
}

// "NAME [#####.....]  45%  2/3  total 53.7 KiB/112.3 KiB  19.5 KiB/s  ETA 0:03".
QString ProgressLine::barText(const State &s, int width)
{
    const int room = qMax(1, width - 1); // the last column would wrap on some terminals
    QStringList tail{QStringLiteral("%1%").arg(percentOf(s.fileBytes, s.fileSize), 3),
                     QStringLiteral("%1/%2").arg(s.file).arg(s.files),
                     QStringLiteral("total %1/%2")
                         .arg(Console::humanBytes(double(s.runBytes)), Console::humanBytes(double(s.runSize))),
                     Console::humanBytes(s.rate) + QStringLiteral("/s"), etaText(s)};
    QString name = s.name;
    const auto fits = [&](int barWidth) {
        return name.size() + (barWidth ? barWidth + 3 : 0) + 2 + tail.join(QLatin1String("  ")).size() <= room;
    };
    // Rate and time left go first, then the bar, then the run's counts; the
    // name is cut last.
    while (tail.size() > 3 && !fits(MinimumBarWidth))
        tail.removeLast();
    int barWidth = 0;
    if (fits(MinimumBarWidth)) {
        const int used = name.size() + 3 + 2 + tail.join(QLatin1String("  ")).size();
        barWidth = qBound(MinimumBarWidth, room - used, MaximumBarWidth);
    } else {
        while (tail.size() > 1 && !fits(0))
            tail.removeLast();
        const int nameRoom = room - 2 - tail.join(QLatin1String("  ")).size();
        if (nameRoom < name.size())
            name = nameRoom > 1 ? name.left(nameRoom - 1) + QChar(0x2026) : QString();
    }
    QString text = name;
    if (barWidth) {
        const int filled = percentOf(s.fileBytes, s.fileSize) * barWidth / 100;
        text += QStringLiteral(" [%1%2]").arg(QString(filled, QLatin1Char('#')),
                                              QString(barWidth - filled, QLatin1Char('.')));
    }
    text += QStringLiteral("  ") + tail.join(QLatin1String("  "));
    return text.left(room);
}

// "B.WAV: 43.9 KiB of 97.7 KiB (45%), file 2 of 3, total 53.7 KiB of
// 112.3 KiB, 19.5 KiB/s, ETA 0:03"
QString ProgressLine::plainText(const State &s)
{
    return QStringLiteral("%1: %2 of %3 (%4%), file %5 of %6, total %7 of %8, %9/s, %10")
        .arg(s.name, Console::humanBytes(double(s.fileBytes)), Console::humanBytes(double(s.fileSize)))
        .arg(percentOf(s.fileBytes, s.fileSize))
        .arg(s.file)
        .arg(s.files)
        .arg(Console::humanBytes(double(s.runBytes)), Console::humanBytes(double(s.runSize)),
             Console::humanBytes(s.rate), etaText(s));
}
