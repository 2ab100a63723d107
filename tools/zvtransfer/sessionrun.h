#ifndef SESSIONRUN_H
#define SESSIONRUN_H

#include <QString>
#include <functional>
#include <optional>

#include "connectionoptions.h"

class RecorderSession;
class SignalCatcher;

// One command's run on the recorder: connects (and switches to the tree
// asked for), runs the command, puts the recorder back on the tree it was
// on and ends the link; a signal ends the run wherever it comes. Every
// command but sync --watch, which opens a link for each sync, runs so.
class SessionRun
{
public:
    // Runs `command` on the opened session; the run's exit code.
    static int run(const ConnectionOptions &options, SignalCatcher &catcher,
                   const std::function<int(RecorderSession &session)> &command);

    // Enters the folder a command works in ("/"-separated, relative to the
    // current one; empty: stays); the exit code when it is not there.
    static std::optional<int> enterFolder(RecorderSession &session, const QString &path);
    // Tells that a signal ended the run; its exit code.
    static int interrupted(RecorderSession &session);

private:
    static std::optional<int> open(RecorderSession &session, const ConnectionOptions &options);
    static int leaveTreeAsFound(RecorderSession &session, int code);
    static int signalled(int code);
};

#endif // SESSIONRUN_H
