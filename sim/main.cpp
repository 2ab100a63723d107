// zv-recorder-sim: the recorder simulator as a program, for trying the
// client by hand, demos and throughput measurements.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <climits>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

#include "base/appconstants.h"
#include "base/logging.h"
#include "sim/recordersimulator.h"
#include "sim/simlogging.h"

namespace {
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
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the recorder end of the ZV file-transfer link: serves a music tree and a multitrack (MTR)\n"
        "tree over TCP, one client at a time, and injects faults on request.\n"
        "A connection that comes while a client is served is held, unanswered, until that client leaves.\n"
        "Each connection starts at the root of the current record mode's tree; the record mode survives\n"
        "reconnections. Unknown requests get no answer.\n"
        "Sizes take K, M or G suffixes (binary). Without --music/--mtr the demo trees are served."));
    parser.addHelpOption();
    parser.addVersionOption();

    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                           QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port (default 8010)."),
                                        QStringLiteral("port"), QStringLiteral("8010"));
    const QCommandLineOption musicOption(QStringLiteral("music"),
                                         QStringLiteral("Directory served as the music tree (record mode 0)."),
                                         QStringLiteral("dir"));
    const QCommandLineOption mtrOption(QStringLiteral("mtr"),
                                       QStringLiteral("Directory served as the multitrack tree (record mode 1)."),
                                       QStringLiteral("dir"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
                                        QStringLiteral("Serve the generated demo trees (in a scratch directory "
                                                       "removed on exit, unless --demo-dir is given)."));
    const QCommandLineOption demoDirOption(QStringLiteral("demo-dir"),
                                           QStringLiteral("Generate the demo trees into <dir>/MUSIC and <dir>/MTR "
                                                          "and keep them (implies --demo)."),
                                           QStringLiteral("dir"));
    const QCommandLineOption bigFileOption(QStringLiteral("big-file"),
                                           QStringLiteral("Add MUSIC/BIG_FILE.WAV of <size> bytes to the demo tree "
                                                          "(sparse, deterministic; at most 4G-1)."),
                                           QStringLiteral("size"));
    const QCommandLineOption manyFilesOption(QStringLiteral("many-files"),
                                             QStringLiteral("Add the folder MUSIC/MANY with <n> small WAV files to "
                                                            "the demo tree (at most 65535)."),
                                             QStringLiteral("n"));
    const QCommandLineOption modeOption(QStringLiteral("mode"),
                                        QStringLiteral("Initial record mode: 0 music, 1 multitrack (default 0)."),
                                        QStringLiteral("mode"), QStringLiteral("0"));
    const QCommandLineOption listPayloadOption(QStringLiteral("list-payload"),
                                               QStringLiteral("Most entry bytes per listing packet (default 4096); "
                                                              "entries are never split."),
                                               QStringLiteral("bytes"), QStringLiteral("4096"));
    const QCommandLineOption chunkOption(QStringLiteral("chunk"),
                                         QStringLiteral("Payload bytes per data packet, 1..65521 (default 32K)."),
                                         QStringLiteral("bytes"), QStringLiteral("32K"));
    const QCommandLineOption windowOption(QStringLiteral("send-window"),
                                          QStringLiteral("Most bytes kept queued towards the socket during a "
                                                         "download (default 2M)."),
                                          QStringLiteral("bytes"), QStringLiteral("2M"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Log every request and answer with its header in hex "
                                                          "(data packets: the first, the last and faulty ones)."));
    const QCommandLineOption splitOption(QStringLiteral("split"),
                                         QStringLiteral("Fault: send every packet in pieces of <bytes> bytes."),
                                         QStringLiteral("bytes"));
    const QCommandLineOption splitPauseOption(QStringLiteral("split-pause"),
                                              QStringLiteral("Pause between two pieces of --split (default 0)."),
                                              QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption throttleOption(QStringLiteral("throttle"),
                                            QStringLiteral("Fault: limit everything sent to <rate> bytes per "
                                                           "second."),
                                            QStringLiteral("rate"));
    const QCommandLineOption corruptOption(QStringLiteral("corrupt-check"),
                                           QStringLiteral("Fault: wrong check value (+1) in data packet <k> of "
                                                          "every download (from 0)."),
                                           QStringLiteral("k"));
    const QCommandLineOption wrongOffsetOption(QStringLiteral("wrong-offset"),
                                               QStringLiteral("Fault: offset field one too high in data packet "
                                                              "<k>."),
                                               QStringLiteral("k"));
    const QCommandLineOption wrongLengthOption(QStringLiteral("wrong-length"),
                                               QStringLiteral("Fault: length field one short in data packet <k> "
                                                              "(the payload is sent whole)."),
                                               QStringLiteral("k"));
    const QCommandLineOption extraOption(QStringLiteral("extra-bytes"),
                                         QStringLiteral("Fault: send <n> zero bytes more than the listed size."),
                                         QStringLiteral("n"));
    const QCommandLineOption sequenceOption(QStringLiteral("bad-list-sequence"),
                                            QStringLiteral("Fault: number the first listing of each connection "
                                                           "from 1 instead of 0."));
    const QCommandLineOption foreignOption(QStringLiteral("foreign-packets"),
                                           QStringLiteral("Fault: send a kind 0x77 packet (length field 4, no "
                                                          "payload) and a code 0x7E packet (4 bytes) before each "
                                                          "answer and each data packet."));
    const QCommandLineOption dropOption(QStringLiteral("drop-after"),
                                        QStringLiteral("Fault: end the connection once <n> bytes were sent (once, "
                                                       "unless --drop-every-session)."),
                                        QStringLiteral("n"));
    const QCommandLineOption dropModeOption(QStringLiteral("drop-mode"),
                                            QStringLiteral("How --drop-after ends it: reset (RST), close (FIN) or "
                                                           "silent (send nothing more, keep the socket open). "
                                                           "Default reset."),
                                            QStringLiteral("mode"), QStringLiteral("reset"));
    const QCommandLineOption dropEveryOption(QStringLiteral("drop-every-session"),
                                             QStringLiteral("Fire --drop-after in every connection."));
    const QCommandLineOption muteOption(QStringLiteral("mute"),
                                        QStringLiteral("Fault: never answer the request with this code (0x10, "
                                                       "0x21, ... or 'mode'); repeatable."),
                                        QStringLiteral("code"));
    const QCommandLineOption hostileOption(QStringLiteral("hostile-names"),
                                           QStringLiteral("Fault: add entries named ../evil.wav, ..\\evil.wav, "
                                                          "/tmp/abs.wav, '', '.', '..', a/b.wav, control "
                                                          "characters, an embedded 00 0D, and a folder ../up to "
                                                          "the root of both trees."));
    const QCommandLineOption surplusOption(QStringLiteral("list-surplus"),
                                           QStringLiteral("Fault: each listing announces <n> entries fewer than "
                                                          "it sends."),
                                           QStringLiteral("n"));
    const QCommandLineOption longNamesOption(QStringLiteral("long-names"),
                                             QStringLiteral("Fault: lengthen every listed file name to <units> UTF-16 "
                                                            "units (at most 32754)."),
                                             QStringLiteral("units"));
    parser.addOptions({surplusOption, longNamesOption});
    const QCommandLineOption floodOption(QStringLiteral("flood-bad-magic"),
                                         QStringLiteral("Fault: after accepting, send 14-byte packets without the "
                                                        "\"ZV\" mark continuously until the client leaves."));
    parser.addOptions({addressOption, portOption, musicOption, mtrOption, demoOption, demoDirOption, bigFileOption,
                       manyFilesOption, modeOption, listPayloadOption, chunkOption, windowOption, verboseOption,
                       splitOption, splitPauseOption, throttleOption, corruptOption, wrongOffsetOption,
                       wrongLengthOption, extraOption, sequenceOption, foreignOption, dropOption, dropModeOption,
                       dropEveryOption, muteOption, hostileOption, floodOption});
    parser.process(app);

    auto fail = [](const QString &message) {
        qCCritical(lcSim).noquote() << "sim:" << message;
        return 2;
    };
    auto number = [&](const QCommandLineOption &option, qint64 *value) {
        *value = parseSize(parser.value(option));
        return *value >= 0;
    };

    RecorderSimulator simulator;
    qint64 value = 0;

    const bool demo = parser.isSet(demoOption) || parser.isSet(demoDirOption)
        || (!parser.isSet(musicOption) && !parser.isSet(mtrOption));
    if (demo) {
        DemoTree::Options options;
        if (parser.isSet(bigFileOption)) {
            if (!number(bigFileOption, &value) || value > DemoTree::MaxBigFileSize)
                return fail(QStringLiteral("--big-file wants a size up to 4G-1"));
            options.bigFileSize = value;
        }
        if (parser.isSet(manyFilesOption)) {
            if (!number(manyFilesOption, &value) || value > DemoTree::MaxManyFiles)
                return fail(QStringLiteral("--many-files wants a count up to 65535"));
            options.manyFiles = int(value);
        }
        if (!simulator.useDemoTrees(parser.value(demoDirOption), options))
            return fail(QStringLiteral("cannot create the demo trees"));
    } else if (parser.isSet(bigFileOption) || parser.isSet(manyFilesOption)) {
        qCWarning(lcSim) << "sim: --big-file and --many-files only add to the demo tree; ignored";
    }
    if (parser.isSet(musicOption))
        simulator.setMusicRoot(parser.value(musicOption));
    if (parser.isSet(mtrOption))
        simulator.setMtrRoot(parser.value(mtrOption));

    simulator.setRecordMode(parser.value(modeOption).toInt());
    if (!number(listPayloadOption, &value))
        return fail(QStringLiteral("--list-payload wants a size"));
    simulator.setMaxListPayload(int(qMin<qint64>(value, INT_MAX)));
    if (!number(chunkOption, &value))
        return fail(QStringLiteral("--chunk wants a size"));
    simulator.setChunkSize(int(qMin<qint64>(value, INT_MAX)));
    if (!number(windowOption, &value))
        return fail(QStringLiteral("--send-window wants a size"));
    simulator.setSendWindow(value);
    simulator.setLogExchanges(parser.isSet(verboseOption));

    if (parser.isSet(splitOption)) {
        qint64 pause = 0;
        if (!number(splitOption, &value) || !number(splitPauseOption, &pause))
            return fail(QStringLiteral("--split and --split-pause want numbers"));
        simulator.setPacketSplit(int(qMin<qint64>(value, INT_MAX)), int(qMin<qint64>(pause, INT_MAX)));
    }
    if (parser.isSet(throttleOption)) {
        if (!number(throttleOption, &value))
            return fail(QStringLiteral("--throttle wants a rate"));
        simulator.setThrottle(value);
    }
    const std::pair<const QCommandLineOption *, void (RecorderSimulator::*)(int)> packetFaults[] = {
        {&corruptOption, &RecorderSimulator::setCorruptCheckAt},
        {&wrongOffsetOption, &RecorderSimulator::setWrongOffsetAt},
        {&wrongLengthOption, &RecorderSimulator::setWrongLengthAt},
    };
    for (const auto &fault : packetFaults) {
        if (!parser.isSet(*fault.first))
            continue;
        if (!number(*fault.first, &value) || value > INT_MAX)
            return fail(QStringLiteral("--%1 wants a packet number").arg(fault.first->names().constFirst()));
        (simulator.*fault.second)(int(value));
    }
    if (parser.isSet(extraOption)) {
        if (!number(extraOption, &value))
            return fail(QStringLiteral("--extra-bytes wants a size"));
        simulator.setExtraBytes(value);
    }
    simulator.setListSequenceFault(parser.isSet(sequenceOption));
    simulator.setForeignPackets(parser.isSet(foreignOption));
    if (parser.isSet(dropOption)) {
        if (!number(dropOption, &value))
            return fail(QStringLiteral("--drop-after wants a size"));
        const QString modeText = parser.value(dropModeOption).toLower();
        RecorderSimulator::DropMode dropMode = RecorderSimulator::DropMode::Reset;
        if (modeText == QLatin1String("close"))
            dropMode = RecorderSimulator::DropMode::Close;
        else if (modeText == QLatin1String("silent"))
            dropMode = RecorderSimulator::DropMode::Silent;
        else if (modeText != QLatin1String("reset"))
            return fail(QStringLiteral("--drop-mode is reset, close or silent"));
        simulator.setDropAfter(value, dropMode, parser.isSet(dropEveryOption));
    }
    for (const QString &code : parser.values(muteOption)) {
        const int request = parseRequest(code);
        if (request < 0)
            return fail(QStringLiteral("--mute wants a code 0x00..0xff or 'mode', not %1").arg(code));
        simulator.setUnanswered(request);
    }
    simulator.setHostileNames(parser.isSet(hostileOption));
    if (parser.isSet(surplusOption)) {
        if (!number(surplusOption, &value) || value > 0xFFFF)
            return fail(QStringLiteral("--list-surplus wants a count up to 65535"));
        simulator.setListSurplus(int(value));
    }
    if (parser.isSet(longNamesOption)) {
        if (!number(longNamesOption, &value) || value > SimulatorSettings::MaxNameUnits)
            return fail(QStringLiteral("--long-names wants a length up to 32754"));
        simulator.setLongNames(int(value));
    }
    simulator.setFloodBadMagic(parser.isSet(floodOption));

    const QHostAddress address(parser.value(addressOption));
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (address.isNull() || !portOk || port > 0xFFFF)
        return fail(QStringLiteral("bad --address or --port"));
    if (!address.isLoopback())
        qCWarning(lcSim).noquote() << "sim: listening on" << address.toString() << "which is not a loopback address";
    if (!simulator.listen(address, quint16(port)))
        return 1;
    qCInfo(lcSim).noquote() << "sim: listening on" << address.toString() + QLatin1Char(':') + QString::number(port);
    qCInfo(lcSim).noquote() << "sim: music tree:" << simulator.musicRoot();
    qCInfo(lcSim).noquote() << "sim: MTR tree:  " << simulator.mtrRoot();

#ifdef Q_OS_UNIX
    quitOnSignals(&app);
#endif
    return app.exec();
}
