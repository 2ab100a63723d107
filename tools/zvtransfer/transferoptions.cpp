#include "transferoptions.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <climits>
#include <initializer_list>

#include "base/appsettings.h"
#include "console.h"
#include "exitcode.h"
#include "progressline.h"
#include "recordersession.h"

namespace {
const char Description[] = "Lists, inspects and downloads the recordings of a recorder on its Wi-Fi.\n\n"
                           "Commands:\n"
                           "  list [PATH]                         the entries of a folder\n"
                           "  get (PATH/NAME... | [PATH] --all) [--dest DIR]\n"
                           "                                      download recordings\n"
                           "  info PATH/NAME                      the details of one recording\n"
                           "  get -r [PATH] [--dest DIR]          download a folder and everything below it\n"
                           "  sync [--dest DIR] [--watch]         download what is new on the recorder; --watch\n"
                           "                                      does so each time the recorder appears\n\n"
                           "PATH is a folder path relative to the recorder's current folder\n"
                           "(its top folder after it starts), separated by \"/\"; \"..\" goes up.\n"
                           "The recorder is the one named by --host, else by $ZV_HOST, else by the\n"
                           "program's settings. A command that switches its folder tree (--mtr,\n"
                           "--music, --both, sync) puts it back on the tree it was on.\n"
                           "Sizes are in bytes below 1 KiB, else in KiB, MiB, GiB (powers of 1024)\n"
                           "with one decimal; --bytes prints list's sizes in bytes.\n"
                           "Names are printed with control and text-direction characters escaped\n"
                           "(\\x1b, \\n, \\u202e; a backslash as \\\\).\n\n"
                           "Exit codes, the same for every command:\n"
                           "  0    all done\n"
                           "  1    some failed (a file, a detail, the tree switch)\n"
                           "  2    usage: unknown command or option, bad value, no --dest\n"
                           "  3    recorder unreachable, or it does not answer\n"
                           "  4    nothing matched: no such folder or name, nothing to get\n"
                           "       (get -r: no recording in the tree)\n"
                           "  128+N  ended by signal N (130 Ctrl-C, 143 SIGTERM); sync --watch ends\n"
                           "       with 0 on a signal between two syncs";

bool usage(const QString &why)
{
    Console::err(QStringLiteral("zv-transfer: ") + why + QStringLiteral(" (see --help)"));
    return false;
}
} // namespace

bool TransferOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(arguments)) {
        Console::err(QStringLiteral("zv-transfer: ") + parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitDone);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    QStringList rest;
    if (!setVerbosity(parser) || !readCommand(parser, &rest) || !readNumbers(parser))
        return false;
    // The settings as the window reads them: same keys, same rules.
    const AppSettings settings;
    return readRule(parser, settings) && readTreeOptions(parser, rest) && readArguments(parser, rest, settings)
        && readHost(parser, settings);
}

