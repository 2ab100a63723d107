#include "commandline.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <algorithm>
#include <climits>
#include <initializer_list>
#include <utility>

#include "base/appsettings.h"
#include "base/parsererror.h"
#include "console.h"
#include "exitcode.h"
#include "loglinefilter.h"
#include "progressline.h"
#include "recordersession.h"

namespace {
const char Description[] = "Lists, inspects and downloads the recordings of a recorder on its Wi-Fi.\n\n"
                           "Commands:\n"
                           "  list [PATH]                         the entries of a folder\n"
                           "  get (PATH/NAME... | [PATH] --all) [--dest DIR]\n"
                           "                                      download recordings\n"
                           "  info PATH/NAME                      the details of one recording\n"
                           "  get -r [PATH] [--dest DIR]          download a folder and everything below it:\n"
                           "                                      FOLDER into DIR/FOLDER, FOLDER/ into DIR\n"
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

// The command words; "get -r" and "sync --watch" are told apart by their
// options.
const std::pair<const char *, CommandLine::Command> CommandWords[] = {
    {"list", CommandLine::Command::List},
    {"get", CommandLine::Command::Get},
    {"info", CommandLine::Command::Info},
    {"sync", CommandLine::Command::Sync},
};
} // namespace

struct CommandLine::Given
{
    QString word; // the command as written
    QStringList arguments;
    bool both = false;
    bool json = false;
    bool bytes = false;
    bool all = false;
    bool recursive = false;
    bool again = false;
    bool dryRun = false;
    SameNameOption rule = SaveNewer;
    int statsSeconds = 0;
};

bool CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(arguments)) {
        Console::err(QStringLiteral("zv-transfer: ") + parserError(parser, arguments));
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitDone);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    Given given;
    if (!setVerbosity(parser) || !readCommand(parser, &given) || !readNumbers(parser, &given))
        return false;
    // The settings as the window reads them: same keys, same rules.
    const AppSettings settings;
    return readRule(parser, settings, &given) && readTreeOptions(parser, &given)
        && readArguments(parser, settings, given) && readHost(parser, settings);
}

void CommandLine::declare(QCommandLineParser &parser)
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
        option({"r", "recursive"},
               "get: the folder and everything below it (FOLDER into DIR/FOLDER, FOLDER/ into DIR)."),
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
               "get, sync: what to do with a file of the same name in the destination: newer (skip a file "
               "of the same size, overwrite one of another size), overwrite, rename (NAME(N).EXT), skip "
               "(default: the program's setting).",
               "RULE"),
        option({"timeout"},
               "Seconds to wait for the recorder: to connect and list, for each answer, and between data "
               "during a download (default 30).",
               "SECONDS", QString::number(ConnectionOptions::DefaultTimeoutSeconds)),
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
bool CommandLine::setVerbosity(const QCommandLineParser &parser)
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
    LogLineFilter::setEnabled(level != Console::Verbosity::Protocol);
    QLoggingCategory::setFilterRules(level == Console::Verbosity::Protocol ? QStringLiteral("zv.*.debug=true")
                                         : level == Console::Verbosity::Quiet
                                         ? QStringLiteral("zv.*.debug=false\nzv.*.warning=false")
                                         : QStringLiteral("zv.*.debug=false"));
    return true;
}

bool CommandLine::readCommand(const QCommandLineParser &parser, Given *given)
{
    given->arguments = parser.positionalArguments();
    given->word = given->arguments.isEmpty() ? QString() : given->arguments.takeFirst();
    const auto known = std::find_if(std::cbegin(CommandWords), std::cend(CommandWords),
                                    [given](const auto &word) { return given->word == QLatin1String(word.first); });
    if (known == std::cend(CommandWords)) {
        return usage(given->word.isEmpty() ? QStringLiteral("no command")
                                           : QStringLiteral("unknown command ") + given->word);
    }
    command = known->second;
    const bool mtr = parser.isSet(QStringLiteral("mtr"));
    const bool music = parser.isSet(QStringLiteral("music"));
    given->both = parser.isSet(QStringLiteral("both"));
    if (int(mtr) + int(music) + int(given->both) > 1)
        return usage(QStringLiteral("--mtr, --music and --both exclude each other"));
    if (mtr || music)
        connection.tree = mtr ? RecordModeMTR : RecordModeMusic;
    given->json = parser.isSet(QStringLiteral("json"));
    given->bytes = parser.isSet(QStringLiteral("bytes"));
    given->all = parser.isSet(QStringLiteral("all"));
    return true;
}

