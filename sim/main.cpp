// zv-recorder-sim: the recorder simulator as a program, for trying the
// client by hand, demos and throughput measurements.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <climits>
#include <functional>
#include <limits>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

#include "base/appconstants.h"
#include "base/logging.h"
#include "base/parsererror.h"
#include "sim/recordersimulator.h"
#include "sim/simlogging.h"

namespace {
const char Description[]
    = "Simulates the recorder end of the ZV file-transfer link: serves a music tree and a multitrack (MTR)\n"
      "tree over TCP, one client at a time, and injects faults on request.\n"
      "A connection that comes while a client is served is held, unanswered, until that client leaves.\n"
      "Each connection starts at the root of the current record mode's tree; the record mode survives\n"
      "reconnections. Unknown requests get no answer.\n"
      "Sizes take K, M or G suffixes (binary). Without --music/--mtr the demo trees are served.";

// What the command line asks for. Most options go straight to the simulator;
// the trees, the address and the faults made of several options are kept
// here until every option has been read.
struct Setup
{
    RecorderSimulator simulator;
    bool demo = false;
    QString demoDirectory;
    DemoTree::Options demoOptions;
    bool demoAdditions = false; // --big-file or --many-files given
    std::optional<QString> musicRoot;
    std::optional<QString> mtrRoot;
    QString address;
    QString port;
    std::optional<qint64> splitBytes;
    QString splitPause;
    std::optional<qint64> dropAfter;
    QString dropMode;
    bool dropEverySession = false;
};

// Takes one value of an option ("" for a switch); returns what is wrong with
// it, or an empty text.
using Setter = std::function<QString(Setup &setup, const QString &value)>;

// One option of the command line and what it does.
struct SimOption
{
    const char *name;
    const char *valueName;    // nullptr: a switch
    const char *defaultValue; // nullptr: none
    const char *help;
    Setter set;
};

// "1048576", "64K", "512M", "1G" (binary multiples); -1 when malformed.
qint64 parseSize(QString text)
{
    text = text.trimmed().toUpper();
    if (text.endsWith(QLatin1String("IB")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('B')))
        text.chop(1);
    qint64 factor = 1;
    if (text.endsWith(QLatin1Char('K')))
        factor = 1024;
    else if (text.endsWith(QLatin1Char('M')))
        factor = 1024 * 1024;
    else if (text.endsWith(QLatin1Char('G')))
        factor = 1024 * 1024 * 1024;
    if (factor != 1)
        text.chop(1);
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 0);
    return ok && value >= 0 ? value * factor : -1;
}

// A request code as given to --mute: "0x21", "33" or "mode".
int parseRequest(const QString &text)
{
    if (text.compare(QLatin1String("mode"), Qt::CaseInsensitive) == 0)
        return RecorderSimulator::RecordModeRequest;
    bool ok = false;
    const int code = text.toInt(&ok, 0);
    return ok && code >= 0 && code <= 0xFF ? code : -1;
}

int clampedToInt(qint64 value)
{
    return int(qMin<qint64>(value, INT_MAX));
}

constexpr qint64 NoLimit = std::numeric_limits<qint64>::max();

// A size or count of at most `limit`, handed to `use`.
Setter size(const char *complaint, qint64 limit, const std::function<void(Setup &, qint64)> &use)
{
    return [=](Setup &setup, const QString &text) {
        const qint64 value = parseSize(text);
        if (value < 0 || value > limit)
            return QString::fromLatin1(complaint);
        use(setup, value);
        return QString();
    };
}

Setter size(const char *complaint, const std::function<void(Setup &, qint64)> &use)
{
    return size(complaint, NoLimit, use);
}

// A size or count for one of the simulator's setters; above INT_MAX it is
// refused when `limit` says so, else clamped.
Setter size(const char *complaint, void (RecorderSimulator::*set)(int), qint64 limit = NoLimit)
{
    return size(complaint, limit, [=](Setup &setup, qint64 value) { (setup.simulator.*set)(clampedToInt(value)); });
}

Setter size(const char *complaint, void (RecorderSimulator::*set)(qint64))
{
    return size(complaint, [=](Setup &setup, qint64 value) { (setup.simulator.*set)(value); });
}