void TransferOptions::declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    const auto option = [](std::initializer_list<const char *> names, const char *help, const char *valueName = nullptr,
                           const QString &defaultValue = QString()) {
        QStringList nameList;
        for (const char *name : names)
            nameList << QLatin1String(name);
        return QCommandLineOption(nameList, QString::fromLatin1(help), QLatin1String(valueName), defaultValue);
    };
    parser.addOptions({
        option({"V", "version"}, "Displays version information."),
        option({"q", "quiet"}, "Print errors only (and what list and info are asked for)."),
        option({"v", "verbose"}, "get: each file's path, time and rate; -vv: also the protocol's packets."),
        option({"host"}, "The recorder's network name (default: $ZV_HOST, else the one in the program's settings).",
               "NAME"),
        option({"mtr"}, "Use the multitrack tree."),
        option({"music"}, "Use the music tree."),
        option({"both"}, "get -r, sync: both trees, into the subfolders MUSIC and MTR (sync's default)."),
        option({"r", "recursive"}, "get: the folder and everything below it."),
        option({"n", "dry-run"}, "get, sync: print what would be fetched; write nothing."),
        option({"again"}, "sync: also fetch recordings taken before and since deleted or moved here."),
        option({"watch"},
               "sync: wait for the recorder, sync, let it go, wait for it to leave and come back; "
               "until SIGINT or SIGTERM."),
        option({"json"}, "list, info: print JSON."),
        option({"bytes"}, "list: sizes in bytes."),
        option({"all"}, "get: every recording of the folder."),
        option({"dest"}, "get: the folder to save into (default: the program's save folder setting).", "DIR"),
        option({"rule"},
               "get: what to do with a name that exists: newer (overwrite if the size differs), overwrite, "
               "rename, skip (default: the program's setting).",
               "RULE"),
        option({"timeout"},
               "Seconds to wait for the recorder: to connect and list, for each answer, and between data "
               "during a download (default 30).",
               "SECONDS", QString::number(DefaultTimeoutSeconds)),
        option({"min-rate"},
               "get: give up when fewer than BYTES a second arrive on average over the rate window "
               "(default: never).",
               "BYTES"),
        option({"rate-window"}, "get: the window of --min-rate (default 60).", "SECONDS",
               QString::number(RecorderSession::DefaultRateWindowMs / 1000)),
        option({"stats"},
               "get: when the output is not a terminal, a progress line every SECONDS while a file arrives "
               "(default 5; 0: none).",
               "SECONDS", QString::number(ProgressLine::DefaultPlainIntervalSeconds)),
    });
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, get, info or sync"));
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("PATH, PATH/NAME..."),
                                 QStringLiteral("[args...]"));
}

// -q: errors only; -v: each file's detail; -vv: also the protocol log. The
// layers' warnings repeat what the errors say, so -q leaves them out too.
bool TransferOptions::setVerbosity(const QCommandLineParser &parser)
{
    const int verbose
        = parser.optionNames().count(QStringLiteral("v")) + parser.optionNames().count(QStringLiteral("verbose"));
    const bool quiet = parser.isSet(QStringLiteral("q"));
    if (quiet && verbose)
        return usage(QStringLiteral("-q and -v exclude each other"));
    const auto level = quiet ? Console::Verbosity::Quiet
        : verbose == 0       ? Console::Verbosity::Normal
        : verbose == 1       ? Console::Verbosity::Detail
                             : Console::Verbosity::Protocol;
    Console::setVerbosity(level);
    QLoggingCategory::setFilterRules(level == Console::Verbosity::Protocol ? QStringLiteral("zv.*.debug=true")
                                         : level == Console::Verbosity::Quiet
                                         ? QStringLiteral("zv.*.debug=false\nzv.*.warning=false")
                                         : QStringLiteral("zv.*.debug=false"));
    return true;
}

bool TransferOptions::readCommand(const QCommandLineParser &parser, QStringList *arguments)
{
    *arguments = parser.positionalArguments();
    command = arguments->isEmpty() ? QString() : arguments->takeFirst();
    if (command != QLatin1String("list") && command != QLatin1String("get") && command != QLatin1String("info")
        && command != QLatin1String("sync"))
        return usage(command.isEmpty() ? QStringLiteral("no command") : QStringLiteral("unknown command ") + command);
    mtr = parser.isSet(QStringLiteral("mtr"));
    music = parser.isSet(QStringLiteral("music"));
    both = parser.isSet(QStringLiteral("both"));
    if (int(mtr) + int(music) + int(both) > 1)
        return usage(QStringLiteral("--mtr, --music and --both exclude each other"));
    json = parser.isSet(QStringLiteral("json"));
    bytes = parser.isSet(QStringLiteral("bytes"));
    all = parser.isSet(QStringLiteral("all"));
    return true;
}