bool CommandLine::readNumbers(const QCommandLineParser &parser, Given *given)
{
    bool ok = false;
    connection.timeoutSeconds = parser.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || connection.timeoutSeconds <= 0 || connection.timeoutSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--timeout wants a number of seconds"));
    connection.minRate = 0;
    if (parser.isSet(QStringLiteral("min-rate"))) {
        connection.minRate = parser.value(QStringLiteral("min-rate")).toLongLong(&ok);
        if (!ok || connection.minRate <= 0)
            return usage(QStringLiteral("--min-rate wants a number of bytes a second"));
    }
    connection.rateWindowSeconds = parser.value(QStringLiteral("rate-window")).toInt(&ok);
    if (!ok || connection.rateWindowSeconds <= 0 || connection.rateWindowSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--rate-window wants a number of seconds"));
    given->statsSeconds = parser.value(QStringLiteral("stats")).toInt(&ok);
    if (!ok || given->statsSeconds < 0 || given->statsSeconds > INT_MAX / 1000)
        return usage(QStringLiteral("--stats wants a number of seconds"));
    return true;
}

bool CommandLine::readRule(const QCommandLineParser &parser, const AppSettings &settings, Given *given)
{
    given->rule = settings.getSameOption();
    if (!parser.isSet(QStringLiteral("rule")))
        return true;
    const QString r = parser.value(QStringLiteral("rule"));
    if (r == QLatin1String("newer"))
        given->rule = SaveNewer;
    else if (r == QLatin1String("overwrite"))
        given->rule = SaveOverwrite;
    else if (r == QLatin1String("rename"))
        given->rule = SaveRename;
    else if (r == QLatin1String("skip"))
        given->rule = SaveNoWrite;
    else
        return usage(QStringLiteral("unknown --rule ") + r);
    return true;
}

// The options of whole trees and sync, each with the commands it fits; they
// also tell get -r from get and sync --watch from sync.
bool CommandLine::readTreeOptions(const QCommandLineParser &parser, Given *given)
{
    given->recursive = parser.isSet(QStringLiteral("recursive"));
    given->again = parser.isSet(QStringLiteral("again"));
    const bool watch = parser.isSet(QStringLiteral("watch"));
    given->dryRun = parser.isSet(QStringLiteral("dry-run"));
    const bool sync = command == Command::Sync;
    const bool get = command == Command::Get;
    if (given->recursive && !get)
        return usage(QStringLiteral("-r is for get"));
    if (given->both && !given->recursive && !sync)
        return usage(QStringLiteral("--both is for get -r and sync"));
    if ((given->again || watch) && !sync)
        return usage(QStringLiteral("--again and --watch are for sync"));
    if (given->dryRun && !get && !sync)
        return usage(QStringLiteral("--dry-run is for get and sync"));
    if (given->dryRun && watch)
        return usage(QStringLiteral("--dry-run and --watch exclude each other"));
    if (sync && !given->arguments.isEmpty())
        return usage(QStringLiteral("sync takes no PATH: it mirrors whole trees"));
    // sync always knows its trees: both unless one is named.
    if (sync && !connection.tree)
        given->both = true;
    if (get && given->recursive)
        command = Command::GetTree;
    if (sync && watch)
        command = Command::Watch;
    return true;
}

bool CommandLine::readArguments(const QCommandLineParser &parser, const AppSettings &settings, const Given &given)
{
    const QStringList &arguments = given.arguments;
    const QString dest
        = parser.isSet(QStringLiteral("dest")) ? parser.value(QStringLiteral("dest")) : settings.getSaveDirectory();
    switch (command) {
    case Command::List:
        if (arguments.size() > 1)
            return usage(QStringLiteral("list takes one PATH"));
        list.path = arguments.value(0);
        list.json = given.json;
        list.bytes = given.bytes;
        return true;
    case Command::Info: {
        if (arguments.size() != 1)
            return usage(QStringLiteral("info takes PATH/NAME"));
        const int slash = arguments.first().lastIndexOf(QLatin1Char('/'));
        info.path = arguments.first().left(qMax(slash, 0));
        info.name = arguments.first().mid(slash + 1);
        info.json = given.json;
        return true;
    }
    case Command::Get:
    case Command::GetTree:
    case Command::Sync:
    case Command::Watch:
        break;
    }
    if (dest.isEmpty())
        return usage(given.word + QStringLiteral(" needs --dest DIR (no save folder in the settings)"));
    if (command == Command::Sync || command == Command::Watch) {
        readTree(given, dest);
        return true;
    }
    const bool whole = given.all || given.recursive;
    if (whole && arguments.size() > 1)
        return usage(QStringLiteral("get --all takes one PATH"));
    if (!whole && arguments.isEmpty())
        return usage(QStringLiteral("get needs --all, -r or NAME..."));
    for (const QString &name : arguments) {
        if (!whole && name.endsWith(QLatin1Char('/')))
            return usage(QStringLiteral("get wants names of recordings, not folders: ") + name);
    }
    if (command == Command::GetTree) {
        readTree(given, dest);
        tree.path = arguments.value(0);
        return true;
    }
    if (whole)
        get.path = arguments.value(0);
    else
        get.names = arguments;
    get.all = given.all;
    get.dryRun = given.dryRun;
    get.dest = dest;
    get.rule = given.rule;
    get.statsSeconds = given.statsSeconds;
    return true;
}

void CommandLine::readTree(const Given &given, const QString &dest)
{
    tree.sync = command == Command::Sync || command == Command::Watch;
    tree.named = connection.tree;
    tree.both = given.both;
    tree.dest = dest;
    tree.rule = given.rule;
    tree.statsSeconds = given.statsSeconds;
    tree.again = given.again;
    tree.dryRun = given.dryRun;
}

bool CommandLine::readHost(const QCommandLineParser &parser, const AppSettings &settings)
{
    if (parser.isSet(QStringLiteral("host")))
        connection.host = parser.value(QStringLiteral("host"));
    else if (qEnvironmentVariableIsSet("ZV_HOST"))
        connection.host = qEnvironmentVariable("ZV_HOST");
    else
        connection.host = settings.getSSID();
    if (connection.host.isEmpty())
        return usage(QStringLiteral("no --host given, no ZV_HOST and no network name in the settings"));
    return true;
}
