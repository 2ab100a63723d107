// What the main window's suites share: the real window with named access to
// its widgets, a trail of what a widget showed, and the recorder simulator
// with the demo trees on the executable's own loopback address, which is also
// the window's network name. Each suite runs on a scratch XDG_CONFIG_HOME
// (ZV_WINDOW_TEST_MAIN). The folder chooser is answered through the window's
// hook, never as a real dialog (its file-system thread is not ours to race).
#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <functional>
#include <memory>

#include "base/appsettings.h"
#include "base/threadjoin.h"
#include "base/zvrecordmode.h"
#include "protocol/zvcommand.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"
#include "sim/recordersimulator.h"
#include "ui/connectoffwidget.h"
#include "ui/downloadfilemodel.h"
#include "ui/mainwindow.h"
#include "ui/settingdialog.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString Advice = QStringLiteral("Please quit the Application and attempt to re-connect to the ZV.");

// First poll at once, the controller's 500 ms pause, then the listing.
constexpr int ConnectTimeoutMs = 5000;
// One exchange, including the controller's 1000 ms pauses.
constexpr int ExchangeTimeoutMs = 5000;
constexpr int WatchdogMs = 30000;
const QString SlowFile = QStringLiteral("ZV_0002.WAV"); // about 1.1 s at SlowRate
constexpr qint64 SlowRate = 1024 * 1024;

// Pictures of the window's states go to screenshots/ beside the executable.
inline void shoot(QWidget *window, const QString &name)
{
    const QDir output(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(output.mkpath(QStringLiteral(".")));
    QVERIFY(window->grab().save(output.filePath(name + QStringLiteral(".png"))));
}

// Every distinct value a widget shows, read after each event the
// application delivers: every queued slot call into the window is one event,
// so no state the window passes through is missed, however short. Also how
// long ago the value last changed.
class Trail
{
public:
    explicit Trail(std::function<QString()> read)
        : read(std::move(read))
    {
        sample();
        all.append(this);
    }
    ~Trail() { all.removeOne(this); }

    static inline QList<Trail *> all;
    QStringList values;
    QElapsedTimer sinceChange;

    void sample()
    {
        if (const QString value = read(); values.isEmpty() || values.last() != value) {
            values << value;
            sinceChange.start();
        }
    }

private:
    std::function<QString()> read;
};

class TrailApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        const bool result = QApplication::notify(receiver, event);
        // Events of the worker thread pass here too; the widgets are read on
        // the GUI thread only.
        if (QThread::currentThread() == thread()) {
            for (Trail *trail : qAsConst(Trail::all))
                trail->sample();
        }
        return result;
    }
};

// The real window; its folder chooser answers with `chosen` at once and
// remembers where it was asked to start, its question before stopping a
// download answers `stopAnswer`, and its desktop notices are kept.
class TestWindow : public MainWindow
{
public:
    QString chosen;
    QString startedIn;
    bool stopAnswer = false;
    int stopAsked = 0;
    QStringList announced;

protected:
    QString chooseSaveDirectory(const QString &startDirectory) override
    {
        startedIn = startDirectory;
        return chosen;
    }
    bool confirmStopDownload() override { return ++stopAsked && stopAnswer; }
    void notifyDesktop(const QString &body) override { announced << body; }
};

// The window with named access to its widgets.
class Window
{
    std::unique_ptr<TestWindow> window{new TestWindow};
    QThread *const controllerThread = window->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);

