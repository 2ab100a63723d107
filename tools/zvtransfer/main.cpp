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
#include <QSettings>
#include <cstdio>
#include <unistd.h>

#include "app/appconstants.h"
#include "app/detailtext.h"
#include "app/errortranslator.h"
#include "recordersession.h"

namespace {
enum ExitCode { ExitDone = 0, ExitSomeFailed = 1, ExitUsage = 2, ExitUnreachable = 3 };

void out(const QString &text)
{
    std::fputs(qPrintable(text), stdout);
    std::fflush(stdout);
}

void err(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
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
    }
    return QStringLiteral("unknown error");
}

void printErrors(const QList<RecorderSession::ErrorReport> &reports, int from)
{
    for (int i = from; i < reports.size(); ++i) {
        const auto &r = reports.at(i);
        err(QStringLiteral("zv-transfer: error (%1): %2")
                .arg(ErrorTranslator::getCodeText(r.code, r.param1, r.param2), explanation(r.code)));
    }
}

QString storedNetworkName()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("PALVEN"),
                       QStringLiteral("ZV_FILE_TRANSFER"));
    return settings.value(QStringLiteral("main/SSID")).toString();
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
        out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
        return ExitDone;
    }
    out(QStringLiteral("%1  %2  %3  %4\n").arg("TYPE", -6).arg("DATE", -19).arg("SIZE", 14).arg("NAME"));
    for (const auto &e : entries) {
        out(QStringLiteral("%1  %2  %3  %4\n")
                .arg(e.isFolder ? QStringLiteral("folder") : QStringLiteral("file"), -6)
                .arg(e.dateTime.isValid() ? DetailText::dateText(e.dateTime) : QStringLiteral("-"), -19)
                .arg(e.isFolder ? QString() : QString::number(e.size), 14)
                .arg(e.name));
    }
    return ExitDone;
}

