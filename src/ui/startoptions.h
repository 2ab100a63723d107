#ifndef STARTOPTIONS_H
#define STARTOPTIONS_H

#include <QStringList>

// The window program's own command line, read before any window exists so
// that --help and --version work without a display. Besides --help and
// --version it lets through the options Qt's application objects take
// themselves (-platform NAME, -style NAME, -reverse, ...); anything else is a
// usage error.
class StartOptions
{
public:
    enum Outcome { Run, Done, UsageError };

    // Exit code of a usage error, as zv-transfer's.
    static constexpr int UsageExitCode = 2;

    // Reads `arguments` (the program name first). Prints the help or the
    // version on standard output (Done), or what is wrong followed by the
    // help on standard error (UsageError).
    static Outcome read(const QStringList &arguments);
};

#endif // STARTOPTIONS_H
