#ifndef LOGLINEFILTER_H
#define LOGLINEFILTER_H

#include <QString>

// The layers' warning lines that zv-transfer leaves out while it tells the
// same thing in its own words: the socket's error while it connects ("cannot
// reach ..." says it), the detail decoder's complaint while info asks
// ("no audio details", or the error code). Lines come from the worker thread
// too. With the protocol log asked for (-vv) every line is printed.
class LogLineFilter
{
public:
    // Lines that begin with `prefix` are left out until unhide(prefix); the
    // calls nest.
    static void hide(const QString &prefix);
    static void unhide(const QString &prefix);
    // Whether `message` is printed.
    static bool passes(const QString &message);
    // Off: every line passes.
    static void setEnabled(bool enabled);

private:
    LogLineFilter() = delete;
};

#endif // LOGLINEFILTER_H
