#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>
#include <functional>

class QDateTime;
class QJsonDocument;

#include "errortally.h"

// What zv-transfer writes: its two streams, recorder names and JSON made
// harmless for a terminal, sizes and times as people read them, and the
// errors a run meets.
class Console
{
public:
    // How much a run tells: -q errors only, -v each file's detail, -vv also
    // the protocol's packets.
    enum class Verbosity { Quiet, Normal, Detail, Protocol };
    static void setVerbosity(Verbosity level);
    static Verbosity verbosity();
    static bool atLeast(Verbosity level) { return verbosity() >= level; }

    // Writes `text` as it is to standard output, at once.
    static void out(const QString &text);
    // Writes `text` as one line to standard error.
    static void err(const QString &text);
    // Writes `document` indented to standard output, made terminal-safe.
    static void outJson(const QJsonDocument &document);

    // Draws `text` as the one line redrawn in place on the terminal (a
    // progress bar), replacing the one before.
    static void drawInPlace(const QString &text);
    // Erases the line drawn in place, if any.
    static void eraseInPlace();
    // Runs `print`, which writes whole lines, with the line drawn in place
    // erased first and none drawn meanwhile, from any thread: errors and
    // log lines never run into the bar. The next count draws it again.
    static void printAbove(const std::function<void()> &print);

    // An error's code as the window shows it.
    static QString codeText(const ErrorTally::Item &item);
    // Prints the errors met since the last call, each distinct one once.
    static void printErrors(ErrorTally &tally);

    // A recorder's name as printed: control and direction characters escaped
    // ("\x1b", "\n", "\u202e"), and the backslash doubled so that an escape
    // cannot be faked.
    static QString visibleName(const QString &name);
    // JSON text with the characters JSON leaves as they are but a terminal or
    // a viewer would act on (DEL, C1, direction marks) written as \u escapes,
    // which read back as the same string. Outside strings JSON has none of
    // them.
    static QString terminalSafeJson(const QString &json);

    // Sizes as people read them, in powers of 1024: "512 B", "9.8 KiB",
    // "1.2 MiB", "3.0 GiB".
    static QString humanBytes(double bytes);
    // Minutes and seconds, "m:ss".
    static QString clockText(qint64 seconds);
    // A recording time as JSON and the sync record write it: ISO 8601,
    // empty when the recorder gives none.
    static QString isoDate(const QDateTime &dateTime);
};

#endif // CONSOLE_H
