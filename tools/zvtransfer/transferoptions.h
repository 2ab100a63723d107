#ifndef TRANSFEROPTIONS_H
#define TRANSFEROPTIONS_H

#include <QString>
#include <QStringList>

#include "base/samenameoption.h"

class AppSettings;
class QCommandLineParser;

// What a run of zv-transfer is asked to do: its command line, with the
// program's settings (as the window reads them) where an option is not given.
class TransferOptions
{
public:
    static constexpr int DefaultTimeoutSeconds = 30;

    // Reads the arguments. --help and --version print and end the process;
    // a usage error is printed and gives false.
    bool parse(const QStringList &arguments);

    QString command;   // "list", "get", "info" or "sync"
    QString path;      // the folder to enter first, "/"-separated
    QString name;      // info: the recording
    QStringList names; // get: the recordings ("NAME" or "PATH/NAME"), unless all
    bool all = false;
    bool json = false;
    bool bytes = false; // list: sizes in bytes
    bool mtr = false;
    bool music = false;
    bool both = false;      // get -r, sync: both trees, one subfolder each
    bool recursive = false; // get -r
    bool again = false;     // sync: fetch what was deleted here too
    bool watch = false;     // sync --watch
    bool dryRun = false;
    QString dest;
    SameNameOption rule = SaveNewer;
    QString host;
    int timeoutSeconds = DefaultTimeoutSeconds;
    qint64 minRate = 0; // bytes a second, 0: no minimum
    int rateWindowSeconds = 0;
    int statsSeconds = 0; // get: a plain progress line this often off a terminal

private:
    static void declare(QCommandLineParser &parser);
    static bool setVerbosity(const QCommandLineParser &parser);
    bool readCommand(const QCommandLineParser &parser, QStringList *arguments);
    bool readNumbers(const QCommandLineParser &parser);
    bool readRule(const QCommandLineParser &parser, const AppSettings &settings);
    bool readArguments(const QCommandLineParser &parser, const QStringList &arguments, const AppSettings &settings);
    bool readHost(const QCommandLineParser &parser, const AppSettings &settings);
    bool readTreeOptions(const QCommandLineParser &parser, const QStringList &arguments);
};

#endif // TRANSFEROPTIONS_H
