// zv-transfer: lists, inspects and downloads a recorder's recordings from the
// command line, with the same engine, checks and same-name rules as the
// window.
#include <QCoreApplication>

#include "base/appconstants.h"
#include "base/logging.h"
#include "commandline.h"
#include "console.h"
#include "exitcode.h"
#include "loglinefilter.h"
#include "sessionrun.h"
#include "signalcatcher.h"
#include "watchcommand.h"

namespace {
int run(const QStringList &arguments, SignalCatcher &catcher)
{
    CommandLine line;
    if (!line.parse(arguments))
        return ExitUsage;
    const auto onRecorder = [&](const std::function<int(RecorderSession &)> &command) {
        return SessionRun::run(line.connection, catcher, command);
    };
    switch (line.command) {
    case CommandLine::Command::List:
        return onRecorder([&](RecorderSession &session) { return ListCommand(session, line.list).run(); });
    case CommandLine::Command::Info:
        return onRecorder([&](RecorderSession &session) { return InfoCommand(session, line.info).run(); });
    case CommandLine::Command::Get:
        return onRecorder([&](RecorderSession &session) { return GetCommand(session, line.get).run(); });
    case CommandLine::Command::GetTree:
    case CommandLine::Command::Sync:
        return onRecorder([&](RecorderSession &session) { return TreeCommand(session, line.tree).run(); });
    case CommandLine::Command::Watch:
        return WatchCommand(line.connection, line.tree, catcher).run();
    }
    return ExitUsage;
}

QtMessageHandler printLogLine = nullptr;

// The layers' log lines (from the worker thread too) never run into the
// progress bar, and those the program tells in its own words are left out.
void logAboveProgress(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!LogLineFilter::passes(message))
        return;
    Console::printAbove([&] { printLogLine(type, context, message); });
}
} // namespace

int main(int argc, char **argv)
{
    // First of all: from here on a signal is caught, never lost.
    SignalCatcher::install();
    setupMessageLog();
    printLogLine = qInstallMessageHandler(logAboveProgress);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zv-transfer"));
    QCoreApplication::setApplicationVersion(ApplicationVersion);
    SignalCatcher catcher;
    return run(app.arguments(), catcher);
}