// A switch that turns one of the simulator's behaviours on.
Setter turnOn(void (RecorderSimulator::*set)(bool))
{
    return [=](Setup &setup, const QString &) {
        (setup.simulator.*set)(true);
        return QString();
    };
}

// A switch kept for a later step.
Setter raise(bool Setup::*field)
{
    return [=](Setup &setup, const QString &) {
        setup.*field = true;
        return QString();
    };
}

// A text kept for a later step.
template<typename Field>
Setter keep(Field Setup::*field)
{
    return [=](Setup &setup, const QString &text) {
        setup.*field = text;
        return QString();
    };
}

// In the order --help lists them.
const SimOption Options[] = {
    {"address", "ip", "127.0.0.1", "Address to listen on (default 127.0.0.1).", keep(&Setup::address)},
    {"port", "port", "8010", "TCP port (default 8010).", keep(&Setup::port)},
    {"music", "dir", nullptr, "Directory served as the music tree (record mode 0).", keep(&Setup::musicRoot)},
    {"mtr", "dir", nullptr, "Directory served as the multitrack tree (record mode 1).", keep(&Setup::mtrRoot)},
    {"demo", nullptr, nullptr,
     "Serve the generated demo trees (in a scratch directory removed on exit, unless --demo-dir is given).",
     raise(&Setup::demo)},
    {"demo-dir", "dir", nullptr,
     "Generate the demo trees into <dir>/MUSIC and <dir>/MTR and keep them (implies --demo).",
     [](Setup &setup, const QString &directory) {
         setup.demo = true;
         setup.demoDirectory = directory;
         return QString();
     }},
    {"big-file", "size", nullptr,
     "Add MUSIC/BIG_FILE.WAV of <size> bytes to the demo tree (sparse, deterministic; at most 4G-1).",
     size("--big-file wants a size up to 4G-1", DemoTree::MaxBigFileSize,
          [](Setup &setup, qint64 bytes) {
              setup.demoOptions.bigFileSize = bytes;
              setup.demoAdditions = true;
          })},
    {"many-files", "n", nullptr, "Add the folder MUSIC/MANY with <n> small WAV files to the demo tree (at most 65535).",
     size("--many-files wants a count up to 65535", DemoTree::MaxManyFiles,
          [](Setup &setup, qint64 count) {
              setup.demoOptions.manyFiles = int(count);
              setup.demoAdditions = true;
          })},
    {"mode", "mode", "0", "Initial record mode: 0 music, 1 multitrack (default 0).",
     [](Setup &setup, const QString &mode) {
         setup.simulator.setRecordMode(mode.toInt());
         return QString();
     }},
    {"list-payload", "bytes", "4096", "Most entry bytes per listing packet (default 4096); entries are never split.",
     size("--list-payload wants a size", &RecorderSimulator::setMaxListPayload)},
    {"chunk", "bytes", "32K", "Payload bytes per data packet, 1..65521 (default 32K).",
     size("--chunk wants a size", &RecorderSimulator::setChunkSize)},
    {"send-window", "bytes", "2M", "Most bytes kept queued towards the socket during a download (default 2M).",
     size("--send-window wants a size", &RecorderSimulator::setSendWindow)},
    {"verbose", nullptr, nullptr,
     "Log every request and answer with its header in hex (data packets: the first, the last and faulty ones).",
     turnOn(&RecorderSimulator::setLogExchanges)},
    {"split", "bytes", nullptr, "Fault: send every packet in pieces of <bytes> bytes.",
     size("--split and --split-pause want numbers", [](Setup &setup, qint64 bytes) { setup.splitBytes = bytes; })},
    {"split-pause", "ms", "0", "Pause between two pieces of --split (default 0).", keep(&Setup::splitPause)},
    {"throttle", "rate", nullptr, "Fault: limit everything sent to <rate> bytes per second.",
     size("--throttle wants a rate", &RecorderSimulator::setThrottle)},
    {"corrupt-check", "k", nullptr, "Fault: wrong check value (+1) in data packet <k> of every download (from 0).",
     size("--corrupt-check wants a packet number", &RecorderSimulator::setCorruptCheckAt, INT_MAX)},
    {"wrong-offset", "k", nullptr, "Fault: offset field one too high in data packet <k>.",
     size("--wrong-offset wants a packet number", &RecorderSimulator::setWrongOffsetAt, INT_MAX)},
    {"wrong-length", "k", nullptr, "Fault: length field one short in data packet <k> (the payload is sent whole).",
     size("--wrong-length wants a packet number", &RecorderSimulator::setWrongLengthAt, INT_MAX)},
    {"extra-bytes", "n", nullptr, "Fault: send <n> zero bytes more than the listed size.",
     size("--extra-bytes wants a size", &RecorderSimulator::setExtraBytes)},
    {"bad-list-sequence", nullptr, nullptr, "Fault: number the first listing of each connection from 1 instead of 0.",
     [](Setup &setup, const QString &) {
         setup.simulator.setListSequenceFault(true);
         return QString();
     }},
    {"bad-list-sequence-every-listing", nullptr, nullptr,
     "Fault: number every listing from 1 instead of 0 (a client that lists again never gets a packet 0).",
     [](Setup &setup, const QString &) {
         setup.simulator.setListSequenceFault(true, true);
         return QString();
     }},
    {"foreign-packets", nullptr, nullptr,
     "Fault: send a kind 0x77 packet (length field 4, no payload) and a code 0x7E packet (4 bytes) before each "
     "answer and each data packet.",
     turnOn(&RecorderSimulator::setForeignPackets)},
    {"drop-after", "n", nullptr,
     "Fault: end the connection once <n> bytes were sent (once, unless --drop-every-session).",
     size("--drop-after wants a size", [](Setup &setup, qint64 bytes) { setup.dropAfter = bytes; })},
    {"drop-mode", "mode", "reset",
     "How --drop-after ends it: reset (RST), close (FIN) or silent (send nothing more, keep the socket open). "
     "Default reset.",
     keep(&Setup::dropMode)},
    {"drop-every-session", nullptr, nullptr, "Fire --drop-after in every connection.", raise(&Setup::dropEverySession)},
    {"mute", "code", nullptr, "Fault: never answer the request with this code (0x10, 0x21, ... or 'mode'); repeatable.",
     [](Setup &setup, const QString &code) {
         const int request = parseRequest(code);
         if (request < 0)
             return QStringLiteral("--mute wants a code 0x00..0xff or 'mode', not %1").arg(code);
         setup.simulator.setUnanswered(request);
         return QString();
     }},
    {"hostile-names", nullptr, nullptr,
     "Fault: add entries named ../evil.wav, ..\\evil.wav, /tmp/abs.wav, '', '.', '..', a/b.wav, control "
     "characters, an embedded 00 0D, and a folder ../up to the root of both trees.",
     turnOn(&RecorderSimulator::setHostileNames)},
    {"list-surplus", "n", nullptr, "Fault: each listing announces <n> entries fewer than it sends.",
     size("--list-surplus wants a count up to 65535", &RecorderSimulator::setListSurplus, 0xFFFF)},
    {"long-names", "units", nullptr, "Fault: lengthen every listed file name to <units> UTF-16 units (at most 32754).",
     size("--long-names wants a length up to 32754", &RecorderSimulator::setLongNames,
          SimulatorSettings::MaxNameUnits)},
    {"flood-bad-magic", nullptr, nullptr,
     "Fault: after accepting, send 14-byte packets without the \"ZV\" mark continuously until the client leaves.",
     turnOn(&RecorderSimulator::setFloodBadMagic)},
};

