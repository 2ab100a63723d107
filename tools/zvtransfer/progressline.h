#ifndef PROGRESSLINE_H
#define PROGRESSLINE_H

#include <QString>

// The progress of a download as people follow it. On a terminal: one line
// redrawn in place, fitted to the terminal's width, with the file's bar, file
// n of N and the run's bytes. Anywhere else (a pipe, a log file): a plain
// line without carriage returns every so often while a file takes long.
class ProgressLine
{
public:
    // Where a run stands while one of its files arrives.
    struct State
    {
        QString name; // as printed
        int file = 0; // 1-based
        int files = 0;
        qulonglong fileBytes = 0;
        qulonglong fileSize = 0;
        qulonglong runBytes = 0; // everything settled before plus fileBytes
        qulonglong runSize = 0;
        double rate = 0; // bytes a second of this file
    };

    static constexpr int DefaultPlainIntervalSeconds = 5;

    // `terminal`: redraw in place; otherwise a plain line every
    // `plainIntervalMs` (0: never).
    ProgressLine(bool terminal, int plainIntervalMs);

    // A new file begins: its plain lines count from now.
    void restart();
    // Shows `state` when it is time to.
    void show(const State &state);
    // Erases a bar drawn in place, before another line is printed.
    void clear();

    // The terminal's columns: its window size (not asked for with
    // ZV_QT_ONLY), else $COLUMNS, else 80.
    static int terminalWidth();
    // The in-place line for `state`, at most `width` - 1 columns.
    static QString barText(const State &state, int width);
    static QString plainText(const State &state);

private:
    const bool terminal;
    const int plainIntervalMs;
    qint64 fileStartMs = 0;
    qint64 lastShownMs = 0;
};

#endif // PROGRESSLINE_H