bool TransferOptions::readNumbers(const QCommandLineParser &parser)
{
    bool ok = false;
    timeoutSeconds = parser.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || timeoutSeconds <= 0 || timeoutSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--timeout wants a number of seconds"));
    minRate = 0;
    if (parser.isSet(QStringLiteral("min-rate"))) {
        minRate = parser.value(QStringLiteral("min-rate")).toLongLong(&ok);
        if (!ok || minRate <= 0)
            return usage(QStringLiteral("--min-rate wants a number of bytes a second"));
    }
    rateWindowSeconds = parser.value(QStringLiteral("rate-window")).toInt(&ok);
    if (!ok || rateWindowSeconds <= 0 || rateWindowSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--rate-window wants a number of seconds"));
    statsSeconds = parser.value(QStringLiteral("stats")).toInt(&ok);
    if (!ok || statsSeconds < 0 || statsSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--stats wants a number of seconds"));
    return true;
}

bool TransferOptions::readRule(const QCommandLineParser &parser, const AppSettings &settings)
{
    rule = settings.getSameOption();
    if (!parser.isSet(QStringLiteral("rule")))
        return true;
    const QString r = parser.value(QStringLiteral("rule"));
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
    return true;
}

bool TransferOptions::readArguments(const QCommandLineParser &parser, const QStringList &arguments,
                                    const AppSettings &settings)
{
    dest = parser.isSet(QStringLiteral("dest")) ? parser.value(QStringLiteral("dest")) : settings.getSaveDirectory();
    if (command == QLatin1String("list")) {
        if (arguments.size() > 1)
            return usage(QStringLiteral("list takes one PATH"));
        path = arguments.value(0);
    } else if (command == QLatin1String("info")) {
        if (arguments.size() != 1)
            return usage(QStringLiteral("info takes PATH/NAME"));
        const int slash = arguments.first().lastIndexOf(QLatin1Char('/'));
        path = arguments.first().left(qMax(slash, 0));
        name = arguments.first().mid(slash + 1);
    } else {
        if (dest.isEmpty())
            return usage(command + QStringLiteral(" needs --dest DIR (no save folder in the settings)"));
        if (command == QLatin1String("sync"))
            return true;
        if ((all || recursive) && arguments.size() > 1)
            return usage(QStringLiteral("get --all takes one PATH"));
        if (!all && !recursive && arguments.isEmpty())
            return usage(QStringLiteral("get needs --all, -r or NAME..."));
        if (all || recursive)
            path = arguments.value(0);
        else
            names = arguments;
        for (const QString &name : qAsConst(names)) {
            if (name.endsWith(QLatin1Char('/')))
                return usage(QStringLiteral("get wants names of recordings, not folders: ") + name);
        }
    }
    return true;
}

// The options of whole trees and sync, each with the commands it fits.
bool TransferOptions::readTreeOptions(const QCommandLineParser &parser, const QStringList &arguments)
{
    recursive = parser.isSet(QStringLiteral("recursive"));
    again = parser.isSet(QStringLiteral("again"));
    watch = parser.isSet(QStringLiteral("watch"));
    dryRun = parser.isSet(QStringLiteral("dry-run"));
    const bool sync = command == QLatin1String("sync");
    const bool get = command == QLatin1String("get");
    if (recursive && !get)
        return usage(QStringLiteral("-r is for get"));
    if (both && !recursive && !sync)
        return usage(QStringLiteral("--both is for get -r and sync"));
    if ((again || watch) && !sync)
        return usage(QStringLiteral("--again and --watch are for sync"));
    if (dryRun && !get && !sync)
        return usage(QStringLiteral("--dry-run is for get and sync"));
    if (dryRun && watch)
        return usage(QStringLiteral("--dry-run and --watch exclude each other"));
    if (sync && !arguments.isEmpty())
        return usage(QStringLiteral("sync takes no PATH: it mirrors whole trees"));
    // sync always knows its trees: both unless one is named.
    if (sync && !mtr && !music)
        both = true;
    return true;
}

bool TransferOptions::readHost(const QCommandLineParser &parser, const AppSettings &settings)
{
    if (parser.isSet(QStringLiteral("host")))
        host = parser.value(QStringLiteral("host"));
    else if (qEnvironmentVariableIsSet("ZV_HOST"))
        host = qEnvironmentVariable("ZV_HOST");
    else
        host = settings.getSSID();
    if (host.isEmpty())
        return usage(QStringLiteral("no --host given, no ZV_HOST and no network name in the settings"));
    return true;
}