void addOptions(QCommandLineParser &parser)
{
    for (const SimOption &entry : Options) {
        QCommandLineOption option(QLatin1String(entry.name), QString::fromUtf8(entry.help));
        if (entry.valueName)
            option.setValueName(QLatin1String(entry.valueName));
        if (entry.defaultValue)
            option.setDefaultValue(QLatin1String(entry.defaultValue));
        parser.addOption(option);
    }
}

// Hands each option's values to its setter in the order given (so the last
// one counts), a default when the option is not given; the first complaint.
QString applyOptions(const QCommandLineParser &parser, Setup &setup)
{
    for (const SimOption &entry : Options) {
        const QString name = QLatin1String(entry.name);
        QStringList values;
        if (entry.valueName)
            values = parser.values(name); // the default when not given
        else if (parser.isSet(name))
            values << QString();
        for (const QString &value : qAsConst(values)) {
            const QString complaint = entry.set(setup, value);
            if (!complaint.isEmpty())
                return complaint;
        }
    }
    return QString();
}

// The demo trees (asked for, or when no tree is given), then the given ones.
QString prepareTrees(Setup &setup)
{
    if (setup.demo || (!setup.musicRoot && !setup.mtrRoot)) {
        if (!setup.simulator.useDemoTrees(setup.demoDirectory, setup.demoOptions))
            return QStringLiteral("cannot create the demo trees");
    } else if (setup.demoAdditions) {
        qCWarning(lcSim) << "sim: --big-file and --many-files only add to the demo tree; ignored";
    }
    if (setup.musicRoot)
        setup.simulator.setMusicRoot(*setup.musicRoot);
    if (setup.mtrRoot)
        setup.simulator.setMtrRoot(*setup.mtrRoot);
    return QString();
}