int infoCommand(RecorderSession &session, const QString &name)
{
    for (const auto &e : session.entries()) {
        if (e.isFolder || e.name != name)
            continue;
        RecorderSession::Detail detail;
        const int errorsBefore = session.errors().size();
        out(QStringLiteral("%1\n%2\n%3\n").arg(e.name, DetailText::dateText(e.dateTime), DetailText::sizeText(e.size)));
        if (!session.fileDetail(e.index, &detail)) {
            if (session.errors().size() > errorsBefore)
                printErrors(session.errors(), errorsBefore);
            else
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

int getCommand(RecorderSession &session, const QStringList &names, bool all, const QString &dest,
               SameNameOption rule)
{
    QList<RecorderSession::Entry> wanted;
    const auto entries = session.entries();
    if (all) {
        for (const auto &e : entries) {
            if (!e.isFolder)
                wanted.append(e);
        }
    } else {
        for (const QString &name : names) {
            bool found = false;
            for (const auto &e : entries) {
                if (!e.isFolder && e.name == name) {
                    wanted.append(e);
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

    while (!wanted.isEmpty()) {
        QList<int> indexes;
        for (const auto &e : qAsConst(wanted))
            indexes << e.index;

        QString current;
        qulonglong currentSize = 0;
        qulonglong currentBytes = 0;
        bool currentSkipped = false;
        int started = 0;
        QElapsedTimer fileClock;
        qint64 lastDraw = -1000;
        const auto finishLine = [&](const QString &status) {
            if (current.isEmpty())
                return;
            if (terminal)
                out(QStringLiteral("\r\033[K"));
            out(QStringLiteral("%1  %2  %3\n").arg(current, humanBytes(double(currentSize)), status));
        };
        const auto closeCurrent = [&] {
            if (current.isEmpty())
                return;
            if (currentSkipped) {
                ++skipped;
                finishLine(QStringLiteral("skipped (exists)"));
            } else {
                ++downloaded;
                bytes += currentBytes;
                finishLine(QStringLiteral("done"));
            }
            current.clear();
        };

        bool pendingSkip = false;
        RecorderSession::DownloadObserver observer;
        observer.skipped = [&](const QString &) { pendingSkip = true; };
        observer.started = [&](const QString &name, qulonglong size) {
            closeCurrent();
            current = name;
            currentSize = size;
            currentBytes = 0;
            currentSkipped = pendingSkip;
            pendingSkip = false;
            ++started;
            fileClock.start();
            lastDraw = -1000;
        };
        observer.progress = [&](qulonglong received) {
            currentBytes = received;
            if (currentSkipped || received == currentSize) {
                closeCurrent();
                return;
            }
            if (!terminal || fileClock.elapsed() - lastDraw < 100)
                return;
            lastDraw = fileClock.elapsed();
            const double seconds = qMax<double>(fileClock.elapsed() / 1000.0, 0.001);
            const double rate = received / seconds;
            const int percent = currentSize ? int(received * 100 / currentSize) : 100;
            const int filled = percent * 30 / 100;
            const qint64 eta = rate > 0 ? qint64((currentSize - received) / rate) : 0;
            out(QStringLiteral("\r\033[K[%1%2] %3%  %4/s  ETA %5  %6")
                    .arg(QString(filled, QLatin1Char('#')), QString(30 - filled, QLatin1Char('.')))
                    .arg(percent, 3)
                    .arg(humanBytes(rate), clockText(eta), current));
        };

        const int errorsBefore = session.errors().size();
        const auto end = session.download(dest, indexes, rule, observer);
        if (end == RecorderSession::DownloadEnd::Finished) {
            closeCurrent();
            break;
        }
        // The file being received when the download stopped has failed.
        if (!current.isEmpty()) {
            finishLine(QStringLiteral("FAILED"));
            ++failed;
            current.clear();
        }
        printErrors(session.errors(), errorsBefore);
        const int handled = qMax(started, 1);
        wanted = wanted.mid(handled);
        if (end == RecorderSession::DownloadEnd::Lost) {
            err(QStringLiteral("zv-transfer: the recorder stopped answering"));
            failed += wanted.size();
            break;
        }
    }

    const double seconds = total.elapsed() / 1000.0;
    out(QStringLiteral("downloaded %1, skipped %2, failed %3, %4 bytes in %5 s\n")
            .arg(downloaded)
            .arg(skipped)
            .arg(failed)
            .arg(bytes)
            .arg(seconds, 0, 'f', 1));
    return failed ? ExitSomeFailed : ExitDone;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zv-transfer"));
    QCoreApplication::setApplicationVersion(ApplicationVersion);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists, inspects and downloads the recordings of a recorder on its Wi-Fi.\n\n"
        "Commands:\n"
        "  list [PATH]                         the entries of a folder\n"
        "  get [PATH] (--all | NAME...) --dest DIR\n"
        "                                      download recordings\n"
        "  info PATH/NAME                      the details of one recording\n\n"
        "PATH is a folder path relative to the recorder's current folder\n"
        "(its top folder after it starts), separated by \"/\".\n\n"
        "Exit codes: 0 all done, 1 some files failed, 2 usage, 3 no recorder reachable."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("The recorder's network name (default: the one in the program's settings)."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption mtrOption(QStringLiteral("mtr"), QStringLiteral("Use the multitrack tree."));
    const QCommandLineOption musicOption(QStringLiteral("music"), QStringLiteral("Use the music tree."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("list: print JSON."));
    const QCommandLineOption allOption(QStringLiteral("all"), QStringLiteral("get: every recording of the folder."));
    const QCommandLineOption destOption(QStringLiteral("dest"), QStringLiteral("get: the folder to save into."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption ruleOption(
        QStringLiteral("rule"),
        QStringLiteral("get: what to do with a name that exists: newer (overwrite if the size differs), "
                       "overwrite, rename, skip (default: the program's setting)."),
        QStringLiteral("RULE"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Seconds to wait for the recorder (default 30)."),
                                           QStringLiteral("SECONDS"), QStringLiteral("30"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"), QStringLiteral("Show the protocol log."));
    parser.addOptions({hostOption, mtrOption, musicOption, jsonOption, allOption, destOption, ruleOption,
                       timeoutOption, verboseOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, get or info"));
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("PATH, NAME..."), QStringLiteral("[args...]"));

    if (!parser.parse(app.arguments())) {
        err(QStringLiteral("zv-transfer: ") + parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitDone);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(QStringLiteral("zv.*.debug=false\nzv.*.warning=false"));

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

    bool timeoutOk = false;
    const int timeoutSeconds = parser.value(timeoutOption).toInt(&timeoutOk);
    if (!timeoutOk || timeoutSeconds <= 0)
        return usage(QStringLiteral("--timeout wants a number of seconds"));

    QSettings stored(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("PALVEN"),
                     QStringLiteral("ZV_FILE_TRANSFER"));
    SameNameOption rule = SameNameOption(qBound(0, stored.value(QStringLiteral("main/sameoption"), 0).toInt(), 3));
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
        if (!parser.isSet(destOption))
            return usage(QStringLiteral("get needs --dest DIR"));
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

    const QString host = parser.isSet(hostOption) ? parser.value(hostOption) : storedNetworkName();
    if (host.isEmpty())
        return usage(QStringLiteral("no --host given and no network name in the settings"));

    RecorderSession session;
    if (!session.open(host, timeoutSeconds * 1000)) {
        err(QStringLiteral("zv-transfer: no recorder reachable at %1 within %2 s").arg(host).arg(timeoutSeconds));
        printErrors(session.errors(), 0);
        return ExitUnreachable;
    }
    if (parser.isSet(mtrOption) || parser.isSet(musicOption)) {
        if (!session.changeRecordMode(parser.isSet(mtrOption) ? RecordModeMTR : RecordModeMusic)) {
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
        err(QStringLiteral("zv-transfer: no folder \"%1\" on the recorder").arg(missing));
        return ExitUsage;
    }

    if (command == QLatin1String("list"))
        return listCommand(session, parser.isSet(jsonOption));
    if (command == QLatin1String("info"))
        return infoCommand(session, name);
    return getCommand(session, names, parser.isSet(allOption), parser.value(destOption), rule);
}
