// The main window against the in-process recorder simulator, driven through
// its widgets' object names as a user drives it: the settings dialog,
// connecting, browsing, details, downloads with progress, cancel and errors,
// the watchdog, the overlay and the window's size, sorting, a large folder,
// recorder texts, the window in German, closing (asked during a download, bounded with a busy
// worker), the notice of a long download, the pictures for the screen, and
// the built program's command line. Pictures of the searching, standby and
// downloading states go to screenshots/ beside this executable. Runs on a
// scratch XDG_CONFIG_HOME; the window's network name is this test's own
// loopback address. The folder chooser is answered through the window's
// hook, never as a real dialog (its file-system thread is not ours to race).
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <functional>
#include <memory>

#include "base/appconstants.h"
#include "base/appsettings.h"
#include "base/downloadfileinfo.h"
#include "base/threadjoin.h"
#include "base/zvrecordmode.h"
#include "datarows.h"
#include "protocol/zvcommand.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"
#include "sim/recordersimulator.h"
#include "sim/replybuilder.h"
#include "ui/connectoffwidget.h"
#include "ui/downloadfilemodel.h"
#include "ui/hidpipicture.h"
#include "ui/mainwindow.h"
#include "ui/settingdialog.h"
#include "ui/translationloader.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QLocale German(QLocale::German, QLocale::Germany);
const QString Advice = QStringLiteral("Please quit the Application and attempt to re-connect to the ZV.");

// First poll at once, the controller's 500 ms pause, then the listing.
constexpr int ConnectTimeoutMs = 5000;
// One exchange, including the controller's 1000 ms pauses.
constexpr int ExchangeTimeoutMs = 5000;
constexpr int WatchdogMs = 30000;
constexpr int PollIntervalMs = 10000;
// QTimer's default coarse timers may fire up to 5 % early.
constexpr int WatchdogEarliestMs = WatchdogMs * 95 / 100;
// As many rows as crashed the window while each had a check-box widget.
constexpr int LargeFolderRows = 30000;
constexpr int LargeFolderTimeoutMs = 30000;
// Closing waits about 2 s for a busy worker, then goes.
constexpr int CloseBoundMs = 2500;
const QString SlowFile = QStringLiteral("ZV_0002.WAV"); // about 1.1 s at SlowRate
constexpr qint64 SlowRate = 1024 * 1024;

// Calls `action` with the first visible top-level widget of type T as soon as
// one shows up (a modal dialog is answered from inside its own event loop).
template<typename T>
void whenShown(std::function<void(T *)> action)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (T *found = qobject_cast<T *>(widget); found && found->isVisible()) {
                timer->stop();
                timer->deleteLater();
                return action(found);
            }
        }
    });
    timer->start(10);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void shoot(QWidget *window, const QString &name)
{
    const QDir output(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(output.mkpath(QStringLiteral(".")));
    QVERIFY(window->grab().save(output.filePath(name + QStringLiteral(".png"))));
}

// Every distinct value a widget shows, read after each event the
// application delivers: every queued slot call into the window is one event,
// so no state the window passes through is missed, however short.
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

    void sample()
    {
        const QString value = read();
        if (values.isEmpty() || values.last() != value)
            values << value;
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

// Any clearly red pixel (rich text asked for red letters).
bool hasRed(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                return true;
        }
    }
    return false;
}

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
public:
    Window()
    {
        watchThreadEnd(controllerThread());
        window->show();
    }
    // The window stops its controller's thread as it goes; stopping it here
    // first lets ThreadSanitizer see that join (app/threadjoin.h).
    ~Window() { stopThread(controllerThread()); }
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

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
    int progress() const { return widget<QProgressBar>("progressBar")->value(); }

    QStringList names() const
    {
        QStringList list;
        for (int row = 0; row < model()->rowCount(); ++row)
            list << model()->index(row, 1).data().toString();
        return list;
    }
    int rowOf(const QString &name) const { return names().indexOf(name); }

    // The row's check box as the view draws it.
    bool isTicked(int row) const { return model()->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked; }
    QList<bool> boxStates() const
    {
        QList<bool> states;
        for (int row = 0; row < model()->rowCount(); ++row)
            states << isTicked(row);
        return states;
    }

    void clickRow(int row) const { QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cellCenter(row)); }
    // A click on the row's check cell, scrolled into view first.
    void tickRow(int row) const
    {
        const QModelIndex cell = model()->index(row, 0);
        table()->scrollTo(cell);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, table()->visualRect(cell).center());
    }
    // A real double click: press and release, then the double-click event.
    void doubleClickRow(int row) const
    {
        clickRow(row);
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cellCenter(row));
    }
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
    bool isConnectedWithList() const
    {
        return text("labelTarget") == AppSettings().getSSID() && isStandby() && model()->rowCount() > 0
            && !overlay()->isVisible();
    }
    bool isSearching() const
    {
        return text("labelTarget") == QLatin1String("Searching...") && overlay()->isVisible()
            && button("settingButton")->isEnabled() && !button("downloadButton")->isEnabled() && !table()->isEnabled()
            && !button("pushButtonMusic")->isEnabled();
    }

    // Opens the settings dialog, fills in `ssid` and closes it with `close`.
    void settings(const QString &ssid, QDialogButtonBox::StandardButton close = QDialogButtonBox::Ok) const
    {
        whenShown<SettingDialog>([=](SettingDialog *dialog) {
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

private:
    QPoint cellCenter(int row) const { return table()->visualRect(model()->index(row, 1)).center(); }
    QThread *controllerThread() const
    {
        QThread *thread = window->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);
        if (!thread)
            qFatal("the window has no controller thread");
        return thread;
    }

    std::unique_ptr<TestWindow> window{new TestWindow};
};
} // namespace

