#include "watchcommand.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "base/waituntil.h"
#include "console.h"
#include "exitcode.h"
#include "recorder/zvcontroller.h"
#include "recordersession.h"
#include "transferoptions.h"
#include "treecommand.h"

namespace {
// How long one look for the recorder waits for its answer at most.
constexpr int ProbeTimeoutMs = 5000;
// How often a wait looks for a signal.
constexpr int SignalCheckMs = 50;

int signalPipe[2] = {-1, -1};

void writeSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}
} // namespace

WatchCommand::WatchCommand(const TransferOptions &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , pollMs(ZVController::PollIntervalMs)
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue(PollEnvironment, &ok);
    if (ok && fromEnvironment > 0)
        pollMs = fromEnvironment;
}

void WatchCommand::catchSignals()
{
    if (::pipe(signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) == 1)
            onSignal(byte);
    });
    std::signal(SIGINT, writeSignal);
    std::signal(SIGTERM, writeSignal);
}

void WatchCommand::onSignal(int signal)
{
    if (signalNumber == 0)
        signalNumber = signal;
    if (session)
        session->interrupt(signal);
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
    catchSignals();
    event(QStringLiteral("watching for %1, looking every %2 s; Ctrl-C ends")
              .arg(Console::visibleName(options.host))
              .arg(pollMs / 1000.0));
    while (true) {
        if (!waitUntilPresent(true))
            break;
        event(QStringLiteral("recorder appeared, syncing into %1").arg(options.dest));
        int code = ExitDone;
        if (!syncOnce(&code)) {
            // There but not answering (the window has it?): try again later.
            if (signalNumber == 0)
                waitUntil([this] { return signalNumber != 0; }, pollMs, SignalCheckMs);
            if (signalNumber != 0)
                break;
            continue;
        }
        if (signalNumber != 0) {
            event(QStringLiteral("interrupted during the sync"));
            return ExitBySignal + signalNumber;
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
    probe.connectToHost(options.host, ZVController::Port);
    waitUntil([&] { return answered || signalNumber != 0; }, ProbeTimeoutMs, SignalCheckMs);
    const bool there = probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    return there;
}

bool WatchCommand::waitUntilPresent(bool wanted)
{
    while (signalNumber == 0) {
        if (present() == wanted)
            return signalNumber == 0;
        waitUntil([this] { return signalNumber != 0; }, pollMs, SignalCheckMs);
    }
    return false;
}

bool WatchCommand::syncOnce(int *code)
{
    RecorderSession link(options.timeoutSeconds * 1000);
    link.setMinimumRate(options.minRate, options.rateWindowSeconds * 1000);
    session = &link;
    const RecorderSession::OpenResult opened = link.open(options.host);
    bool synced = false;
    if (opened == RecorderSession::OpenResult::Opened) {
        // One tree named: switch to it, as a single sync does on opening.
        if ((options.mtr || options.music) && !link.changeRecordMode(options.mtr ? RecordModeMTR : RecordModeMusic)) {
            if (signalNumber == 0)
                event(QStringLiteral("could not sync: the recorder did not switch its folder tree"));
        } else {
            *code = TreeCommand(link, options).run();
            synced = true;
        }
    } else if (opened != RecorderSession::OpenResult::Interrupted) {
        event(QStringLiteral("could not sync: %1").arg(link.openFailure()));
    }
    Console::printErrors(link.errors());
    session = nullptr;
    if (!link.close()) {
        // The worker is stuck in a pause: leave without waiting for it.
        event(QStringLiteral("the link does not end; stopping"));
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(ExitSomeFailed);
    }
    return synced;
}