public:
    Window()
    {
        if (!controllerThread)
            qFatal("the window has no controller thread");
        watchThreadEnd(controllerThread);
        window->show();
    }
    // The window stops its controller's thread as it goes; stopping it here
    // first lets ThreadSanitizer see that join (base/threadjoin.h).
    ~Window() { stopThread(controllerThread); }

    TestWindow *operator->() const { return window.get(); }
    TestWindow *get() const { return window.get(); }
    DownloadFileModel *fileModel() const { return qobject_cast<DownloadFileModel *>(model()); }

    template<typename T>
    T *widget(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QString text(const char *name) const { return widget<QLabel>(name)->text(); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(name); }
    QTableView *table() const { return widget<QTableView>("filelistTableView"); }
    QAbstractItemModel *model() const { return table()->model(); }
    ConnectOffWidget *overlay() const { return window->findChild<ConnectOffWidget *>(); }

    QStringList names() const
    {
        QStringList list;
        for (int row = 0; row < model()->rowCount(); ++row)
            list << model()->index(row, 1).data().toString();
        return list;
    }
    int rowOf(const QString &name) const { return names().indexOf(name); }

    // The row check boxes as the view draws them; the names ticked, sorted.
    bool isTicked(int row) const { return model()->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked; }
    QStringList ticked() const
    {
        QStringList list;
        for (int row = 0; row < model()->rowCount(); ++row) {
            if (isTicked(row))
                list << model()->index(row, 1).data().toString();
        }
        list.sort();
        return list;
    }

    // A click on the row's name, or its check cell, scrolled into view first.
    void clickRow(int row, int column = DownloadFileModel::ColumnName) const
    {
        const QModelIndex cell = model()->index(row, column);
        table()->scrollTo(cell);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell).center());
    }
    void tickRow(int row) const { clickRow(row, DownloadFileModel::ColumnCheck); }
    void tick(const QString &name) const { tickRow(rowOf(name)); }
    void clickHeader(int column) const
    {
        QHeaderView *header = table()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    // The standby routine's enabled set (Music/MTR aside).
    bool isStandby() const
    {
        return button("settingButton")->isEnabled() && button("pushButtonReturn")->isEnabled()
            && button("downloadButton")->isEnabled() && widget<QCheckBox>("checkBoxAll")->isEnabled()
            && table()->isEnabled() && !button("cancelButton")->isEnabled();
    }
    bool isSearching() const
    {
        return text("labelTarget") == QLatin1String("Searching...") && overlay()->isVisible()
            && button("settingButton")->isEnabled() && !button("downloadButton")->isEnabled() && !table()->isEnabled()
            && !button("pushButtonMusic")->isEnabled();
    }

    // Opens the settings dialog, fills in `ssid` and closes it with `close`
    // (the modal dialog is answered from inside its own event loop).
    void settings(const QString &ssid, QDialogButtonBox::StandardButton close = QDialogButtonBox::Ok) const
    {
        QTimer::singleShot(0, [=] {
            auto *dialog = window->findChild<SettingDialog *>();
            dialog->findChild<QLineEdit *>(QStringLiteral("lineEditSSID"))->setText(ssid);
            dialog->findChild<QDialogButtonBox *>()->button(close)->click();
        });
        button("settingButton")->click();
    }

    // Presses download and picks `directory` in the folder chooser; returns
    // the folder the chooser started in.
    QString download(const QString &directory) const
    {
        window->chosen = directory;
        window->startedIn.clear();
        button("downloadButton")->click();
        return window->startedIn;
    }
};

// The recorder simulator with the demo trees, and settings that name it.
// The slots of a suite call prepare() (initTestCase), reset() (init), done()
// (cleanup) and dropWindow() (cleanupTestCase).
class WindowFixture
{
protected:
    RecorderSimulator simulator;
    QTemporaryDir scratch;
    QString saveDirectory;

    void prepare()
    {
        QVERIFY(scratch.isValid());
        QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
        // Beside the demo content: a lower-case MP3 name (the detail picture is
        // chosen case-sensitively) and an empty recording.
        QVERIFY(QFile::copy(source(QStringLiteral("ZV_0004.MP3")), source(QStringLiteral("live.mp3"))));
        QVERIFY(QFile(source(QStringLiteral("SILENT.WAV"))).open(QIODevice::WriteOnly));
        QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
    }

    void reset()
    {
        if (sharedFor != QTest::currentTestFunction())
            dropWindow();
        simulator.clearFaults();
        simulator.setThrottle(0);
        if (!shared)
            simulator.setRecordMode(RecordModeMusic);
        saveDirectory = scratch.filePath(QStringLiteral("start-%1").arg(QTest::currentTestFunction()));
        QVERIFY(QDir().mkpath(saveDirectory));
        AppSettings settings;
        settings.clear();
        settings.setSSID(Address);
        settings.setSaveDirectory(saveDirectory);
    }

    void done()
    {
        if (QTest::currentTestFailed())
            dropWindow();
        // The next window must find the simulator free: it serves one client.
        if (!shared)
            QTRY_VERIFY(!simulator.hasClient());
    }

    // One window for all the rows of a test function, so that they pay the
    // connection's pauses once.
    const Window &rowWindow()
    {
        if (!shared) {
            shared = std::make_unique<Window>();
            sharedFor = QTest::currentTestFunction();
        }
        return *shared;
    }
    void dropWindow()
    {
        shared.reset();
        sharedFor.clear();
        QTRY_VERIFY(!simulator.hasClient());
    }

    // Connected, listed and standing by.
    bool waitConnected(const Window &window)
    {
        return QTest::qWaitFor(
            [&] {
                return window.text("labelTarget") == AppSettings().getSSID() && window.isStandby()
                    && window.model()->rowCount() > 0 && !window.overlay()->isVisible();
            },
            ConnectTimeoutMs);
    }
    QString source(const QString &name) const { return QDir(simulator.musicRoot()).filePath(name); }
    // In standby: ticks `name`, downloads it into `directory` and waits for
    // its first data.
    bool startDownload(const Window &window, const QString &name, const QString &directory)
    {
        window.tick(name);
        window.download(directory);
        return QTest::qWaitFor([&] { return window.text("labelDetail").startsWith("download "); }, 5000);
    }

private:
    std::unique_ptr<Window> shared;
    QByteArray sharedFor;
};
} // namespace

// A private settings location, before Qt first looks for it.
#define ZV_WINDOW_TEST_MAIN(TestClass) \
    int main(int argc, char *argv[]) \
    { \
        QTemporaryDir config; \
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); \
        TrailApplication app(argc, argv); \
        TestClass test; \
        return config.isValid() ? QTest::qExec(&test, argc, argv) : 1; \
    }

#endif // WINDOWFIXTURE_H
