// zv-transfer: lists, inspects and downloads a recorder's recordings from the
// command line, with the same engine, checks and same-name rules as the
// window.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

#include "base/appconstants.h"
#include "base/detailtext.h"
#include "base/logging.h"
#include "console.h"
#include "exitcode.h"
#include "getcommand.h"
#include "recordersession.h"
#include "transferoptions.h"
#include "treecommand.h"
#include "watchcommand.h"

namespace {
void listAsJson(const QList<RecorderSession::Entry> &entries)
{
    QJsonArray array;
    for (const auto &e : entries) {
        array.append(QJsonObject{{"name", e.name},
                                 {"folder", e.isFolder},
                                 {"size", double(e.size)},
                                 {"date", e.dateTime.isValid() ? e.dateTime.toString(Qt::ISODate) : QString()},
                                 {"index", e.index}});
    }
    Console::out(Console::terminalSafeJson(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented))));
}

int listCommand(RecorderSession &session, bool json)
{
    const auto entries = session.entries();
    if (json) {
        listAsJson(entries);
        return ExitDone;
    }
    Console::out(QStringLiteral("%1  %2  %3  %4\n").arg("TYPE", -6).arg("DATE", -19).arg("SIZE", 14).arg("NAME"));
    for (const auto &e : entries) {
        Console::out(QStringLiteral("%1  %2  %3  %4\n")
                         .arg(e.isFolder ? QStringLiteral("folder") : QStringLiteral("file"), -6)
                         .arg(e.dateTime.isValid() ? DetailText::dateText(e.dateTime) : QStringLiteral("-"), -19)
                         .arg(e.isFolder ? QString() : QString::number(e.size), 14)
                         .arg(Console::visibleName(e.name)));
    }
    return ExitDone;
}

int infoCommand(RecorderSession &session, const QString &name)
{
    for (const auto &e : session.entries()) {
        if (e.isFolder || e.name != name)
            continue;
        RecorderSession::Detail detail;
        Console::out(
            QStringLiteral("%1\n%2\n%3\n")
                .arg(Console::visibleName(e.name), DetailText::dateText(e.dateTime), DetailText::sizeText(e.size)));
        const bool answered = session.fileDetail(e.index, &detail);
        const bool hadErrors = !session.errors().isEmpty();
        Console::printErrors(session.errors());
        if (!answered) {
            if (!hadErrors && !session.interruption())
                Console::err(QStringLiteral("zv-transfer: the recorder did not answer the detail request"));
            return ExitSomeFailed;
        }
        Console::out(QStringLiteral("%1\n%2\n")
                         .arg(DetailText::formatText(detail.format, detail.sampleRate, detail.bits),
                              DetailText::lengthText(detail.samples, detail.sampleRate)));
        return ExitDone;
    }
    Console::err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(name));
    return ExitSomeFailed;
}

#ifdef Q_OS_UNIX
// Ctrl-C and SIGTERM reach the event loop through a pipe; the session then
// cancels cleanly instead of dying mid-file.
int signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

void interruptOnSignals(RecorderSession *session)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, session);
    QObject::connect(notifier, &QSocketNotifier::activated, session, [session] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) == 1)
            session->interrupt(byte);
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}
#endif

int interrupted(RecorderSession &session)
{
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: interrupted"));
    return ExitBySignal + session.interruption();
}

// Connects and switches to the tree asked for; the exit code when the run
// ends here.
std::optional<int> open(RecorderSession &session, const TransferOptions &options)
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
    if ((options.mtr || options.music) && !session.changeRecordMode(options.mtr ? RecordModeMTR : RecordModeMusic)) {
        if (session.interruption())
            return interrupted(session);
        Console::printErrors(session.errors());
        Console::err(QStringLiteral("zv-transfer: the recorder did not switch its folder tree"));
        return ExitSomeFailed;
    }
    return std::nullopt;
}

// Enters the folder the command works in; the exit code when it is not there.
std::optional<int> enterFolder(RecorderSession &session, TransferOptions &options)
{
    // "get FOLDER NAME...": a leading folder of the listing is the path.
    if (options.command == QLatin1String("get") && options.names.size() >= 2) {
        for (const auto &e : session.entries()) {
            if (e.isFolder && e.name == options.names.first()) {
                options.path = options.names.takeFirst();
                break;
            }
        }
    }
    QString missing;
    if (options.path.isEmpty() || session.enterPath(options.path, &missing))
        return std::nullopt;
    if (session.interruption())
        return interrupted(session);
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: no folder \"%1\" on the recorder").arg(missing));
    return ExitUsage;
}

int runCommand(RecorderSession &session, TransferOptions &options)
{
    if (const auto early = open(session, options))
        return *early;
    // Whole trees enter their folder in each tree themselves.
    const bool tree = TreeCommand::takes(options);
    if (const auto early = tree ? std::nullopt : enterFolder(session, options))
        return *early;
    int result = ExitDone;
    if (tree)
        result = TreeCommand(session, options).run();
    else if (options.dryRun)
        result = TreeCommand(session, options).preview(options.names, options.all);
    else if (options.command == QLatin1String("list"))
        result = listCommand(session, options.json);
    else if (options.command == QLatin1String("info"))
        result = infoCommand(session, options.name);
    else
        result = GetCommand(session, options.dest, options.rule).run(options.names, options.all);
    if (session.interruption() && result < ExitBySignal)
        return interrupted(session);
    return result;
}

int run(const QStringList &arguments)
{
    TransferOptions options;
    if (!options.parse(arguments))
        return ExitUsage;
    if (options.watch)
        return WatchCommand(options).run();
    RecorderSession session(options.timeoutSeconds * 1000);
    session.setMinimumRate(options.minRate, options.rateWindowSeconds * 1000);
#ifdef Q_OS_UNIX
    interruptOnSignals(&session);
#endif
    const int code = runCommand(session, options);
    Console::printErrors(session.errors());
    if (!session.close()) {
        // The worker is stuck in a pause: leave without waiting for it.
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(code);
    }
    return code;
}
} // namespace

int main(int argc, char **argv)
{
    setupMessageLog();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zv-transfer"));
    QCoreApplication::setApplicationVersion(ApplicationVersion);
    return run(app.arguments());
}
