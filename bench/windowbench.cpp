// The window under load, offscreen (QT_QPA_PLATFORM=offscreen unless set),
// against a running recorder simulator, driven through its widgets as a user
// would. Runs on a scratch XDG_CONFIG_HOME whose settings name the recorder.
//
//   zv-bench-window download --host 127.0.0.64 --dest DIR [--name BIG_FILE.WAV]
//     Ticks the recording, presses download, picks DIR in the folder chooser
//     and waits for "1 files completed.". Prints
//       window_download ... seconds=.. mbps=.. lat_p50_ms=.. lat_p99_ms=.. lat_max_ms=.. started_shown=1
//       final_count_shown=1 completed_shown=1 gui_cpu_s=.. cpu_s=.. maxrss_kb=.. ok=1
//     seconds: from accepting the folder chooser to the completed text.
//     lat_*: lateness of a 10 ms timer on the GUI thread while the download
//     runs (each shot's delay beyond its due time).
//     started_shown / final_count_shown: the info line showed
//     "NAME - SIZE bytes" and the detail line "download SIZE / SIZE".
//
//   zv-bench-window folder --host 127.0.0.65 [--folder MANY] [--count 5000] [--save DIR]
//     With --save, DIR is the stored save folder (give the simulator's own
//     MANY folder to have every row already on this computer). Enters the folder (a double click on its row) and waits
//     for a table of
//     --count rows, each with its check box (the check column's state); then
//     sorts by every column both ways. Prints
//       window_folder rows=5000 boxes=5000 marked=.. fill_gui_cpu_ms=.. fill_wall_ms=.. sort_max_ms=.. sort_ms=[..]
//       rss_per_entry_b=.. heap_per_entry_b=.. lat_p99_ms=.. lat_max_ms=.. ok=1
//     fill_gui_cpu_ms: CPU time of the GUI thread from the double click to
//     the filled table painted, the work the view defers to later events
//     included (the protocol's pauses are spent on the worker thread, the GUI
//     thread only waits through them); fill_wall_ms: wall-clock time from
//     the double click to the filled table, pauses and transfer included.
//     sort_ms: one figure per column and order (name, date, size; ascending,
//     descending): GUI-thread CPU time from setting the header's sort
//     indicator to the sorted table painted, deferred work included. *_per_entry_b: resident memory and heap in use
//     after the fill minus before, per entry (the top folder's few entries are not counted).
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "base/appsettings.h"
#include "base/samenameoption.h"
#include "base/waituntil.h"
#include "ui/mainwindow.h"

namespace {
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double processCpuSeconds(long *maxRssKb = nullptr)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (maxRssKb)
        *maxRssKb = usage.ru_maxrss;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}

qint64 heapInUse()
{
    return qint64(mallinfo2().uordblks);
}

// A 10 ms timer on the GUI thread that records how late each shot comes.
class LatencyProbe : public QObject
{
public:
    static constexpr int IntervalMs = 10;
    void start()
    {
        samples.clear();
        running = true;
        arm();
    }
    void stop() { running = false; }
    double percentile(double p) const
    {
        if (samples.empty())
            return 0;
        std::vector<double> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        const size_t at = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
        return sorted[at];
    }
    double maximum() const { return samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end()); }
    size_t count() const { return samples.size(); }

private:
    void arm()
    {
        armed.start();
        QTimer::singleShot(IntervalMs, Qt::PreciseTimer, this, [this] {
            samples.push_back(qMax(0.0, armed.nsecsElapsed() / 1e6 - IntervalMs));
            if (running)
                arm();
        });
    }
    QElapsedTimer armed;
    std::vector<double> samples;
    bool running = false;
};

// Sees every event the GUI thread delivers, so no text a label passes
// through is missed. (notify() also runs on the controller's thread for its
// events; the widgets are read on the GUI thread only.)
class WatchingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    std::function<void()> afterEvent;
    bool notify(QObject *receiver, QEvent *event) override
    {
        const bool result = QApplication::notify(receiver, event);
        if (QThread::currentThread() == thread() && afterEvent)
            afterEvent();
        return result;
    }
};

template<typename T>
T *child(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("zv-bench-window: no widget %s", name);
    return found;
}

int rowOf(QTableView *table, const QString &name)
{
    QAbstractItemModel *model = table->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 1).data().toString() == name)
            return row;
    }
    return -1;
}

// The row's check box: the check column's state, drawn by the view.
bool hasRowBox(QTableView *table, int row)
{
    return table->model()->index(row, 0).data(Qt::CheckStateRole).isValid();
}

// Ticks the row's box as a click on its cell does.
void tickRow(QTableView *table, int row)
{
    const QModelIndex cell = table->model()->index(row, 0);
    table->model()->setData(cell, Qt::Checked, Qt::CheckStateRole);
}