using DetailRow = std::tuple<QString, QString, QString, QString, QString>;

class tst_MainWindow : public QObject
{
    Q_OBJECT
    bool waitConnected(const Window &window)
    {
        return QTest::qWaitFor([&] { return window.isConnectedWithList(); }, ConnectTimeoutMs);
    }
    QString source(const QString &name) const { return QDir(simulator.musicRoot()).filePath(name); }
    // Once listed: ticks `name`, downloads it into `directory` and, when
    // `untilData`, waits for its first data.
    bool startDownload(const Window &window, const QString &name, const QString &directory, bool untilData = true)
    {
        if (!waitConnected(window))
            return false;
        window.tick(name);
        window.download(directory);
        return !untilData || QTest::qWaitFor([&] { return window.text("labelDetail").startsWith("download "); }, 5000);
    }

    RecorderSimulator simulator;
    QTemporaryDir scratch;
    QString saveDirectory;

private slots:
    void initTestCase()
    {
        QVERIFY(scratch.isValid());
        QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
        // Beside the demo content: a lower-case MP3 name (the detail picture is
        // chosen case-sensitively) and an empty recording.
        QVERIFY(QFile::copy(source(QStringLiteral("ZV_0004.MP3")), source(QStringLiteral("live.mp3"))));
        QFile empty(source(QStringLiteral("SILENT.WAV")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
    }

    void init()
    {
        simulator.clearFaults();
        simulator.setThrottle(0);
        simulator.setRecordMode(RecordModeMusic);
        saveDirectory = scratch.filePath(QStringLiteral("start-%1").arg(QTest::currentTestFunction()));
        QVERIFY(QDir().mkpath(saveDirectory));
        AppSettings settings;
        settings.clear();
        settings.setSSID(Address);
        settings.setSaveDirectory(saveDirectory);
    }

    void cleanup()
    {
        // The next window must find the simulator free: it serves one client.
        QTRY_VERIFY(!simulator.hasClient());
    }

    void searchingThenStandbyWithTheNetworkName_data()
    {
        addColumns<std::tuple<bool>>(); // in German
        QTest::addRow("english") << false;
        QTest::addRow("german") << true;
    }
    void searchingThenStandbyWithTheNetworkName()
    {
        const auto [german] = fetchRow<std::tuple<bool>>();
        TranslationLoader::install(*qApp, german ? German : QLocale::c());
        auto english = qScopeGuard([] { TranslationLoader::install(*qApp, QLocale::c()); });
        Window window;
        Trail target([&] { return window.text("labelTarget"); });
        Trail overlay([&] { return QString::number(window.overlay()->isVisible()); });
        QVERIFY(waitConnected(window));

        // The first poll finds no connection (searching), then connects.
        QCOMPARE(target.values, (QStringList{"ZV-61KT", german ? "Suche läuft..." : "Searching...", Address}));
        QCOMPARE(overlay.values, (QStringList{"0", "1", "0"}));
        QCOMPARE(window.text("labelInfo"), german ? "Bereit." : "Standby.");
        QVERIFY(window.names().contains(QStringLiteral("ZV_0001.WAV")));
        if (german) {
            QCOMPARE(window.text("label_7"), "Spieldauer");
            QCOMPARE(window.model()->headerData(DownloadFileModel::ColumnSize, Qt::Horizontal).toString(), "Größe");
            QCOMPARE(window.button("downloadButton")->toolTip(), "Markierte Aufnahmen herunterladen");
            // A recording's details: its size grouped the German way.
            window.clickRow(window.rowOf(QStringLiteral("ZV_0001.WAV")));
            QCOMPARE(window.text("labelStatus"), "Kommunikation...");
            QCOMPARE(window.text("labelDetailSize"),
                     German.toString(QFileInfo(source(QStringLiteral("ZV_0001.WAV"))).size()) + " Byte");
            QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
            return shoot(window.get(), QStringLiteral("german"));
        }

        // A cancelled settings dialog writes nothing.
        window.settings(QStringLiteral("127.0.0.254"), QDialogButtonBox::Cancel);
        QCOMPARE(AppSettings().getSSID(), Address);
    }

    // The overlay follows the window's size; the next window opens as large
    // as the last one was closed, and closing an idle window asks nothing and
    // keeps the user's settings.
    void overlayAndWindowSize()
    {
        AppSettings().setSSID(QString()); // nothing to connect to, and nothing to look up
        {
            Window window;
            QCOMPARE(window->size(), QSize(816, 576));
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QTRY_VERIFY(window.isSearching());
            shoot(window.get(), QStringLiteral("searching"));

            auto covers = [&] {
                const int top = window.widget<QFrame>("frameButtonBar")->mapTo(window.get(), QPoint(0, 0)).y();
                return window.overlay()->geometry() == QRect(0, top, window->width(), window->height() - top);
            };
            QVERIFY(covers());
            for (const QSize size : {QSize(1100, 760), QSize(905, 641)}) {
                window->resize(size);
                QTRY_COMPARE(window->size(), size);
                QVERIFY(covers());
            }
            QVERIFY(window->close());
            QCOMPARE(window->stopAsked, 0);
        }
        QCOMPARE(AppSettings().getSaveDirectory(), saveDirectory);
        QCOMPARE(Window()->size(), QSize(905, 641));
    }

    void folderDoubleClickRefillsTheTable()
    {
        Window window;
        QVERIFY(waitConnected(window));
        // Check everything first: the new list must start unchecked anyway.
        window.widget<QCheckBox>("checkBoxAll")->click();
        QVERIFY(!window.boxStates().contains(false));

        Trail status([&] { return window.text("labelStatus"); });
        window.doubleClickRow(window.rowOf(QStringLiteral("FOLDER01")));
        QTRY_VERIFY_WITH_TIMEOUT(window.names() == (QStringList{"TAKE_44k16.WAV", "TAKE_96k24.WAV"})
                                     && window.isStandby(),
                                 ExchangeTimeoutMs);
        QCOMPARE(status.values, (QStringList{"", "Communicating...", ""}));
        QCOMPARE(window.boxStates(), (QList<bool>{false, false}));
    }

    void fileClickShowsDetails_data()
    {
        // The name; the format, length and picture shown (empty: none); the
        // error code shown once the answer is in (empty: none, standby).
        addColumns<DetailRow>();
        QTest::addRow("upper-wav-no-picture") << "ZV_0001.WAV"
                                              << "WAV  48000Hz 16bit"
                                              << "00:00:02" << QString() << QString();
        QTest::addRow("bwf") << "ZV_0003_BWF.WAV"
                             << "BWF  48000Hz 24bit"
                             << "00:00:03" << QString() << QString();
        QTest::addRow("lower-mp3-picture") << "live.mp3"
                                           << "MP3  44100Hz 128kbps"
                                           << "00:00:05"
                                           << ":/images/resource/ZV_06_02_mp3_L.png" << QString();
        // The recorder has no details of a text file: the error is shown and the
        // window is usable again at once, not after the watchdog.
        QTest::addRow("detail-error-returns-to-standby")
            << "README.TXT" << QString() << QString() << QString() << "E9-0-0";
    }

    void fileClickShowsDetails()
    {
        const auto [name, format, length, picture, error] = fetchRow<DetailRow>();

        Window window;
        QVERIFY(waitConnected(window));
        window.clickRow(window.rowOf(name));

        // At once: what the listing knows, and the request is under way.
        QCOMPARE(window.text("labelDetailName"), name);
        const QFileInfo info(source(name));
        QCOMPARE(window.text("labelDetailSize"), QLocale(QLocale::English).toString(info.size()) + " bytes");
        QDateTime modified = info.lastModified(); // the recorder keeps even seconds
        modified = modified.addSecs(-(modified.time().second() % 2)).addMSecs(-modified.time().msec());
        QCOMPARE(window.text("labelDetailDate"), modified.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
        QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
        const QPixmap shown = window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue);
        QCOMPARE(shown.toImage(), picture.isEmpty() ? QImage() : QPixmap(picture).toImage());

        // Then the recorder's details.
        QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
        QCOMPARE(window.text("labelDetailFormat"), format);
        QCOMPARE(window.text("labelDetailMusicLength"), length);
        QCOMPARE(window.text("labelInfo"),
                 error.isEmpty() ? "Standby." : QStringLiteral("An error has occurred.(code : %1)").arg(error));
        QCOMPARE(window.text("labelDetail"), error.isEmpty() ? QString() : Advice);
        if (error.isEmpty())
            shoot(window.get(), QStringLiteral("standby"));
    }

    void musicMtrOnlyForZV61KT_data()
    {
        addColumns<std::tuple<QString, bool>>(); // the network name, whether both trees are offered
        QTest::addRow("model-prefix-offers-both") << "ZV-61KT-1234" << true;
        QTest::addRow("lower-case-prefix-does-not") << "zv-61kt" << false;
        QTest::addRow("leading-blank-does-not") << " ZV-61KT" << false;
        QTest::addRow("other-model-does-not") << "ZV-60KT" << false;
    }

    // The name is changed in the settings dialog while connected (the link
    // stays, the check reads the new name); the address is put back before the
    // window goes, so the names are never looked up.
    void musicMtrOnlyForZV61KT()
    {
        const auto [name, offered] = fetchRow<std::tuple<QString, bool>>();

        Window window;
        QVERIFY(waitConnected(window));
        window.settings(name);
        // A record-mode report runs the standby routine.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "setRecodeMode", Q_ARG(ZVRecordMode, RecordModeMTR)));
        QCOMPARE(window.button("pushButtonMusic")->isEnabled(), offered);
        QCOMPARE(window.button("pushButtonMTR")->isEnabled(), offered);
        QCOMPARE(window.button("pushButtonMTR")->isChecked(), offered);
        if (offered) { // the multitrack tree, through the recorder
            window.button("pushButtonMTR")->click();
            QTRY_VERIFY_WITH_TIMEOUT(window.names().contains(QStringLiteral("SONG0001")) && window.isStandby(),
                                     ExchangeTimeoutMs);
            QCOMPARE(simulator.recordMode(), int(RecordModeMTR));
        }
        window.settings(Address);
    }

    void sortingKeepsCheckBoxesWithTheirEntries()
    {
        Window window;
        QVERIFY(waitConnected(window));
        QStringList ticked{"FOLDER01", "ZV_0002.WAV", "live.mp3"};
        for (const QString &name : qAsConst(ticked))
            window.tick(name);

        auto boxesFollowEntries = [&] {
            QList<bool> expected;
            for (const QString &name : window.names())
                expected << ticked.contains(name);
            return window.boxStates() == expected;
        };
        QSet<QString> orders{window.names().join('|')};
        for (int column : {3, 3, 1, 1, 2}) {
            window.clickHeader(column);
            QVERIFY2(boxesFollowEntries(), qPrintable(window.names().join('|')));
            orders << window.names().join('|');
        }
        QVERIFY(orders.size() >= 3); // the rows really moved

        // A box ticked after sorting belongs to the entry in its row.
        window.tick(QStringLiteral("ZV_0001.WAV"));
        ticked << QStringLiteral("ZV_0001.WAV");
        window.clickHeader(3);
        QVERIFY(boxesFollowEntries());
    }

    // A folder of 30 000 recordings (empty files, so the folder is quick to
    // write), as many as made a check-box widget per row crash the window: the
    // table fills, paints, sorts and scrolls, and its check boxes work as in a
    // small folder.
    void largeFolderShowsPaintsAndSorts()
    {
        const QDir large(scratch.filePath(QStringLiteral("large")));
        QVERIFY(large.mkpath(QStringLiteral(".")));
        for (int n = 0; n < LargeFolderRows; ++n) {
            QFile file(large.filePath(QStringLiteral("T%1.WAV").arg(n, 5, 10, QLatin1Char('0'))));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString musicRoot = simulator.musicRoot();
        simulator.setMusicRoot(large.path());
        auto restore = qScopeGuard([&] { simulator.setMusicRoot(musicRoot); });

        Window window;
        QTRY_VERIFY_WITH_TIMEOUT(window.model()->rowCount() == LargeFolderRows && window.isStandby(),
                                 LargeFolderTimeoutMs);
        QVERIFY(!window->grab().isNull());

        // The last row's box, scrolled to: ticked, and nothing asked of the recorder.
        const int last = LargeFolderRows - 1;
        const QString lastName = window.model()->index(last, 1).data().toString();
        window.tickRow(last);
        QVERIFY(window.isTicked(last));
        QVERIFY(window.table()->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(window.text("labelStatus"), QString());
        QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));

        // Sorted by name until that entry comes first: its tick comes with it.
        for (int clicks = 0; clicks < 2 && window.model()->index(0, 1).data().toString() != lastName; ++clicks)
            window.clickHeader(1);
        QCOMPARE(window.model()->index(0, 1).data().toString(), lastName);
        QVERIFY(window.isTicked(0));
        QVERIFY(!window->grab().isNull());
    }

    void recorderTextsShowAsWrittenWithoutWideningTheWindow_data()
    {
        addColumns<std::tuple<QString>>();
        QTest::addRow("markup-is-not-rendered") << "<font color=red size=6>All 12 files completed.";
        QTest::addRow("300-characters-do-not-widen") << QString(296, QLatin1Char('W')) + QStringLiteral(".WAV");
    }

    // A name from the recorder in the detail panel and the status line, and an
    // error line: shown letter for letter, within the window's width.
    void recorderTextsShowAsWrittenWithoutWideningTheWindow()
    {
        const auto [name] = fetchRow<std::tuple<QString>>();
        AppSettings().setSSID(QString());
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window.isSearching());
        const QSize size = window->size();

        QObject::disconnect(window.get(), &MainWindow::requestFileDetail, nullptr, nullptr);
        auto *entry = new DownloadFileInfo(window.get());
        entry->name = name;
        entry->size = 1234;
        window.fileModel()->append(entry);
        emit window.fileModel()->layoutChanged();
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_filelistTableView_clicked",
                                          Q_ARG(QModelIndex, window.model()->index(0, 1))));
        window->sequenceError(NetworkSocketError, 1, 0);
        window->downloadStarted(name, 1234);
        QTest::qWait(100); // layouts settle, a window that grows does so now

