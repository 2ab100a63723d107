#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

#include "connectionoptions.h"
#include "getcommand.h"
#include "infocommand.h"
#include "listcommand.h"
#include "treecommand.h"

class AppSettings;
class QCommandLineParser;

// The command line of zv-transfer, read once: the command, how to reach the
// recorder, and the command's own options, with the program's settings (as
// the window reads them) where an option is not given. Only the options of
// `command` are filled in.
class CommandLine
{
public:
    enum class Command {
        List,
        Info,
        Get,     // named recordings, or --all of a folder
        GetTree, // get -r: a folder and everything below it
        Sync,
        Watch, // sync --watch
    };

    // Reads the arguments. --help and --version print and end the process;
    // a usage error is printed and gives false.
    bool parse(const QStringList &arguments);

    Command command = Command::List;
    ConnectionOptions connection;
    ListCommand::Options list;
    InfoCommand::Options info;
    GetCommand::Options get;
    TreeCommand::Options tree; // get -r, sync, sync --watch

private:
    // The options as given, before they are sorted to their command.
    struct Given;

    static void declare(QCommandLineParser &parser);
    static bool setVerbosity(const QCommandLineParser &parser);
    bool readCommand(const QCommandLineParser &parser, Given *given);
    bool readNumbers(const QCommandLineParser &parser, Given *given);
    static bool readRule(const QCommandLineParser &parser, const AppSettings &settings, Given *given);
    bool readTreeOptions(const QCommandLineParser &parser, Given *given);
    bool readArguments(const QCommandLineParser &parser, const AppSettings &settings, const Given &given);
    void readTree(const Given &given, const QString &dest);
    bool readHost(const QCommandLineParser &parser, const AppSettings &settings);
};

#endif // COMMANDLINE_H