bool waitForListing(MainWindow *window, int timeoutMs)
{
    auto *table = child<QTableView>(window, "filelistTableView");
    auto *download = child<QPushButton>(window, "downloadButton");
    return waitUntil([&] { return table->model()->rowCount() > 0 && download->isEnabled(); }, timeoutMs);
}

int runDownload(WatchingApplication &app, MainWindow *window, const QString &name, const QString &dest, int timeoutMs)
{
    auto *table = child<QTableView>(window, "filelistTableView");
    auto *info = child<QLabel>(window, "labelInfo");
    auto *detail = child<QLabel>(window, "labelDetail");
    if (!waitForListing(window, timeoutMs)) {
        std::fprintf(stderr, "zv-bench-window: no listing\n");
        return 3;
    }
    const int row = rowOf(table, name);
    if (row < 0 || !hasRowBox(table, row)) {
        std::fprintf(stderr, "zv-bench-window: no %s with a check box\n", qPrintable(name));
        return 3;
    }
    tickRow(table, row);

    const QString completed = QStringLiteral("1 files completed.");
    QString started;   // "NAME - SIZE bytes" once seen
    QString lastCount; // the last "download X / Y" the detail line showed
    QString lastInfo = info->text();
    QString lastDetail = detail->text();
    bool done = false;
    QElapsedTimer clock;
    qint64 transferNs = 0;
    app.afterEvent = [&] {
        const QString infoText = info->text();
        if (!infoText.isSharedWith(lastInfo)) {
            lastInfo = infoText;
            if (infoText.startsWith(name + QStringLiteral(" - ")))
                started = infoText;
            if (infoText == completed && !done) {
                transferNs = clock.nsecsElapsed();
                done = true;
            }
        }
        const QString detailText = detail->text();
        if (!detailText.isSharedWith(lastDetail)) {
            lastDetail = detailText;
            if (detailText.startsWith(QStringLiteral("download ")))
                lastCount = detailText;
        }
    };

    LatencyProbe probe;
    auto *chooserTimer = new QTimer(&app);
    chooserTimer->setInterval(5);
    QObject::connect(chooserTimer, &QTimer::timeout, &app, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *chooser = qobject_cast<QFileDialog *>(widget);
            if (chooser && chooser->isVisible()) {
                chooserTimer->stop();
                chooser->setDirectory(dest);
                probe.start();
                clock.start();
                static_cast<QDialog *>(chooser)->accept();
                return;
            }
        }
    });
    chooserTimer->start();
    const double cpuBefore = processCpuSeconds();
    const double guiBefore = threadCpuSeconds();
    child<QPushButton>(window, "downloadButton")->click();
    waitUntil([&] { return done; }, timeoutMs);
    probe.stop();
    const double guiCpu = threadCpuSeconds() - guiBefore;
    const double cpu = processCpuSeconds() - cpuBefore;
    app.afterEvent = nullptr;

    const QFileInfo output(QDir(dest).filePath(name));
    const qint64 bytes = output.size();
    const QString sizeText = QString::number(bytes);
    const bool startedShown = started == name + QStringLiteral(" - ") + sizeText + QStringLiteral(" bytes");
    const bool finalShown = lastCount == QStringLiteral("download %1 / %1").arg(sizeText);
    long maxRss = 0;
    processCpuSeconds(&maxRss);
    const double seconds = transferNs / 1e9;
    const bool ok = done && startedShown && finalShown;
    std::printf("window_download name=%s bytes=%lld seconds=%.3f mbps=%.1f lat_p50_ms=%.2f lat_p99_ms=%.2f "
                "lat_max_ms=%.2f lat_samples=%zu started_shown=%d final_count_shown=%d completed_shown=%d "
                "gui_cpu_s=%.3f cpu_s=%.3f maxrss_kb=%ld ok=%d\n",
                qPrintable(name), bytes, seconds, seconds > 0 ? bytes / seconds / 1e6 : 0.0, probe.percentile(0.5),
                probe.percentile(0.99), probe.maximum(), probe.count(), startedShown, finalShown, done, guiCpu, cpu,
                maxRss, ok ? 1 : 0);
    return ok ? 0 : 1;
}

// Lets the GUI thread run what is pending (deferred layouts and geometry
// updates included) for a while, then paints the table. Measured in the GUI
// thread's CPU time, the waiting costs next to nothing.
void settle(QTableView *table)
{
    waitUntil([] { return false; }, 100);
    table->viewport()->repaint();
}

