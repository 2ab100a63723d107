#include "sessionrun.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "exitcode.h"
#include "recordersession.h"
#include "signalcatcher.h"

int SessionRun::run(const ConnectionOptions &options, SignalCatcher &catcher,
                    const std::function<int(RecorderSession &session)> &command)
{
    RecorderSession session(options.timeoutSeconds * 1000);
    session.setMinimumRate(options.minRate, options.rateWindowSeconds * 1000);
    catcher.listen(&session, [&session](int signal) { session.interrupt(signal); });
    int code = ExitDone;
    if (const auto early = open(session, options)) {
        code = *early;
    } else {
        code = command(session);
        if (session.interruption() && code < ExitBySignal)
            code = interrupted(session);
    }
    code = leaveTreeAsFound(session, code);
    Console::printErrors(session.errors());
    const bool closed = session.close();
    code = signalled(code);
    if (!closed) {
        // The worker is stuck in a pause: leave without waiting for it.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    return code;
}

int SessionRun::interrupted(RecorderSession &session)
{
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: interrupted"));
    return ExitBySignal + session.interruption();
}

// Connects and switches to the tree asked for; the exit code when the run
// ends here.
std::optional<int> SessionRun::open(RecorderSession &session, const ConnectionOptions &options)
{
    switch (session.open(options.host)) {
    case RecorderSession::OpenResult::Opened:
        break;
    case RecorderSession::OpenResult::Interrupted:
        return interrupted(session);
    case RecorderSession::OpenResult::Unreachable:
    case RecorderSession::OpenResult::NotAnswering:
        Console::err(QStringLiteral("zv-transfer: ") + session.openFailure());
        Console::printErrors(session.errors());
        return ExitUnreachable;
    }
    if (options.tree && !session.changeRecordMode(*options.tree)) {
        if (session.interruption())
            return interrupted(session);
        Console::printErrors(session.errors());
        Console::err(QStringLiteral("zv-transfer: the recorder did not switch its folder tree"));
        return ExitSomeFailed;
    }
    return std::nullopt;
}

std::optional<int> SessionRun::enterFolder(RecorderSession &session, const QString &path)
{
    QString missing;
    if (path.isEmpty() || session.enterPath(path, &missing))
        return std::nullopt;
    if (session.interruption())
        return interrupted(session);
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: no folder \"%1\" on the recorder").arg(Console::visibleName(missing)));
    return ExitNothingMatched;
}

// The recorder goes back to the tree it was on when the run connected; a run
// that could not put it back has failed.
int SessionRun::leaveTreeAsFound(RecorderSession &session, int code)
{
    if (session.restoreRecordMode())
        return code;
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: ") + session.restoreFailure());
    return code == ExitDone ? ExitSomeFailed : code;
}

// A signal that came when no wait was left to end (after the last answer,
// while the link closes) ends the run as any other signal does.
int SessionRun::signalled(int code)
{
    const int signal = SignalCatcher::caught();
    if (signal == 0 || code >= ExitBySignal)
        return code;
    Console::err(QStringLiteral("zv-transfer: interrupted"));
    return ExitBySignal + signal;
}
