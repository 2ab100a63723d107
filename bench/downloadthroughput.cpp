// Headless download throughput: drives a ZVController on its worker thread
// the way zv-transfer does (connect, wait for the first listing, download one
// recording of the top folder into a folder) against a running recorder
// simulator, and prints one line of figures:
//
//   download name=BIG_FILE.WAV bytes=1073741824 seconds=0.712 mbps=1508.0
//            cpu_s=0.49 cpu_s_per_gb=0.46 transfer_cpu_s=0.47 maxrss_kb=13800
//            progress_signals=32769 ok=1
//
// seconds:        from the download request to downloadFinished (the last
//                 byte written and the file closed); the 500 ms pause after
//                 connecting and the listing are not part of it.
// cpu_s:          user + system CPU of this whole process (getrusage), from
//                 start to exit; cpu_s_per_gb divides it by the bytes / 1e9.
// transfer_cpu_s: the same, counted over the transfer only.
// maxrss_kb:      the process's peak resident set size.
// ok=1:           one downloadStarted with the listed name and size, the
//                 last progress equal to the size, downloadFinished, no error.
//
// Byte counts reach the main thread paced by the controller at zv-transfer's
// rate (progress_signals counts what arrived there). The output file must
// not exist beforehand (use a fresh folder per run); the caller compares it
// with the source.
//
//   zv-bench-download --host 127.0.0.60 --dest DIR [--name BIG_FILE.WAV] [--timeout 120]
//                     [--no-progress]       (diagnosis: no receiver for downloadProgress)
//                     [--queued-progress]   (diagnosis: one queued call per data packet)
//
// Debug logging follows QT_LOGGING_RULES as in the program; the benchmark
// script runs it with "zv.*.debug=false".
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

#include "base/downloadfileinfo.h"
#include "base/waituntil.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"

namespace {
// The main thread's waits look at their clock this often (on top of every
// event that arrives): few wake-ups, so cpu_s stays the download's.
constexpr int CheckMs = 20;

double cpuSeconds(long *maxRssKb = nullptr)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (maxRssKb)
        *maxRssKb = usage.ru_maxrss;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption hostOption("host", "Recorder address.", "host", "127.0.0.60");
    const QCommandLineOption destOption("dest", "Folder to save into (created).", "dir");
    const QCommandLineOption nameOption("name", "Recording in the top folder.", "name", "BIG_FILE.WAV");
    const QCommandLineOption timeoutOption("timeout", "Seconds before giving up.", "s", "120");
    const QCommandLineOption noProgressOption("no-progress",
                                              "Diagnosis: do not connect downloadProgress to the main thread.");
    const QCommandLineOption queuedProgressOption(
        "queued-progress", "Diagnosis: receive downloadProgress as one queued call per data packet.");
    parser.addOptions({hostOption, destOption, nameOption, timeoutOption, noProgressOption, queuedProgressOption});
    parser.process(app);
    if (!parser.isSet(destOption)) {
        std::fprintf(stderr, "zv-bench-download: --dest is required\n");
        return 2;
    }
    const QString dest = QDir(parser.value(destOption)).absolutePath();
    QDir().mkpath(dest);
    const QString wanted = parser.value(nameOption);
    const int timeoutMs = parser.value(timeoutOption).toInt() * 1000;

    // Paced as in zv-transfer.
    const bool paced = !parser.isSet(noProgressOption) && !parser.isSet(queuedProgressOption);
    auto *host = new ControllerHost(paced ? 100 : ControllerHost::EveryCount);
    ZVController *controller = host->controller();

    bool connected = false;
    int listings = 0;
    int errors = 0;
    int started = 0;
    QString startedName;
    qulonglong startedSize = 0;
    qulonglong lastProgress = 0;
    qint64 progressSignals = 0;
    bool finished = false;
    QElapsedTimer clock;
    qint64 transferNs = 0;

    QObject::connect(controller, &ZVController::networkConnected, &app, [&] { connected = true; });
    QObject::connect(controller, &ZVController::getFileListFinished, &app, [&] { ++listings; });
    QObject::connect(controller, &ZVController::error, &app, [&](AppErrorCode code, int p1, int p2) {
        ++errors;
        std::fprintf(stderr, "zv-bench-download: error %d (%d, %d)\n", int(code), p1, p2);
    });
    QObject::connect(controller, &ZVController::downloadStarted, &app, [&](const QString &name, qulonglong size) {
        ++started;
        startedName = name;
        startedSize = size;
    });
    const auto countProgress = [&](qulonglong bytes) {
        ++progressSignals;
        lastProgress = bytes;
    };
    if (!parser.isSet(noProgressOption))
        QObject::connect(controller, &ZVController::downloadProgress, &app, countProgress);
    QObject::connect(controller, &ZVController::downloadFinished, &app, [&] {
        transferNs = clock.nsecsElapsed();
        finished = true;
    });

    controller->setSSID(parser.value(hostOption));
    controller->setSameOption(SaveOverwrite);
    host->start();
    if (!waitUntil([&] { return connected && listings > 0; }, timeoutMs, CheckMs)) {
        std::fprintf(stderr, "zv-bench-download: no listing from %s\n", qPrintable(parser.value(hostOption)));
        return 3;
    }

    int index = -1;
    qint64 size = 0;
    DownloadFileInfo info;
    for (int row = 0; controller->getFileInfo(row, &info); ++row) {
        if (!info.isFolder && info.name == wanted) {
            index = info.index;
            size = info.size;
        }
    }
    if (index < 0) {
        std::fprintf(stderr, "zv-bench-download: no %s in the top folder\n", qPrintable(wanted));
        return 3;
    }

    controller->setDownloadFiles(dest, {index});
    const double cpuBefore = cpuSeconds();
    clock.start();
    QMetaObject::invokeMethod(controller, &ZVController::requestDownloadFiles, Qt::QueuedConnection);
    waitUntil([&] { return finished || errors > 0; }, timeoutMs, CheckMs);
    const double transferCpu = cpuSeconds() - cpuBefore;

    delete host;

    long maxRss = 0;
    const double cpu = cpuSeconds(&maxRss);
    const double seconds = transferNs / 1e9;
    const bool ok = finished && errors == 0 && started == 1 && startedName == wanted && startedSize == qulonglong(size)
        && (parser.isSet(noProgressOption) || lastProgress == qulonglong(size));
    std::printf("download name=%s bytes=%lld seconds=%.3f mbps=%.1f cpu_s=%.3f cpu_s_per_gb=%.3f "
                "transfer_cpu_s=%.3f maxrss_kb=%ld progress_signals=%lld ok=%d\n",
                qPrintable(wanted), size, seconds, seconds > 0 ? size / seconds / 1e6 : 0.0, cpu,
                size > 0 ? cpu / (size / 1e9) : 0.0, transferCpu, maxRss, progressSignals, ok ? 1 : 0);
    return ok ? 0 : 1;
}