int runFolder(MainWindow *window, const QString &folder, int count, int timeoutMs)
{
    auto *table = child<QTableView>(window, "filelistTableView");
    QAbstractItemModel *model = table->model();
    if (!waitForListing(window, timeoutMs)) {
        std::fprintf(stderr, "zv-bench-window: no listing\n");
        return 3;
    }
    const int row = rowOf(table, folder);
    if (row < 0) {
        std::fprintf(stderr, "zv-bench-window: no folder %s\n", qPrintable(folder));
        return 3;
    }
    // Settle, so that the figures below hold only the folder's cost.
    waitUntil([] { return false; }, 300);
    table->viewport()->repaint();
    const int before = model->rowCount();
    const qint64 rssBefore = residentBytes();
    const qint64 heapBefore = heapInUse();

    LatencyProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    const double guiBefore = threadCpuSeconds();
    QMetaObject::invokeMethod(window, "on_filelistTableView_doubleClicked", Q_ARG(QModelIndex, model->index(row, 1)));
    const bool filled = waitUntil(
        [&] {
            const int rows = model->rowCount();
            return rows == count && hasRowBox(table, 0) && hasRowBox(table, rows - 1)
                && child<QPushButton>(window, "downloadButton")->isEnabled();
        },
        timeoutMs);
    const double fillWallMs = clock.nsecsElapsed() / 1e6;
    // What the view defers to later events (layouts, header geometry)
    // belongs to the fill: let it run, then paint.
    settle(table);
    const double fillCpuMs = (threadCpuSeconds() - guiBefore) * 1000;
    probe.stop();
    int boxes = 0;
    int marked = 0; // rows already on this computer (their tooltip says where)
    for (int r = 0; r < model->rowCount(); ++r) {
        boxes += hasRowBox(table, r) ? 1 : 0;
        marked += model->index(r, 1).data(Qt::ToolTipRole).toString().isEmpty() ? 0 : 1;
    }
    const qint64 rssAfter = residentBytes();
    const qint64 heapAfter = heapInUse();
    const int added = qMax(1, model->rowCount() - before);

    QHeaderView *header = table->horizontalHeader();
    QStringList sortTimes;
    double sortMax = 0;
    bool sorted = true;
    for (int column = 1; column <= 3; ++column) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            const double sortBefore = threadCpuSeconds();
            header->setSortIndicator(column, order);
            settle(table);
            const double ms = (threadCpuSeconds() - sortBefore) * 1000;
            sortMax = qMax(sortMax, ms);
            sortTimes << QString::number(ms, 'f', 1);
            sorted = sorted && header->sortIndicatorSection() == column;
        }
    }
    const bool ok = filled && boxes == count && sorted;
    std::printf("window_folder rows=%d boxes=%d marked=%d fill_gui_cpu_ms=%.1f fill_wall_ms=%.1f sort_max_ms=%.1f "
                "sort_ms=[%s] rss_per_entry_b=%lld heap_per_entry_b=%lld lat_p99_ms=%.2f lat_max_ms=%.2f ok=%d\n",
                model->rowCount(), boxes, marked, fillCpuMs, fillWallMs, sortMax,
                qPrintable(sortTimes.join(QLatin1Char(','))), (rssAfter - rssBefore) / added,
                (heapAfter - heapBefore) / added, probe.percentile(0.99), probe.maximum(), ok ? 1 : 0);
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings live in a scratch folder; set before the
    // application reads its environment.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    WatchingApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument("mode", "download or folder");
    const QCommandLineOption hostOption("host", "Recorder address.", "host", "127.0.0.64");
    const QCommandLineOption destOption("dest", "download: folder to save into (created).", "dir");
    const QCommandLineOption nameOption("name", "download: recording in the top folder.", "name", "BIG_FILE.WAV");
    const QCommandLineOption folderOption("folder", "folder: the folder to enter.", "name", "MANY");
    const QCommandLineOption countOption("count", "folder: its number of entries.", "n", "5000");
    const QCommandLineOption timeoutOption("timeout", "Seconds before giving up.", "s", "120");
    const QCommandLineOption saveOption("save", "folder: the stored save folder.", "dir");
    parser.addOptions({hostOption, destOption, nameOption, folderOption, countOption, timeoutOption, saveOption});
    parser.process(app);
    const QString mode = parser.positionalArguments().value(0);
    const int timeoutMs = parser.value(timeoutOption).toInt() * 1000;

    QString dest;
    if (mode == QLatin1String("download")) {
        if (!parser.isSet(destOption)) {
            std::fprintf(stderr, "zv-bench-window: download needs --dest\n");
            return 2;
        }
        dest = QDir(parser.value(destOption)).absolutePath();
        QDir().mkpath(dest);
    } else if (mode != QLatin1String("folder")) {
        std::fprintf(stderr, "zv-bench-window: mode is download or folder\n");
        return 2;
    }
    {
        AppSettings store;
        store.setSSID(parser.value(hostOption));
        if (parser.isSet(saveOption))
            store.setSaveDirectory(QDir(parser.value(saveOption)).absolutePath());
        else
            store.setSaveDirectory(dest.isEmpty() ? QDir::tempPath() : dest);
        store.setSameOption(SaveOverwrite);
    }

    int result;
    {
        MainWindow window;
        window.show();
        if (mode == QLatin1String("download"))
            result = runDownload(app, &window, parser.value(nameOption), dest, timeoutMs);
        else
            result = runFolder(&window, parser.value(folderOption), parser.value(countOption).toInt(), timeoutMs);
    }
    return result;
}
