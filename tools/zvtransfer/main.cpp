// zv-transfer: lists, inspects and downloads a recorder's recordings from the
// command line, with the same engine, checks and same-name rules as the
// window.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
#include "signalcatcher.h"
#include "transferoptions.h"
#include "treecommand.h"
#include "watchcommand.h"

namespace {
void printJson(const QJsonDocument &document)
{
    Console::out(Console::terminalSafeJson(QString::fromUtf8(document.toJson(QJsonDocument::Indented))));
}

QString isoDate(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toString(Qt::ISODate) : QString();
}

// The recorder's own row numbers stay out of the JSON: they change with
// every listing and no other command takes them.
void listAsJson(const QList<RecorderSession::Entry> &entries)
{
    QJsonArray array;
    for (const auto &e : entries) {
        array.append(QJsonObject{
            {"name", e.name}, {"folder", e.isFolder}, {"size", double(e.size)}, {"date", isoDate(e.dateTime)}});
    }
    printJson(QJsonDocument(array));
}

int listCommand(RecorderSession &session, const TransferOptions &options)
{
    const auto entries = session.entries();
    if (options.json) {
        listAsJson(entries);
        return ExitDone;
    }
    const int sizeWidth = options.bytes ? 14 : 10;
    Console::out(
        QStringLiteral("%1  %2  %3  %4\n").arg("TYPE", -6).arg("DATE", -19).arg("SIZE", sizeWidth).arg("NAME"));
    for (const auto &e : entries) {
        const QString size = e.isFolder ? QString()
            : options.bytes             ? QString::number(e.size)
                                        : Console::humanBytes(double(e.size));
        Console::out(QStringLiteral("%1  %2  %3  %4\n")
                         .arg(e.isFolder ? QStringLiteral("folder") : QStringLiteral("file"), -6)
                         .arg(e.dateTime.isValid() ? DetailText::dateText(e.dateTime) : QStringLiteral("-"), -19)
                         .arg(size, sizeWidth)
                         .arg(Console::visibleName(e.name)));
    }
    return ExitDone;
}

QJsonObject detailAsJson(const RecorderSession::Entry &e, const RecorderSession::Detail &detail)
{
    QJsonObject object{{"name", e.name},
                       {"date", isoDate(e.dateTime)},
                       {"size", double(e.size)},
                       {"format",
                        detail.format == FormatMP3       ? "MP3"
                            : detail.format == FormatBWF ? "BWF"
                                                         : "WAV"},
                       {"sampleRate", double(detail.sampleRate)},
                       {"samples", double(detail.samples)}};
    // An MP3's "bits" is its bit rate.
    object.insert(detail.format == FormatMP3 ? QStringLiteral("bitRate") : QStringLiteral("bits"), double(detail.bits));
    object.insert(QStringLiteral("seconds"),
                  detail.sampleRate ? QJsonValue(double(detail.samples) / detail.sampleRate) : QJsonValue());
    return object;
}

int infoCommand(RecorderSession &session, const TransferOptions &options)
{
    for (const auto &e : session.entries()) {
        if (e.isFolder || e.name != options.name)
            continue;
        RecorderSession::Detail detail;
        if (!options.json) {
            Console::out(
                QStringLiteral("%1\n%2\n%3\n")
                    .arg(Console::visibleName(e.name), DetailText::dateText(e.dateTime), DetailText::sizeText(e.size)));
        }
        const bool answered = session.fileDetail(e.index, &detail);
        const bool hadErrors = !session.errors().isEmpty();
        Console::printErrors(session.errors());
        if (!answered) {
            if (!hadErrors && !session.interruption())
                Console::err(QStringLiteral("zv-transfer: the recorder did not answer the detail request"));
            return ExitSomeFailed;
        }
        if (options.json) {
            printJson(QJsonDocument(detailAsJson(e, detail)));
            return ExitDone;
        }
        Console::out(QStringLiteral("%1\n%2\n")
                         .arg(DetailText::formatText(detail.format, detail.sampleRate, detail.bits),
                              DetailText::lengthText(detail.samples, detail.sampleRate)));
        return ExitDone;
    }
    Console::err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(Console::visibleName(options.name)));
    return ExitNothingMatched;
}

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
    // "get FOLDER NAME...": a leading folder of the listing holds the names.
    if (options.command == QLatin1String("get") && options.names.size() >= 2) {
        for (const auto &e : session.entries()) {
            if (e.isFolder && e.name == options.names.first()) {
                const QString folder = options.names.takeFirst();
                for (QString &name : options.names)
                    name = folder + QLatin1Char('/') + name;
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
    Console::err(QStringLiteral("zv-transfer: no folder \"%1\" on the recorder").arg(Console::visibleName(missing)));
    return ExitNothingMatched;
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
        result = listCommand(session, options);
    else if (options.command == QLatin1String("info"))
        result = infoCommand(session, options);
    else
        result = GetCommand(session, options.rule, options.statsSeconds * 1000)
                     .run(options.names, options.all, options.dest);
    if (session.interruption() && result < ExitBySignal)
        return interrupted(session);
    return result;
}

// The recorder goes back to the tree it was on when the run connected; a run
// that could not put it back has failed.
int leaveTreeAsFound(RecorderSession &session, int code)
{
    if (session.restoreRecordMode())
        return code;
    Console::printErrors(session.errors());
    Console::err(QStringLiteral("zv-transfer: ") + session.restoreFailure());
    return code == ExitDone ? ExitSomeFailed : code;
}

// A signal that came when no wait was left to end (after the last answer,
// while the link closes) ends the run as any other signal does.
int signalled(int code)
{
    const int signal = SignalCatcher::caught();
    if (signal == 0 || code >= ExitBySignal)
        return code;
    Console::err(QStringLiteral("zv-transfer: interrupted"));
    return ExitBySignal + signal;
}

int run(const QStringList &arguments, SignalCatcher &catcher)
{
    TransferOptions options;
    if (!options.parse(arguments))
        return ExitUsage;
    if (options.watch)
        return WatchCommand(options, catcher).run();
    RecorderSession session(options.timeoutSeconds * 1000);
    session.setMinimumRate(options.minRate, options.rateWindowSeconds * 1000);
    catcher.listen(&session, [&session](int signal) { session.interrupt(signal); });
    int code = leaveTreeAsFound(session, runCommand(session, options));
    Console::printErrors(session.errors());
    const bool closed = session.close();
    code = signalled(code);
    if (!closed) {
        // The worker is stuck in a pause: leave without waiting for it.
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(code);
    }
    return code;
}

QtMessageHandler printLogLine = nullptr;

// The layers' log lines (from the worker thread too) never run into the
// progress bar.
void logAboveProgress(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
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
