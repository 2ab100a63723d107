// zv-transfer: lists, inspects and downloads a recorder's recordings from the
// command line, with the same engine, checks and same-name rules as the
// window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "base/appconstants.h"
#include "base/appsettings.h"
#include "base/detailtext.h"
#include "base/errortranslator.h"
#include "base/logging.h"
#include "recordersession.h"

namespace {
enum ExitCode { ExitDone = 0, ExitSomeFailed = 1, ExitUsage = 2, ExitUnreachable = 3 };
// A run ended by a signal exits with 128 + its number, as shells report it.
constexpr int ExitBySignal = 128;
constexpr int DefaultTimeoutSeconds = 30;

void out(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void err(const QString &text)
{
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

QString explanation(AppErrorCode code)
{
    switch (code) {
    case NetworkSocketError: return QStringLiteral("the network connection to the recorder failed");
    case NetworkPacketTooShort: return QStringLiteral("a read ended inside a packet header");
    case NetworkPacketParseError: return QStringLiteral("the recorder sent a packet without the ZV mark");
    case DownloadFileNotOpen: return QStringLiteral("the target file could not be opened for writing");
    case DownloadPacketLengthError: return QStringLiteral("a data packet's length field does not match its data");
    case DownloadIllegalOffset: return QStringLiteral("a data packet arrived out of order");
    case DownloadPacketCrcError: return QStringLiteral("a data packet failed its checksum");
    case FileDetailIllegalPacketSize: return QStringLiteral("the recorder's detail reply has the wrong size");
    case FileDetailUnknownFileFormat: return QStringLiteral("the recorder reported an unknown file format");
    case DownloadIllegalFileName: return QStringLiteral("the recorder's file name cannot be used safely");
    case DownloadSizeExceeded: return QStringLiteral("the recorder sent more data than the file's listed size");
    case DownloadFileWriteError: return QStringLiteral("writing the target file failed (disk full or not writable?)");
    case DownloadNoSpace: return QStringLiteral("the destination folder has not enough free space for these files");
    case DownloadTargetLost: return QStringLiteral("some recordings were no longer listed after the recorder's listing changed");
    default: break;
    }
    return QStringLiteral("unknown error");
}

QString codeText(const ErrorTally::Item &item)
{
    return ErrorTranslator::getCodeText(item.code, item.param1, item.param2);
}

// Prints the errors met since the last call, each distinct one once.
void printErrors(ErrorTally &tally)
{
    qint64 others = 0;
    const auto items = tally.take(&others);
    for (const auto &item : items) {
        err(QStringLiteral("zv-transfer: error (%1): %2").arg(codeText(item), explanation(item.code)));
        if (item.count > 1)
            err(QStringLiteral("zv-transfer: \u2026 repeated %1 %2")
                    .arg(item.count - 1)
                    .arg(item.count == 2 ? QStringLiteral("time") : QStringLiteral("times")));
    }
    if (others > 0)
        err(QStringLiteral("zv-transfer: \u2026 and %1 errors of other kinds").arg(others));
}

// Characters that move the cursor, end a line, start a terminal command or
// turn the direction of text: in a recorder's name they could forge output.
bool isDeceptive(ushort u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F
        || u == 0x2028 || u == 0x2029 || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// A recorder's name as printed: control and direction characters escaped
// ("\x1b", "\n", "\u202e"), and the backslash doubled so that an escape
// cannot be faked.
QString visibleName(const QString &name)
{
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\'))
            text += QLatin1String("\\\\");
        else if (u == '\n')
            text += QLatin1String("\\n");
        else if (u == '\r')
            text += QLatin1String("\\r");
        else if (u == '\t')
            text += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F)
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (isDeceptive(u))
            text += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

// JSON text with the characters JSON leaves as they are but a terminal or a
// viewer would act on (DEL, C1, direction marks) written as \u escapes, which
// read back as the same string. Outside strings JSON has none of them.
QString terminalSafeJson(const QString &json)
{
    QString text;
    text.reserve(json.size());
    for (const QChar c : json) {
        if (c.unicode() >= 0x7F && isDeceptive(c.unicode()))
            text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

QString humanBytes(double bytes)
{
    const char *units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', unit == 0 ? 0 : 1).arg(QLatin1String(units[unit]));
}

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

int listCommand(RecorderSession &session, bool json)
{
    const auto entries = session.entries();
    if (json) {
        QJsonArray array;
        for (const auto &e : entries) {
            array.append(QJsonObject{{"name", e.name},
                                     {"folder", e.isFolder},
                                     {"size", double(e.size)},
                                     {"date", e.dateTime.isValid() ? e.dateTime.toString(Qt::ISODate) : QString()},
                                     {"index", e.index}});
        }
        out(terminalSafeJson(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented))));
        return ExitDone;
    }
    out(QStringLiteral("%1  %2  %3  %4\n").arg("TYPE", -6).arg("DATE", -19).arg("SIZE", 14).arg("NAME"));
    for (const auto &e : entries) {
        out(QStringLiteral("%1  %2  %3  %4\n")
                .arg(e.isFolder ? QStringLiteral("folder") : QStringLiteral("file"), -6)
                .arg(e.dateTime.isValid() ? DetailText::dateText(e.dateTime) : QStringLiteral("-"), -19)
                .arg(e.isFolder ? QString() : QString::number(e.size), 14)
                .arg(visibleName(e.name)));
    }
    return ExitDone;
}

int infoCommand(RecorderSession &session, const QString &name)
{
    for (const auto &e : session.entries()) {
        if (e.isFolder || e.name != name)
            continue;
        RecorderSession::Detail detail;
        out(QStringLiteral("%1\n%2\n%3\n")
                .arg(visibleName(e.name), DetailText::dateText(e.dateTime), DetailText::sizeText(e.size)));
        const bool answered = session.fileDetail(e.index, &detail);
        const bool hadErrors = !session.errors().isEmpty();
        printErrors(session.errors());
        if (!answered) {
            if (!hadErrors && !session.interruption())
                err(QStringLiteral("zv-transfer: the recorder did not answer the detail request"));
            return ExitSomeFailed;
        }
        out(QStringLiteral("%1\n%2\n").arg(DetailText::formatText(detail.format, detail.sampleRate, detail.bits),
                                           DetailText::lengthText(detail.samples, detail.sampleRate)));
        return ExitDone;
    }
    err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(name));
    return ExitSomeFailed;
}

// One requested recording and what became of it.
struct Target {
    enum State { Pending, Written, Kept, Failed };
    RecorderSession::Entry entry;
    State state = Pending;
};

int getCommand(RecorderSession &session, const QStringList &names, bool all, const QString &dest,
               SameNameOption rule)
{
    QList<Target> targets;
    const auto entries = session.entries();
    if (all) {
        for (const auto &e : entries) {
            if (!e.isFolder)
                targets.append({e});
        }
    } else {
        for (const QString &name : names) {
            bool found = false;
            for (const auto &e : entries) {
                if (!e.isFolder && e.name == name) {
                    targets.append({e});
                    found = true;
                    break;
                }
            }
            if (!found) {
                err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(name));
                return ExitUsage;
            }
        }
    }
    if (!QDir().mkpath(dest)) {
        err(QStringLiteral("zv-transfer: cannot create %1").arg(dest));
        return ExitUsage;
    }

    const bool terminal = isatty(fileno(stdout));
    int downloaded = 0;
    int skipped = 0;
    int failed = 0;
    qulonglong bytes = 0;
    QElapsedTimer total;
    total.start();

    // Settles a target once, with its line.
    const auto settle = [&](int position, Target::State state, const QString &why, qulonglong received) {
        Target &target = targets[position];
        if (target.state != Target::Pending)
            return;
        target.state = state;
        QString status;
        switch (state) {
        case Target::Written:
            ++downloaded;
            bytes += received;
            status = QStringLiteral("done");
            break;
        case Target::Kept:
            ++skipped;
            status = QStringLiteral("skipped (exists)");
            break;
        default:
            ++failed;
            status = QStringLiteral("FAILED (%1)").arg(why);
            break;
        }
        if (terminal)
            out(QStringLiteral("\r\033[K"));
        out(QStringLiteral("%1  %2  %3\n")
                .arg(visibleName(target.entry.name), humanBytes(double(target.entry.size)), status));
    };

    bool stop = false;
    while (!stop) {
        QList<int> batch;   // positions in `targets` handed to this download
        QList<int> indexes;
        for (int i = 0; i < targets.size(); ++i) {
            if (targets.at(i).state == Target::Pending) {
                batch << i;
                indexes << targets.at(i).entry.index;
            }
        }
        if (batch.isEmpty())
            break;

        int current = -1;
        qulonglong currentBytes = 0;
        bool currentSkipped = false;
        bool pendingSkip = false;
        QElapsedTimer fileClock;
        qint64 lastDraw = -1000;
        // The file before the next one started (or the download finished)
        // went through: written, or kept by the rule.
        const auto closeCurrent = [&] {
            if (current >= 0)
                settle(current, currentSkipped ? Target::Kept : Target::Written, QString(), currentBytes);
            current = -1;
        };

        RecorderSession::DownloadObserver observer;
        observer.skipped = [&](const QString &) { pendingSkip = true; };
        observer.started = [&](const QString &name, qulonglong) {
            closeCurrent();
            for (int position : qAsConst(batch)) {
                if (targets.at(position).state == Target::Pending && targets.at(position).entry.name == name) {
                    current = position;
                    break;
                }
            }
            currentBytes = 0;
            currentSkipped = pendingSkip;
            pendingSkip = false;
            fileClock.start();
            lastDraw = -1000;
        };
        observer.progress = [&](qulonglong received) {
            currentBytes = received;
            if (current < 0 || currentSkipped || !terminal || fileClock.elapsed() - lastDraw < 100)
                return;
            const qulonglong size = qulonglong(targets.at(current).entry.size);
            lastDraw = fileClock.elapsed();
            const double seconds = qMax<double>(fileClock.elapsed() / 1000.0, 0.001);
            const double rate = received / seconds;
            const int percent = size ? int(qMin(received, size) * 100 / size) : 100;
            const int filled = percent * 30 / 100;
            const qint64 eta = rate > 0 && size > received ? qint64((size - received) / rate) : 0;
            out(QStringLiteral("\r\033[K[%1%2] %3%  %4/s  ETA %5  %6")
                    .arg(QString(filled, QLatin1Char('#')), QString(30 - filled, QLatin1Char('.')))
                    .arg(percent, 3)
                    .arg(humanBytes(rate), clockText(eta), visibleName(targets.at(current).entry.name)));
        };

        const int settledBefore = downloaded + skipped + failed;
        const auto end = session.download(dest, indexes, rule, observer);
        // Every target of this download not settled yet fails with `why`.
        const auto failRest = [&](const QString &why) {
            for (int position : qAsConst(batch))
                settle(position, Target::Failed, why, 0);
        };
        const ErrorTally::Item ending = session.lastEndingError();
        switch (end) {
        case RecorderSession::DownloadEnd::Finished:
            closeCurrent();
            // A target the engine never started was no longer listed after
            // the recorder's listing changed.
            failRest(QStringLiteral("no longer listed on the recorder"));
            stop = true;
            break;
        case RecorderSession::DownloadEnd::Failed:
            if (ending.code == DownloadIllegalFileName) {
                // Refused before it started: the code names the entry.
                if (current >= 0 && currentBytes == qulonglong(targets.at(current).entry.size))
                    closeCurrent();
                for (int position : qAsConst(batch)) {
                    if (targets.at(position).state == Target::Pending
                        && targets.at(position).entry.index == ending.param1) {
                        settle(position, Target::Failed, codeText(ending), 0);
                        break;
                    }
                }
            } else if (ending.code == DownloadNoSpace) {
                // Nothing of this download was started; asking again would
                // only be refused again.
                failRest(codeText(ending));
                stop = true;
            } else if (current >= 0) {
                settle(current, Target::Failed, codeText(ending), 0);
            } else {
                settle(batch.first(), Target::Failed, codeText(ending), 0);
            }
            // The others are asked for in a new download.
            current = -1;
            break;
        case RecorderSession::DownloadEnd::Lost:
            if (current >= 0)
                settle(current, Target::Failed, QStringLiteral("the recorder stopped sending"), 0);
            failRest(QStringLiteral("not started: the recorder stopped answering"));
            stop = true;
            break;
        case RecorderSession::DownloadEnd::TooSlow: {
            const QString why = QStringLiteral("%1 bytes/s, below --min-rate").arg(session.lastRate());
            if (current >= 0)
                settle(current, Target::Failed, QStringLiteral("too slow: ") + why, 0);
            failRest(QStringLiteral("not started: the recorder is too slow"));
            stop = true;
            break;
        }
        case RecorderSession::DownloadEnd::Interrupted:
            if (current >= 0) {
                settle(current, Target::Failed,
                       QStringLiteral("interrupted after %1 of %2 bytes")
                           .arg(currentBytes)
                           .arg(targets.at(current).entry.size),
                       0);
            }
            failRest(QStringLiteral("not started: interrupted"));
            stop = true;
            break;
        }
        // A download that settled nothing would only be asked for again.
        if (!stop && downloaded + skipped + failed == settledBefore) {
            failRest(codeText(ending));
            stop = true;
        }
        printErrors(session.errors());
    }

    const double seconds = total.elapsed() / 1000.0;
    out(QStringLiteral("downloaded %1, skipped %2, failed %3, %4 bytes in %5 s\n")
            .arg(downloaded)
            .arg(skipped)
            .arg(failed)
            .arg(bytes)
            .arg(seconds, 0, 'f', 1));
    if (session.interruption())
        return ExitBySignal + session.interruption();
    return failed ? ExitSomeFailed : ExitDone;
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

int run(QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists, inspects and downloads the recordings of a recorder on its Wi-Fi.\n\n"
        "Commands:\n"
        "  list [PATH]                         the entries of a folder\n"
        "  get [PATH] (--all | NAME...) [--dest DIR]\n"
        "                                      download recordings\n"
        "  info PATH/NAME                      the details of one recording\n\n"
        "PATH is a folder path relative to the recorder's current folder\n"
        "(its top folder after it starts), separated by \"/\".\n"
        "Names are printed with control and text-direction characters escaped\n"
        "(\\x1b, \\n, \\u202e; a backslash as \\\\).\n\n"
        "Exit codes: 0 all done, 1 some files failed, 2 usage, 3 no recorder\n"
        "reachable or it does not answer, 128+N ended by signal N (130 Ctrl-C)."));
    parser.addHelpOption();
    const QCommandLineOption versionOption({QStringLiteral("V"), QStringLiteral("version")},
                                           QStringLiteral("Displays version information."));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("The recorder's network name (default: the one in the program's settings)."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption mtrOption(QStringLiteral("mtr"), QStringLiteral("Use the multitrack tree."));
    const QCommandLineOption musicOption(QStringLiteral("music"), QStringLiteral("Use the music tree."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("list: print JSON."));
    const QCommandLineOption allOption(QStringLiteral("all"), QStringLiteral("get: every recording of the folder."));
    const QCommandLineOption destOption(QStringLiteral("dest"),
                                        QStringLiteral("get: the folder to save into (default: the program's save "
                                                       "folder setting)."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption ruleOption(
        QStringLiteral("rule"),
        QStringLiteral("get: what to do with a name that exists: newer (overwrite if the size differs), "
                       "overwrite, rename, skip (default: the program's setting)."),
        QStringLiteral("RULE"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Seconds to wait for the recorder: to connect and list, "
                                                          "for each answer, and between data during a download "
                                                          "(default 30)."),
                                           QStringLiteral("SECONDS"), QString::number(DefaultTimeoutSeconds));
    const QCommandLineOption minRateOption(QStringLiteral("min-rate"),
                                           QStringLiteral("get: give up when fewer than BYTES a second arrive on "
                                                          "average over the rate window (default: never)."),
                                           QStringLiteral("BYTES"));
    const QCommandLineOption rateWindowOption(QStringLiteral("rate-window"),
                                              QStringLiteral("get: the window of --min-rate (default 60)."),
                                              QStringLiteral("SECONDS"),
                                              QString::number(RecorderSession::DefaultRateWindowMs / 1000));
    const QCommandLineOption verboseOption({QStringLiteral("v"), QStringLiteral("verbose")},
                                           QStringLiteral("-vv: also the per-packet protocol log (warnings are "
                                                          "always shown)."));
    parser.addOptions({versionOption, hostOption, mtrOption, musicOption, jsonOption, allOption, destOption,
                       ruleOption, timeoutOption, minRateOption, rateWindowOption, verboseOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, get or info"));
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("PATH, NAME..."), QStringLiteral("[args...]"));

    if (!parser.parse(app.arguments())) {
        err(QStringLiteral("zv-transfer: ") + parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitDone);
    if (parser.isSet(versionOption))
        parser.showVersion();
    // -v once adds nothing yet; -vv (or --verbose) adds the debug lines.
    const int verbosity = parser.optionNames().count(QStringLiteral("v"))
        + 2 * parser.optionNames().count(QStringLiteral("verbose"));
    QLoggingCategory::setFilterRules(verbosity >= 2 ? QStringLiteral("zv.*.debug=true")
                                                    : QStringLiteral("zv.*.debug=false"));

    QStringList args = parser.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    const auto usage = [&](const QString &why) {
        err(QStringLiteral("zv-transfer: ") + why + QStringLiteral(" (see --help)"));
        return ExitUsage;
    };
    if (command != QLatin1String("list") && command != QLatin1String("get") && command != QLatin1String("info"))
        return usage(command.isEmpty() ? QStringLiteral("no command") : QStringLiteral("unknown command ") + command);
    if (parser.isSet(mtrOption) && parser.isSet(musicOption))
        return usage(QStringLiteral("--mtr and --music exclude each other"));

    bool ok = false;
    const int timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutSeconds <= 0 || timeoutSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--timeout wants a number of seconds"));
    qint64 minRate = 0;
    if (parser.isSet(minRateOption)) {
        minRate = parser.value(minRateOption).toLongLong(&ok);
        if (!ok || minRate <= 0)
            return usage(QStringLiteral("--min-rate wants a number of bytes a second"));
    }
    const int rateWindowSeconds = parser.value(rateWindowOption).toInt(&ok);
    if (!ok || rateWindowSeconds <= 0 || rateWindowSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--rate-window wants a number of seconds"));

    // The settings as the window reads them: same keys, same rules.
    const AppSettings settings;
    SameNameOption rule = settings.getSameOption();
    if (parser.isSet(ruleOption)) {
        const QString r = parser.value(ruleOption);
        if (r == QLatin1String("newer"))
            rule = SaveNewer;
        else if (r == QLatin1String("overwrite"))
            rule = SaveOverwrite;
        else if (r == QLatin1String("rename"))
            rule = SaveRename;
        else if (r == QLatin1String("skip"))
            rule = SaveNoWrite;
        else
            return usage(QStringLiteral("unknown --rule ") + r);
    }

    QString path;
    QString name;
    QStringList names;
    const QString dest = parser.isSet(destOption) ? parser.value(destOption) : settings.getSaveDirectory();
    if (command == QLatin1String("list")) {
        if (args.size() > 1)
            return usage(QStringLiteral("list takes one PATH"));
        path = args.value(0);
    } else if (command == QLatin1String("info")) {
        if (args.size() != 1)
            return usage(QStringLiteral("info takes PATH/NAME"));
        const int slash = args.first().lastIndexOf(QLatin1Char('/'));
        path = args.first().left(qMax(slash, 0));
        name = args.first().mid(slash + 1);
    } else {
        if (dest.isEmpty())
            return usage(QStringLiteral("get needs --dest DIR (no save folder in the settings)"));
        if (parser.isSet(allOption)) {
            if (args.size() > 1)
                return usage(QStringLiteral("get --all takes one PATH"));
            path = args.value(0);
        } else {
            if (args.isEmpty())
                return usage(QStringLiteral("get needs --all or NAME..."));
            names = args;
        }
    }

    const QString host = parser.isSet(hostOption) ? parser.value(hostOption) : settings.getSSID();
    if (host.isEmpty())
        return usage(QStringLiteral("no --host given and no network name in the settings"));

    RecorderSession session(timeoutSeconds * 1000);
    session.setMinimumRate(minRate, rateWindowSeconds * 1000);
#ifdef Q_OS_UNIX
    interruptOnSignals(&session);
#endif
    const auto interrupted = [&] {
        printErrors(session.errors());
        err(QStringLiteral("zv-transfer: interrupted"));
        return ExitBySignal + session.interruption();
    };

    const int code = [&]() -> int {
        switch (session.open(host)) {
        case RecorderSession::OpenResult::Opened:
            break;
        case RecorderSession::OpenResult::Interrupted:
            return interrupted();
        case RecorderSession::OpenResult::Unreachable:
        case RecorderSession::OpenResult::NotAnswering:
            err(QStringLiteral("zv-transfer: ") + session.openFailure());
            printErrors(session.errors());
            return ExitUnreachable;
        }
        if (parser.isSet(mtrOption) || parser.isSet(musicOption)) {
            if (!session.changeRecordMode(parser.isSet(mtrOption) ? RecordModeMTR : RecordModeMusic)) {
                if (session.interruption())
                    return interrupted();
                printErrors(session.errors());
                err(QStringLiteral("zv-transfer: the recorder did not switch its folder tree"));
                return ExitSomeFailed;
            }
        }
        // "get FOLDER NAME...": a leading folder of the listing is the path.
        if (command == QLatin1String("get") && names.size() >= 2) {
            for (const auto &e : session.entries()) {
                if (e.isFolder && e.name == names.first()) {
                    path = names.takeFirst();
                    break;
                }
            }
        }
        QString missing;
        if (!path.isEmpty() && !session.enterPath(path, &missing)) {
            if (session.interruption())
                return interrupted();
            printErrors(session.errors());
            err(QStringLiteral("zv-transfer: no folder \"%1\" on the recorder").arg(missing));
            return ExitUsage;
        }

        int result = ExitDone;
        if (command == QLatin1String("list"))
            result = listCommand(session, parser.isSet(jsonOption));
        else if (command == QLatin1String("info"))
            result = infoCommand(session, name);
        else
            result = getCommand(session, names, parser.isSet(allOption), dest, rule);
        if (session.interruption() && result < ExitBySignal)
            return interrupted();
        return result;
    }();
    printErrors(session.errors());
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
    return run(app);
}
