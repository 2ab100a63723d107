#include "ui/startoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "base/appconstants.h"
#include "base/parsererror.h"

namespace {
const char ProgramName[] = "zv-file-transfer";
const char Description[] = "Copies recordings from a ZV recorder on its Wi-Fi to this computer.\n"
                           "The recorder's network name, the save folder and what to do with\n"
                           "names that exist are set in the window's settings dialog.";
// The window's keys; the table never takes the focus, so they work wherever
// it is.
const char Keys[] = "Keys:\n"
                    "  Up, Down, Home, End,\n"
                    "  Page Up, Page Down   Move the current row of the table.\n"
                    "  Space                Check or uncheck the current row.\n"
                    "  Return               Open the current folder, or show the current\n"
                    "                       recording's details.\n"
                    "  Backspace            Go up to the parent folder.\n"
                    "  Ctrl+A               Check all rows.\n"
                    "  Ctrl+N               Check the recordings not yet on this computer.\n"
                    "  Escape               Cancel the running download.\n"
                    "  Ctrl+Q               Quit (asks first during a download).\n"
                    "  Tab                  Move the focus through the buttons; Space presses\n"
                    "                       the one with the focus, a row key returns to the\n"
                    "                       table.\n";

// Options of QGuiApplication and QApplication (and of the X11 platform
// plugin) that Qt takes out of the arguments itself.
const char *const QtValueOptions[]
    = {"platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "geometry", "qwindowtitle",
       "title",    "qwindowicon",        "icon",          "session", "display",         "style",    "stylesheet",
       "name",     "qmljsdebugger"};
const char *const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

void declare(QCommandLineParser &parser)
{
    // Qt's own options are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    // -v as the simulator takes it, -V as zv-transfer does (where -v is verbose).
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("V"), QStringLiteral("version")},
                                        QStringLiteral("Displays version information.")));
    for (const char *name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}
} // namespace

StartOptions::Outcome StartOptions::read(const QStringList &arguments)
{
    // The parser's help names the program from the application object's
    // arguments; a core application needs no display.
    int argc = 1;
    QByteArray name(ProgramName);
    char *argv[] = {name.data(), nullptr};
    QCoreApplication probe(argc, argv);

    QCommandLineParser parser;
    declare(parser);
    const QString prefix = QString::fromLatin1(ProgramName) + QStringLiteral(": ");
    QString problem;
    if (!parser.parse(arguments))
        problem = parserError(parser, arguments);
    else if (!parser.positionalArguments().isEmpty())
        problem = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
    if (!problem.isEmpty()) {
        print(stderr, prefix + problem + QLatin1Char('\n') + parser.helpText());
        return UsageError;
    }
    // Help with Qt's own options: the parser prints it and ends the program.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        print(stdout, parser.helpText() + QLatin1Char('\n') + QString::fromLatin1(Keys));
        return Done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(stdout, QString::fromLatin1(ProgramName) + QLatin1Char(' ') + ApplicationVersion + QLatin1Char('\n'));
        return Done;
    }
    return Run;
}