        for (const char *label : {"labelDetailName", "labelInfo"})
            QVERIFY2(!hasRed(window.widget<QLabel>(label)->grab().toImage()), label);
        QCOMPARE(window->size(), size);
        QCOMPARE(window.text("labelDetailName"), name);
        QCOMPARE(window.text("labelInfo"), name + QStringLiteral(" - 1234 bytes"));
        QCOMPARE(window.text("labelDetail"), Advice);
    }

    void downloadShowsProgressPerFile_data()
    {
        addColumns<std::tuple<QStringList>>();
        QTest::addRow("three-files") << QStringList{"ZV_0001.WAV", "ZV_0002.WAV", "ZV_0004.MP3"};
        QTest::addRow("zero-bytes-in-all-does-not-divide-and-fills-the-bar") << QStringList{"SILENT.WAV"};
    }

    void downloadShowsProgressPerFile()
    {
        const auto [files] = fetchRow<std::tuple<QStringList>>();
        QTemporaryDir target;
        simulator.setThrottle(1024 * 1024); // slow enough to see every file's texts

        Window window;
        QVERIFY(waitConnected(window));
        qint64 total = 0;
        for (const QString &name : qAsConst(files)) {
            window.tick(name);
            total += QFileInfo(source(name)).size();
        }
        Trail status([&] { return window.text("labelStatus"); });
        QSignalSpy bar(window.widget<QProgressBar>("progressBar"), &QProgressBar::valueChanged);
        QCOMPARE(window.download(target.path()), saveDirectory); // the chooser starts in the stored folder
        if (total > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(
                window.text("labelStatus") == QLatin1String(" 2 / 3 files") && window.progress() > 300, 10000);
            shoot(window.get(), QStringLiteral("downloading"));
        }

        QTRY_COMPARE_WITH_TIMEOUT(window.text("labelInfo"), QStringLiteral("%1 files completed.").arg(files.size()),
                                  10000);
        QVERIFY(window.isStandby());
        QStringList expected{QString()};
        for (int n = 1; n <= files.size(); ++n)
            expected << QStringLiteral(" %1 / %2 files").arg(n).arg(files.size());
        QCOMPARE(status.values, expected << QString());
        for (const QString &name : qAsConst(files))
            QCOMPARE(readAll(target.filePath(name)), readAll(source(name)));

        // The bar only grows and ends full; with nothing to count, it fills at the end.
        QList<int> values;
        for (const QList<QVariant> &change : qAsConst(bar))
            values << change.at(0).toInt();
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QCOMPARE(values.last(), 1000);
        if (total == 0)
            QCOMPARE(values, (QList<int>{1000}));
    }

    void downloadEndsAsTheControllerReports_data()
    {
        // Steps, each the controller's report to the window or the user's click:
        // "started", "error CODE PARAM1", "relisted" (the recorder dropped and
        // resent its listing), "finished", "canceled", "cancel-click",
        // "details" (a click on a recording: its details are asked for).
        // Then the two status lines.
        addColumns<std::tuple<QStringList, QString, QString>>();
        QTest::addRow("framing-warning-keeps-no-line-through-a-cancel")
            << QStringList{"started", "error 2 -16", "canceled"} << "download canceled." << QString();
        QTest::addRow("user-cancel-says-so-whatever-came-before")
            << QStringList{"started", "error 6 1 2", "cancel-click"} << "download canceled." << QString();
        // The recorder's confirmation of that cancel comes after the user
        // went on to a recording's details: it changes nothing.
        QTest::addRow("late-cancel-report-changes-nothing")
            << QStringList{"started", "cancel-click", "details", "canceled"} << "Standby." << QString();
        QTest::addRow("no-space-keeps-its-lines-through-the-cancel")
            << QStringList{"started", "error 13 0", "canceled"} << "An error has occurred.(code : E13-0-0)" << Advice;
        QTest::addRow("lost-targets-leave-the-count-and-say-so")
            << QStringList{"started", "started", "error 14 1", "finished"} << "2 files completed."
            << "1 files not downloaded.(code : E14-1-0)";
        QTest::addRow("refused-name-fails-only-its-file")
            << QStringList{"started", "error 10 5", "started", "finished"} << "2 files completed."
            << "1 files not downloaded.(code : E10-5-0)";
        QTest::addRow("relist-keeps-the-download-running")
            << QStringList{"started", "relisted", "started", "started", "finished"} << "3 files completed."
            << QString();
    }

    // The window alone: the controller hears nothing of the download (its
    // request is cut off), and its reports are played to the window's slots.
    void downloadEndsAsTheControllerReports()
    {
        const auto [steps, info, detail] = fetchRow<std::tuple<QStringList, QString, QString>>();
        QTemporaryDir target;
        Window window;
        QVERIFY(waitConnected(window));
        const QStringList files{"ZV_0001.WAV", "ZV_0002.WAV", "ZV_0004.MP3"};
        for (const QString &name : files)
            window.tick(name);
        QVERIFY(QObject::disconnect(window.get(), &MainWindow::requestDownloadFiles, nullptr, nullptr));
        window.download(target.path());
        QVERIFY(window.button("cancelButton")->isEnabled());

        int started = 0;
        for (const QString &step : qAsConst(steps)) {
            const QStringList words = step.split(' ');
            if (step == QLatin1String("started")) {
                window->downloadStarted(files.at(started), 1000);
                window->downloadProgress(1000);
                ++started;
            } else if (words.first() == QLatin1String("error")) {
                window->sequenceError(AppErrorCode(words.at(1).toInt()), words.at(2).toInt(), 0);
            } else if (step == QLatin1String("relisted")) {
                window->discardFileList();
                window->setFileList();
                QVERIFY(window.model()->rowCount() > 0);
                QVERIFY(window.button("cancelButton")->isEnabled() && !window.button("downloadButton")->isEnabled());
                QCOMPARE(window.text("labelStatus"), QStringLiteral(" %1 / 3 files").arg(started));
            } else if (step == QLatin1String("finished")) {
                window->downloadFinished();
            } else if (step == QLatin1String("canceled")) {
                window->downloadCanceled();
            } else if (step == QLatin1String("cancel-click")) {
                QTest::mouseClick(window.button("cancelButton"), Qt::LeftButton);
            } else if (step == QLatin1String("details")) {
                QTRY_VERIFY(window.isStandby());
                window.clickRow(window.rowOf(files.first()));
                QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        QTRY_VERIFY(window.isStandby());
        QCOMPARE(window.text("labelInfo"), info);
        QCOMPARE(window.text("labelDetail"), detail);
    }

    void watchdogDropsASilentRecorder_data()
    {
        addColumns<std::tuple<bool>>(); // during a download
        // It accepts the connection and never answers the list request: the
        // window stands by with an empty table.
        QTest::addRow("list-request-never-answered") << false;
        // It goes silent in the middle of a transfer (no FIN, no RST).
        QTest::addRow("silent-in-the-middle-of-a-download") << true;
    }

    // The watchdog drops the link 30 s after the last sign of life (the
    // connection, the last progress), and the next poll connects and lists again.
    void watchdogDropsASilentRecorder()
    {
        const auto [duringDownload] = fetchRow<std::tuple<bool>>();
        QTemporaryDir target;
        const QString name = SlowFile;
        QSignalSpy reconnected(&simulator, &RecorderSimulator::clientConnected);
        simulator.setUnanswered(CODE_FILE_LIST, !duringDownload);
        Window window;
        QSignalSpy disconnectRequested(window.get(), &MainWindow::requestDisconnect);
        if (duringDownload) {
            QVERIFY(waitConnected(window));
            simulator.setDropAfter(300000, RecorderSimulator::DropMode::Silent);
            QVERIFY(startDownload(window, name, target.path()));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!window.overlay()->isVisible() && window.isStandby(), ConnectTimeoutMs);
            QCOMPARE(window.model()->rowCount(), 0);
        }
        QElapsedTimer waited;
        waited.start();
        reconnected.clear();

        QVERIFY(disconnectRequested.wait(WatchdogMs + 5000));
        QVERIFY2(waited.elapsed() >= WatchdogEarliestMs, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(disconnectRequested.count(), 1);
        if (duringDownload) {
            const QByteArray partial = readAll(target.filePath(name + ".part"));
            QVERIFY(partial.size() > 0 && partial.size() < QFileInfo(source(name)).size());
            QVERIFY(partial == readAll(source(name)).left(partial.size()));
        }
        simulator.setUnanswered(CODE_FILE_LIST, false);

        QTRY_VERIFY_WITH_TIMEOUT(window.isSearching(), PollIntervalMs + 2000);
        QCOMPARE(window.model()->rowCount(), 0);
        QVERIFY(reconnected.count() || reconnected.wait(ConnectTimeoutMs));
        QVERIFY(waitConnected(window));
        // The download the watchdog ended is not taken up again, and says so.
        QCOMPARE(window.text("labelInfo"),
                 duringDownload ? QStringLiteral("1 files not downloaded.(code : E16-1-0)")
                                : QStringLiteral("Standby."));
    }

    void downloadEndedFromOutside_data()
    {
        // How it ends; the status line at the end (after the reconnection,
        // where the link went).
        addColumns<std::tuple<QString, QString>>();
        QTest::addRow("recorder-stops-at-once") << "stop"
                                                << "An error has occurred.(code : E15-2-0)";
        // A relist lets the file in flight complete; the link goes before
        // the next one starts.
        QTest::addRow("relist-then-recorder-closes") << "close"
                                                     << "1 files not downloaded.(code : E16-1-0)";
        QTest::addRow("relist-then-watchdog-drops") << "watchdog"
                                                    << "1 files not downloaded.(code : E16-1-0)";
    }

    // The recorder stops the download itself, or the link goes: the window
    // leaves its downloading state at once, nothing more is asked for, and
    // the status line tells that the download did not complete.
    void downloadEndedFromOutside()
    {
        const auto [how, info] = fetchRow<std::tuple<QString, QString>>();
        const QString first = QStringLiteral("ZV_0001.WAV");
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        // Little queued ahead: what the recorder sends comes in the middle of the data.
        simulator.setSendWindow(32 * 1024);
        auto window32k = qScopeGuard([&] { simulator.setSendWindow(SimulatorSettings::DefaultSendWindow); });
        QSignalSpy asked(&simulator, &RecorderSimulator::downloadStarted);
        QSignalSpy requests(&simulator, &RecorderSimulator::requestReceived);
        Window window;
        QVERIFY(waitConnected(window));
        window.tick(first);
        QVERIFY(startDownload(window, QStringLiteral("ZV_0004.MP3"), target.path()));
        if (how == QLatin1String("stop")) {
            QElapsedTimer clock;
            clock.start();
            simulator.sendToClient(ReplyBuilder::command(CODE_CANCEL_DOWNLOAD));
            QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(window.text("labelDetail"), Advice);
            QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{first + ".part"});
        } else {
            simulator.setUnanswered(CODE_FILE_LIST);
            simulator.notifyListingChanged();
            const auto relisted = [&] {
                return std::count_if(requests.begin(), requests.end(),
                                     [](const QList<QVariant> &request) {
                                         return quint8(request.at(0).toByteArray().at(CODE_OFFSET)) == CODE_FILE_LIST;
                                     })
                    == 2;
            };
            QTRY_VERIFY_WITH_TIMEOUT(relisted() && QFile::exists(target.filePath(first)), ExchangeTimeoutMs);
            Trail shown([&] { return window.text("labelInfo"); });
            if (how == QLatin1String("close"))
                simulator.disconnectClient();
            else
                window->uiTimeout();
            QTRY_VERIFY(window.isStandby()); // at once, before any poll
            simulator.setUnanswered(CODE_FILE_LIST, false);
            ZVController *controller = window->findChild<ControllerHost *>()->controller();
            QMetaObject::invokeMethod(controller, "pollingConnection"); // the next poll, without its wait
            QVERIFY(waitConnected(window));
            QTest::qWait(500); // a restarted download would have asked by now
            // Searching and connecting again, the line never went blank or
            // back to a plain standby.
            QVERIFY2(!shown.values.contains(QString()) && !shown.values.contains(QStringLiteral("Standby.")),
                     qPrintable(shown.values.join('|')));
            QCOMPARE(readAll(target.filePath(first)), readAll(source(first)));
            QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{first});
        }
        QCOMPARE(asked.count(), 1);
        QVERIFY(window.isStandby());
        QCOMPARE(window.text("labelInfo"), info);
    }

    // The worker is busy (here: in a call that would take 4 s) when the window
    // closes: the window goes after about 2 s and leaves the thread behind,
    // running, to end by itself.
    void closingDoesNotWaitForABusyWorker()
    {
        AppSettings().setSSID(QString());
        // Not the Window helper: it would wait for the thread without a bound.
        auto *window = new TestWindow;
        QPointer<QThread> thread = window->findChild<QThread *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(thread);
        // The window's parts, what the worker feeds among them: all go in the end.
        const QObjectList children = window->children();
        const QList<QPointer<QObject>> left(children.begin(), children.end());
        // Static, so the queued call carries no captures: it reaches the
        // worker through Qt's event queue, whose locking ThreadSanitizer
        // does not see.
        static QSemaphore entered;
        static QSemaphore gate;
        auto *busy = new QObject;
        busy->moveToThread(thread);
        QMetaObject::invokeMethod(
            busy,
            [] {
                entered.release();
                gate.tryAcquire(1, 4000);
            },
            Qt::QueuedConnection);
        QVERIFY(entered.tryAcquire(1, ConnectTimeoutMs));

        QElapsedTimer closing;
        closing.start();
        delete window;
        const qint64 closedAfter = closing.elapsed();
        QVERIFY2(closedAfter < CloseBoundMs, qPrintable(QString::number(closedAfter)));
        QVERIFY(thread && thread->isRunning());
        QVERIFY(!thread->parent());

        gate.release();
        QTRY_VERIFY_WITH_TIMEOUT(!thread, ConnectTimeoutMs); // asked to quit already: it ends once free, and goes
        QTRY_VERIFY(std::all_of(left.begin(), left.end(), [](const QPointer<QObject> &child) { return !child; }));
        delete busy;
    }
    void commandLine_data()
    {
        // Arguments, exit code, stdout (stderr on a usage error), whole or its beginning.
        addColumns<std::tuple<QStringList, int, QString, bool>>();
        const QString version = QStringLiteral("zv-file-transfer %1\n").arg(ApplicationVersion);
        QTest::addRow("help") << QStringList{"--help"} << 0 << "Usage: zv-file-transfer [options]\n" << false;
        QTest::addRow("version") << QStringList{"--version"} << 0 << version << true;
        QTest::addRow("qt-options-pass") << QStringList{"-platform", "offscreen", "-reverse", "-V"} << 0 << version
                                         << true;
        QTest::addRow("unknown-option") << QStringList{"--bogus"} << 2
                                        << "zv-file-transfer: Unknown option 'bogus'.\nUsage: zv-file-transfer"
                                        << false;
        QTest::addRow("stray-argument") << QStringList{"a.wav"} << 2
                                        << "zv-file-transfer: unexpected argument 'a.wav'\nUsage: zv-file-transfer"
                                        << false;
    }
    // The built program without a display: made before the options are
    // read, the window's application would fail first.
    void commandLine()
    {
        const auto [arguments, exitCode, output, whole] = fetchRow<std::tuple<QStringList, int, QString, bool>>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(ZV_WINDOW_BIN), arguments);
        QVERIFY(program.waitForFinished(10000));
        const QByteArray err = program.readAllStandardError();
        QCOMPARE(program.exitCode(), exitCode);
        const QString shown = QString::fromLocal8Bit(exitCode ? err : program.readAllStandardOutput());
        QVERIFY2(shown.startsWith(output) && (exitCode || err.isEmpty()), qPrintable(shown + err));
        QVERIFY(!whole || shown == output);
    }

    void closingWhileDownloadingAsks_data()
    {
        addColumns<std::tuple<bool>>(); // the answer
        QTest::addRow("no-keeps-the-window-and-the-download") << false;
        QTest::addRow("yes-quits-leaving-the-part-file") << true;
    }
    void closingWhileDownloadingAsks()
    {
        const auto [stop] = fetchRow<std::tuple<bool>>();
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        auto window = std::make_unique<Window>();
        (*window)->stopAnswer = stop;
        QVERIFY(startDownload(*window, SlowFile, target.path()));
        QCOMPARE((*window)->close(), stop);
        QCOMPARE((*window)->stopAsked, 1);
        const QByteArray whole = readAll(source(SlowFile));
        if (!stop) {
            QTRY_COMPARE_WITH_TIMEOUT(window->text("labelInfo"), QStringLiteral("1 files completed."), 10000);
            QCOMPARE(readAll(target.filePath(SlowFile)), whole);
            return;
        }
        window.reset();
        QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{SlowFile + ".part"});
        const QByteArray partial = readAll(target.filePath(SlowFile + ".part"));
        QVERIFY(partial.size() > 0 && partial.size() < whole.size() && whole.startsWith(partial));
    }

    void longDownloadAnnouncedOnlyWhenInactive_data()
    {
        // How it ends, from how long it counts as long, whether the window is
        // active; the notice's beginning (none: empty).
        addColumns<std::tuple<QString, int, bool, QString>>();
        QTest::addRow("completed-elsewhere") << "complete" << 0 << false << "1 files completed.";
        QTest::addRow("canceled-elsewhere") << "cancel" << 0 << false << "download canceled.";
        QTest::addRow("failed-elsewhere") << "fail" << 0 << false << "An error has occurred.(code : E6-";
        QTest::addRow("completed-watched") << "complete" << 0 << true << QString();
        QTest::addRow("short") << "complete" << 3600000 << false << QString();
    }
    void longDownloadAnnouncedOnlyWhenInactive()
    {
        const auto [end, longMs, active, announced] = fetchRow<std::tuple<QString, int, bool, QString>>();
        const bool cancel = end == QLatin1String("cancel");
        QTemporaryDir target;
        simulator.setThrottle(cancel ? SlowRate : 0);
        simulator.setCorruptCheckAt(end == QLatin1String("fail") ? 1 : -1);
        Window window;
        QWidget elsewhere;
        QWidget *focus = active ? static_cast<QWidget *>(window.get()) : &elsewhere;
        focus->show();
        focus->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(focus));
        window->setLongDownloadMs(longMs);
        QVERIFY(startDownload(window, SlowFile, target.path(), cancel));
        if (cancel)
            window.button("cancelButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.button("downloadButton")->isEnabled(), 10000);
        QCOMPARE(window->announced.size(), announced.isEmpty() ? 0 : 1);
        QVERIFY(announced.isEmpty() || window->announced.first().startsWith(announced));
    }

    // Each picture has its twin at twice the size, used only on a 2x screen.
    void picturesForTheScreen()
    {
        int pictures = 0;
        for (QDirIterator it(QStringLiteral(":/images/resource")); it.hasNext();) {
            const QString path = it.next();
            if (path.endsWith(QLatin1String("@2x.png")))
                continue;
            ++pictures;
            const QImage single(path), twin(HiDpiPicture::doubleSizePath(path));
            QVERIFY2(twin.size() == single.size() * 2, qPrintable(path));
            for (const qreal ratio : {1.0, 2.0}) {
                const QPixmap shown = HiDpiPicture::pixmap(path, ratio);
                QCOMPARE(shown.devicePixelRatio(), ratio);
                QCOMPARE(shown.toImage().convertToFormat(QImage::Format_ARGB32),
                         (ratio > 1 ? twin : single).convertToFormat(QImage::Format_ARGB32));
            }
        }
        QCOMPARE(pictures, 29);
    }
};

int main(int argc, char *argv[])
{
    // A private settings location, before Qt first looks for it.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    TrailApplication app(argc, argv);
    tst_MainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
