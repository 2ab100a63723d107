#include "watchcommand.h"

#include <QDateTime>
#include <QTcpSocket>
#include <cstdio>
#include <cstdlib>

#include "base/waituntil.h"
#include "console.h"
#include "exitcode.h"
#include "recorder/zvcontroller.h"
#include "recordersession.h"
#include "signalcatcher.h"

namespace {
// How long one look for the recorder waits for its answer at most.
constexpr int ProbeTimeoutMs = 5000;
// How often a wait looks for a signal.
constexpr int SignalCheckMs = 50;
} // namespace

WatchCommand::WatchCommand(const ConnectionOptions &connection, const TreeCommand::Options &sync,
                           SignalCatcher &catcher, QObject *parent)
    : QObject(parent)
    , connection(connection)
    , sync(sync)
    , catcher(catcher)
    , pollMs(ZVController::PollIntervalMs)
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue(PollEnvironment, &ok);
    if (ok && fromEnvironment > 0)
        pollMs = fromEnvironment;
}

bool WatchCommand::signalled()
{
    return SignalCatcher::caught() != 0;
}

void WatchCommand::event(const QString &text)
{
    if (!Console::atLeast(Console::Verbosity::Normal))
        return;
    Console::out(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss  ")) + text
                 + QLatin1Char('\n'));
}

int WatchCommand::run()
{
    event(QStringLiteral("watching for %1, looking every %2 s; Ctrl-C ends")
              .arg(Console::visibleName(connection.host))
              .arg(pollMs / 1000.0));
    while (true) {
        if (!waitUntilPresent(true))
            break;
        event(QStringLiteral("recorder appeared, syncing into %1").arg(sync.dest));
        int code = ExitDone;
        if (!syncOnce(&code)) {
            // There but not answering (the window has it?): try again later.
            if (!signalled())
                waitUntil(signalled, pollMs, SignalCheckMs);
            if (signalled())
                break;
            continue;
        }
        if (signalled()) {
            event(QStringLiteral("interrupted during the sync"));
            return ExitBySignal + SignalCatcher::caught();
        }
        event(code == ExitDone ? QStringLiteral("sync done, link closed; waiting for the recorder to leave")
                               : QStringLiteral("sync ended with failures (exit code %1), link closed; waiting for the "
                                                "recorder to leave")
                                     .arg(code));
        if (!waitUntilPresent(false))
            break;
        event(QStringLiteral("recorder left"));
    }
    event(QStringLiteral("stopped"));
    return ExitDone;
}

bool WatchCommand::present()
{
    QTcpSocket probe;
    bool answered = false;
    connect(&probe, &QTcpSocket::connected, this, [&answered] { answered = true; });
    connect(&probe, &QTcpSocket::errorOccurred, this, [&answered] { answered = true; });
    probe.connectToHost(connection.host, ZVController::Port);
    waitUntil([&] { return answered || signalled(); }, ProbeTimeoutMs, SignalCheckMs);
    const bool there = probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    return there;
}

bool WatchCommand::waitUntilPresent(bool wanted)
{
    while (!signalled()) {
        if (present() == wanted)
            return !signalled();
        waitUntil(signalled, pollMs, SignalCheckMs);
    }
    return false;
}

bool WatchCommand::syncOnce(int *code)
{
    RecorderSession link(connection.timeoutSeconds * 1000);
    link.setMinimumRate(connection.minRate, connection.rateWindowSeconds * 1000);
    catcher.listen(&link, [&link](int signal) { link.interrupt(signal); });
    const RecorderSession::OpenResult opened = link.open(connection.host);
    bool synced = false;
    if (opened == RecorderSession::OpenResult::Opened) {
        // One tree named: switch to it, as a single sync does on opening.
        if (connection.tree && !link.changeRecordMode(*connection.tree)) {
            if (!signalled())
                event(QStringLiteral("could not sync: the recorder did not switch its folder tree"));
        } else {
            *code = TreeCommand(link, sync).run();
            synced = true;
        }
        // The record mode is the musician's: each sync leaves it as it was.
        if (!link.restoreRecordMode()) {
            Console::printErrors(link.errors());
            Console::err(QStringLiteral("zv-transfer: ") + link.restoreFailure());
            if (*code == ExitDone)
                *code = ExitSomeFailed;
        }
    } else if (opened != RecorderSession::OpenResult::Interrupted) {
        event(QStringLiteral("could not sync: %1").arg(link.openFailure()));
    }
    Console::printErrors(link.errors());
    if (!link.close()) {
        // The worker is stuck in a pause: leave without waiting for it.
        event(QStringLiteral("the link does not end; stopping"));
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(ExitSomeFailed);
    }
    return synced;
}