// The faults that take more than one option: --split with its pause,
// --drop-after with its mode.
QString armCombinedFaults(Setup &setup)
{
    if (setup.splitBytes) {
        const qint64 pause = parseSize(setup.splitPause);
        if (pause < 0)
            return QStringLiteral("--split and --split-pause want numbers");
        setup.simulator.setPacketSplit(clampedToInt(*setup.splitBytes), clampedToInt(pause));
    }
    if (setup.dropAfter) {
        const QString modeText = setup.dropMode.toLower();
        RecorderSimulator::DropMode dropMode = RecorderSimulator::DropMode::Reset;
        if (modeText == QLatin1String("close"))
            dropMode = RecorderSimulator::DropMode::Close;
        else if (modeText == QLatin1String("silent"))
            dropMode = RecorderSimulator::DropMode::Silent;
        else if (modeText != QLatin1String("reset"))
            return QStringLiteral("--drop-mode is reset, close or silent");
        setup.simulator.setDropAfter(*setup.dropAfter, dropMode, setup.dropEverySession);
    }
    return QString();
}

constexpr int ExitUsage = 2;

int fail(const QString &message)
{
    qCCritical(lcSim).noquote() << "sim:" << message;
    return ExitUsage;
}

// Listens where asked and says so; the exit code when it cannot, else 0.
int listen(Setup &setup)
{
    const QHostAddress address(setup.address);
    bool portOk = false;
    const uint port = setup.port.toUInt(&portOk);
    if (address.isNull() || !portOk || port > 0xFFFF)
        return fail(QStringLiteral("bad --address or --port"));
    if (!address.isLoopback())
        qCWarning(lcSim).noquote() << "sim: listening on" << address.toString() << "which is not a loopback address";
    if (!setup.simulator.listen(address, quint16(port)))
        return 1;
    qCInfo(lcSim).noquote() << "sim: listening on" << address.toString() + QLatin1Char(':') + QString::number(port);
    qCInfo(lcSim).noquote() << "sim: music tree:" << setup.simulator.musicRoot();
    qCInfo(lcSim).noquote() << "sim: MTR tree:  " << setup.simulator.mtrRoot();
    return 0;
}

#ifdef Q_OS_UNIX
// Ctrl-C and SIGTERM end the event loop, so a scratch demo tree is removed.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

void quitOnSignals(QCoreApplication *app)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}
#endif
} // namespace

int main(int argc, char *argv[])
{
    setupMessageLog();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zv-recorder-sim"));
    QCoreApplication::setApplicationVersion(ApplicationVersion);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    // -V as zv-transfer and the window take it (-v is zv-transfer's --verbose).
    parser.addOption(QCommandLineOption({QStringLiteral("V"), QStringLiteral("version")},
                                        QStringLiteral("Displays version information.")));
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        return fail(parserError(parser, app.arguments()));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));

    Setup setup;
    QString complaint = applyOptions(parser, setup);
    if (complaint.isEmpty())
        complaint = armCombinedFaults(setup);
    if (complaint.isEmpty())
        complaint = prepareTrees(setup);
    if (!complaint.isEmpty())
        return fail(complaint);
    if (const int code = listen(setup))
        return code;

#ifdef Q_OS_UNIX
    quitOnSignals(&app);
#endif
    return app.exec();
}
