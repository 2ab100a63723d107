// The main window against the in-process recorder simulator, driven through
// its widgets' object names as a user drives it: connecting, browsing,
// details, downloads with progress, cancel, errors, the watchdog, the overlay
// and sorting. Runs on a scratch XDG_CONFIG_HOME; the window's network name is
// this test's own loopback address.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "controller/zvrecordmode.h"
#include "sim/recordersimulator.h"
#include "ui/connectoffwidget.h"
#include "ui/mainwindow.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString Advice = QStringLiteral("Please quit the Application and attempt to re-connect to the ZV.");

// First poll at once, the controller's 500 ms pause, then the listing.
constexpr int ConnectTimeoutMs = 5000;
// One exchange, including the controller's 1000 ms pauses.
constexpr int ExchangeTimeoutMs = 5000;
constexpr int WatchdogMs = 30000;
constexpr int PollIntervalMs = 10000;
// QTimer's default coarse timers may fire up to 5 % early.
constexpr int WatchdogEarliestMs = WatchdogMs * 95 / 100;

QSettings *openStore()
{
    return new QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("PALVEN"),
                         QStringLiteral("ZV_FILE_TRANSFER"));
}

void storeSettings(const QString &ssid, const QString &saveDirectory = QString())
{
    QScopedPointer<QSettings> store(openStore());
    store->clear();
    store->setValue(QStringLiteral("main/SSID"), ssid);
    store->setValue(QStringLiteral("main/savedirectory"), saveDirectory);
    store->sync();
}

// Calls `action` with the first visible top-level widget of type T as soon as
// one shows up (a modal dialog is answered from inside its own event loop).
template<typename T>
void whenShown(std::function<void(T *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            T *found = qobject_cast<T *>(widget);
            if (found && found->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(found);
                return;
            }
        }
    });
    timer->start();
}

constexpr quint8 CancelRequestCode = 0x31;

// True once the recorder has received a request of kind 0x40 with `code`.
bool waitForRequest(QSignalSpy &requests, quint8 code)
{
    auto seen = [&] {
        for (const QList<QVariant> &request : qAsConst(requests)) {
            const QByteArray header = request.at(0).toByteArray();
            if (header.size() > 4 && quint8(header.at(2)) == 0x40 && quint8(header.at(4)) == code)
                return true;
        }
        return false;
    };
    return seen() || QTest::qWaitFor(seen, ExchangeTimeoutMs);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
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
        trails().append(this);
    }
    ~Trail() { trails().removeOne(this); }
    Trail(const Trail &) = delete;
    Trail &operator=(const Trail &) = delete;

    QStringList values;

    static void sampleAll()
    {
        for (Trail *trail : qAsConst(trails()))
            trail->sample();
    }

private:
    static QList<Trail *> &trails()
    {
        static QList<Trail *> list;
        return list;
    }
    void sample()
    {
        const QString value = read();
        if (values.isEmpty() || values.last() != value)
            values << value;
    }
    std::function<QString()> read;
};

class TrailApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        const bool result = QApplication::notify(receiver, event);
        Trail::sampleAll();
        return result;
    }
};

// The window with named access to its widgets.
class Window
{
public:
    Window()
        : window(new MainWindow)
    {
        window->show();
    }

    MainWindow *operator->() const { return window.get(); }
    MainWindow *get() const { return window.get(); }

    template<typename T>
    T *widget(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QLabel *label(const char *name) const { return widget<QLabel>(name); }
    QString text(const char *name) const { return label(name)->text(); }
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

    QCheckBox *rowBox(int row) const
    {
        QWidget *cell = table()->indexWidget(model()->index(row, 0));
        return cell ? cell->findChild<QCheckBox *>(QStringLiteral("TableCheckBox")) : nullptr;
    }
    QList<bool> boxStates() const
    {
        QList<bool> states;
        for (int row = 0; row < model()->rowCount(); ++row)
            states << (rowBox(row) && rowBox(row)->isChecked());
        return states;
    }

    void clickRow(int row) const
    {
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cellCenter(row));
    }
    // A real double click: press and release, then the double-click event.
    void doubleClickRow(int row) const
    {
        clickRow(row);
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cellCenter(row));
    }
    void tick(const QString &name) const
    {
        QCheckBox *box = rowBox(rowOf(name));
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    }
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
        return text("labelTarget") == ssid() && isStandby() && model()->rowCount() > 0 && !overlay()->isVisible();
    }
    bool isSearching() const
    {
        return text("labelTarget") == QLatin1String("Searching...") && overlay()->isVisible()
            && button("settingButton")->isEnabled() && !button("downloadButton")->isEnabled()
            && !table()->isEnabled() && !button("pushButtonMusic")->isEnabled();
    }
    QString ssid() const
    {
        QScopedPointer<QSettings> store(openStore());
        return store->value(QStringLiteral("main/SSID")).toString();
    }

    // Enters a network name in the settings dialog and presses OK.
    void enterNetworkName(const QString &name) const
    {
        whenShown<QDialog>([name](QDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("lineEditSSID"))->setText(name);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        button("settingButton")->click();
    }

    // Presses download and picks `directory` in the folder chooser; returns
    // the folder the chooser started in.
    QString download(const QString &directory) const
    {
        QString startedIn;
        whenShown<QFileDialog>([&startedIn, directory](QFileDialog *chooser) {
            startedIn = chooser->directory().absolutePath();
            chooser->setDirectory(directory);
            static_cast<QDialog *>(chooser)->accept();
        });
        button("downloadButton")->click();
        return startedIn;
    }

private:
    QPoint cellCenter(int row) const { return table()->visualRect(model()->index(row, 1)).center(); }

    std::unique_ptr<MainWindow> window;
};

QList<bool> allRows(const Window &window, bool state)
{
    return QVector<bool>(window.model()->rowCount(), state).toList();
}
} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchingThenStandbyWithTheNetworkName();
    void overlayCoversFromTheButtonBarDown();
    void folderDoubleClickRefillsTheTable();
    void fileClickShowsDetails_data();
    void fileClickShowsDetails();
    void detailTexts_data();
    void detailTexts();
    void musicMtrOnlyForZV61KT_data();
    void musicMtrOnlyForZV61KT();
    void sortingKeepsCheckBoxesWithTheirEntries();
    void heldButtonsShowTheirOnPicture_data();
    void heldButtonsShowTheirOnPicture();
    void downloadShowsProgressPerFile_data();
    void downloadShowsProgressPerFile();
    void cancelShowsCanceled();
    void downloadErrorStaysReadable_data();
    void downloadErrorStaysReadable();
    void fiveThousandEntriesFillTheTable();
    void watchdogDropsASilentRecorder();

private:
    bool waitConnected(const Window &window, int timeoutMs = ConnectTimeoutMs);
    QString source(const QString &name) const { return QDir(simulator.musicRoot()).filePath(name); }

    RecorderSimulator simulator;
    QTemporaryDir scratch;
    QString saveDirectory;
};

bool tst_MainWindow::waitConnected(const Window &window, int timeoutMs)
{
    return QTest::qWaitFor([&] { return window.isConnectedWithList(); }, timeoutMs);
}

void tst_MainWindow::initTestCase()
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

void tst_MainWindow::init()
{
    simulator.clearFaults();
    simulator.setThrottle(0);
    simulator.setRecordMode(RecordModeMusic);
    saveDirectory = scratch.filePath(QStringLiteral("start-%1").arg(QTest::currentTestFunction()));
    QVERIFY(QDir().mkpath(saveDirectory));
    storeSettings(Address, saveDirectory);
}

void tst_MainWindow::cleanup()
{
    // The next window must find the simulator free: it serves one client.
    QTRY_VERIFY(!simulator.hasClient());
}

void tst_MainWindow::searchingThenStandbyWithTheNetworkName()
{
    Window window;
    Trail target([&] { return window.text("labelTarget"); });
    Trail overlay([&] { return QString::number(window.overlay()->isVisible()); });
    QVERIFY(waitConnected(window));

    // The first poll finds no connection (searching), then connects.
    QCOMPARE(target.values, (QStringList{"ZV-61KT", "Searching...", Address}));
    QCOMPARE(overlay.values, (QStringList{"0", "1", "0"}));
    QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
    QCOMPARE(window.text("labelStatus"), QString());
    QCOMPARE(window->windowTitle(), QStringLiteral("PALVEN ZV FILE TRANSFER 1.00"));

    QVERIFY(window.names().contains(QStringLiteral("FOLDER01")));
    QVERIFY(window.names().contains(QStringLiteral("ZV_0001.WAV")));
    // Every row has its own unchecked box.
    QCOMPARE(window.boxStates(), allRows(window, false));
    // A network name that is no ZV-61KT: no Music/MTR trees.
    QVERIFY(!window.button("pushButtonMusic")->isEnabled());
    QVERIFY(!window.button("pushButtonMusic")->isChecked());
    QVERIFY(!window.button("pushButtonMTR")->isEnabled());
}

void tst_MainWindow::overlayCoversFromTheButtonBarDown()
{
    storeSettings(QString());   // nothing to connect to, and nothing to look up
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY(window.isSearching());

    auto covers = [&] {
        const int top = window.widget<QFrame>("frameButtonBar")->mapTo(window.get(), QPoint(0, 0)).y();
        return window.overlay()->geometry() == QRect(0, top, window->width(), window->height() - top);
    };
    QVERIFY(window.overlay()->isEnabled());
    QVERIFY(covers());
    window->resize(1100, 760);
    QTRY_COMPARE(window->size(), QSize(1100, 760));
    QVERIFY(covers());
    window->resize(820, 580);
    QTRY_COMPARE(window->size(), QSize(820, 580));
    QVERIFY(covers());

    // What lies under the overlay is out of the mouse's reach; the header
    // row above it is not.
    auto hitsOverlay = [&](QWidget *beneath) {
        QWidget *hit = window->childAt(beneath->mapTo(window.get(), beneath->rect().center()));
        return hit == window.overlay() || window.overlay()->isAncestorOf(hit);
    };
    QVERIFY(hitsOverlay(window.table()));
    QVERIFY(hitsOverlay(window.widget<QCheckBox>("checkBoxAll")));
    QVERIFY(!hitsOverlay(window.button("settingButton")));
}

void tst_MainWindow::folderDoubleClickRefillsTheTable()
{
    Window window;
    QVERIFY(waitConnected(window));

    // Check everything first: the new list must start unchecked anyway.
    QCheckBox *all = window.widget<QCheckBox>("checkBoxAll");
    QTest::mouseClick(all, Qt::LeftButton, {}, all->rect().center());
    QCOMPARE(window.boxStates(), allRows(window, true));

    Trail status([&] { return window.text("labelStatus"); });
    window.doubleClickRow(window.rowOf(QStringLiteral("FOLDER01")));
    QTRY_VERIFY_WITH_TIMEOUT(window.names() == (QStringList{"TAKE_44k16.WAV", "TAKE_96k24.WAV"})
                                 && window.isStandby(),
                             ExchangeTimeoutMs);
    QCOMPARE(status.values, (QStringList{"", "Communicating...", ""}));
    QCOMPARE(window.boxStates(), (QList<bool>{false, false}));
    QVERIFY(all->isChecked());
    QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));

    // And back up with the return button.
    window.button("pushButtonReturn")->click();
    QVERIFY(!window.table()->isEnabled());
    QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
    QTRY_VERIFY_WITH_TIMEOUT(window.names().contains(QStringLiteral("FOLDER01")) && window.isStandby(),
                             ExchangeTimeoutMs);
    QCOMPARE(window.boxStates(), allRows(window, false));
}

void tst_MainWindow::fileClickShowsDetails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("picture");   // empty: no picture
    QTest::addRow("upper-case-wav-gets-no-picture")
        << "ZV_0001.WAV" << "WAV  48000Hz 16bit" << "00:00:02" << QString();
    QTest::addRow("bwf") << "ZV_0003_BWF.WAV" << "BWF  48000Hz 24bit" << "00:00:03" << QString();
    QTest::addRow("lower-case-mp3-gets-its-picture")
        << "live.mp3" << "MP3  44100Hz 128kbps" << "00:00:05" << ":/images/resource/ZV_06_02_mp3_L.png";
}

void tst_MainWindow::fileClickShowsDetails()
{
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(QString, length);
    QFETCH(QString, picture);

    Window window;
    QVERIFY(waitConnected(window));
    window.clickRow(window.rowOf(name));

    // At once: what the listing knows, and the request is under way.
    QCOMPARE(window.text("labelDetailName"), name);
    const QFileInfo info(source(name));
    QCOMPARE(window.text("labelDetailSize"),
             QLocale(QLocale::English).toString(info.size()) + QStringLiteral(" bytes"));
    QDateTime modified = info.lastModified();   // the recorder keeps even seconds
    modified = modified.addSecs(-(modified.time().second() % 2)).addMSecs(-modified.time().msec());
    QCOMPARE(window.text("labelDetailDate"), modified.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
    QCOMPARE(window.text("labelDetailFormat"), QString());
    QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
    QVERIFY(!window.button("settingButton")->isEnabled());
    const QPixmap shown = window.label("labelTypeIcon")->pixmap(Qt::ReturnByValue);
    if (picture.isEmpty())
        QVERIFY(shown.isNull());
    else
        QCOMPARE(shown.toImage(), QPixmap(picture).toImage());

    // Then the recorder's details.
    QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
    QCOMPARE(window.text("labelDetailFormat"), format);
    QCOMPARE(window.text("labelDetailMusicLength"), length);
    QCOMPARE(window.text("labelStatus"), QString());

    // A folder row only says "Standby." and leaves the panel as it was.
    window.label("labelInfo")->setText(QStringLiteral("-"));
    window.clickRow(window.rowOf(QStringLiteral("FOLDER01")));
    QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
    QCOMPARE(window.text("labelDetailName"), name);
    QCOMPARE(window.text("labelDetailFormat"), format);
    QVERIFY(window.isStandby());
}

// The detail slot's texts, including values the demo files never produce.
void tst_MainWindow::detailTexts_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<uint>("samples");
    QTest::addColumn<QString>("formatText");
    QTest::addColumn<QString>("lengthText");
    QTest::addRow("mp3-bitrate-truncates") << 1 << 44100u << 127999u << 0u << "MP3  44100Hz 127kbps" << "00:00:00";
    QTest::addRow("hours-do-not-wrap") << 2 << 10u << 24u << 3600000u << "WAV  10Hz 24bit" << "100:00:00";
    QTest::addRow("h-m-s-padded") << 3 << 1u << 16u << 3725u << "BWF  1Hz 16bit" << "01:02:05";
    QTest::addRow("zero-rate-does-not-divide") << 2 << 0u << 16u << 96000u << "WAV  0Hz 16bit" << "--:--:--";
    QTest::addRow("unknown-format") << 7 << 44100u << 16u << 44100u << "unknown" << "00:00:01";
}

void tst_MainWindow::detailTexts()
{
    QFETCH(int, format);
    QFETCH(uint, rate);
    QFETCH(uint, bits);
    QFETCH(uint, samples);
    QFETCH(QString, formatText);
    QFETCH(QString, lengthText);

    storeSettings(QString());
    Window window;
    QVERIFY(QMetaObject::invokeMethod(window.get(), "getFileDetailFinished", Q_ARG(ZVFileFormat, ZVFileFormat(format)),
                                      Q_ARG(uint, rate), Q_ARG(uint, bits), Q_ARG(uint, samples)));
    QCOMPARE(window.text("labelDetailFormat"), formatText);
    QCOMPARE(window.text("labelDetailMusicLength"), lengthText);
}

void tst_MainWindow::musicMtrOnlyForZV61KT_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("offered");
    QTest::addRow("model-prefix-offers-both") << "ZV-61KT-1234" << true;
    QTest::addRow("lower-case-prefix-does-not") << "zv-61kt" << false;
    QTest::addRow("empty-name-does-not") << "" << false;
    QTest::addRow("leading-blank-does-not") << " ZV-61KT" << false;
    QTest::addRow("other-model-does-not") << "ZV-60KT" << false;
}

// The window connects to the test's address; the name is changed in the
// settings dialog while connected (the link stays, the check reads the new
// name). The names are never looked up: the controller only resolves at a
// poll that finds no connection, and the address is put back at the end.
void tst_MainWindow::musicMtrOnlyForZV61KT()
{
    QFETCH(QString, name);
    QFETCH(bool, offered);

    Window window;
    QVERIFY(waitConnected(window));
    window.enterNetworkName(name);
    QCOMPARE(window.ssid(), name);

    // A record-mode report runs the standby routine.
    QVERIFY(QMetaObject::invokeMethod(window.get(), "setRecodeMode", Q_ARG(ZVRecordMode, RecordModeMTR)));
    QPushButton *music = window.button("pushButtonMusic");
    QPushButton *mtr = window.button("pushButtonMTR");
    QCOMPARE(music->isEnabled(), offered);
    QCOMPARE(mtr->isEnabled(), offered);
    QCOMPARE(mtr->isChecked(), offered);
    QVERIFY(!music->isChecked());

    if (offered) {
        // The multitrack tree and back, through the recorder.
        QTest::mouseClick(mtr, Qt::LeftButton);
        QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
        QTRY_VERIFY_WITH_TIMEOUT(window.names().contains(QStringLiteral("SONG0001")) && window.isStandby(),
                                 ExchangeTimeoutMs);
        QVERIFY(mtr->isChecked() && !music->isChecked());
        QCOMPARE(simulator.recordMode(), int(RecordModeMTR));

        QTest::mouseClick(music, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.names().contains(QStringLiteral("FOLDER01")) && window.isStandby(),
                                 ExchangeTimeoutMs);
        QVERIFY(music->isChecked() && !mtr->isChecked());
    }

    window.enterNetworkName(Address);
    QCOMPARE(window.ssid(), Address);
}

void tst_MainWindow::sortingKeepsCheckBoxesWithTheirEntries()
{
    Window window;
    QVERIFY(waitConnected(window));
    QStringList ticked{"FOLDER01", "ZV_0002.WAV", "live.mp3"};
    for (const QString &name : qAsConst(ticked))
        window.tick(name);

    auto boxesFollowEntries = [&] {
        const QStringList names = window.names();
        const QList<bool> states = window.boxStates();
        for (int row = 0; row < names.size(); ++row) {
            if (states.at(row) != ticked.contains(names.at(row)))
                return false;
        }
        return true;
    };
    QVERIFY(boxesFollowEntries());

    QSet<QString> orders{window.names().join('|')};
    for (int column : {3, 3, 1, 1, 2}) {
        window.clickHeader(column);
        QCOMPARE(window.table()->horizontalHeader()->sortIndicatorSection(), column);
        QVERIFY2(boxesFollowEntries(), qPrintable(window.names().join('|')));
        orders << window.names().join('|');
    }
    QVERIFY(orders.size() >= 3);   // the rows really moved

    // A box ticked after sorting belongs to the entry in its row.
    window.tick(QStringLiteral("ZV_0001.WAV"));
    ticked << QStringLiteral("ZV_0001.WAV");
    window.clickHeader(3);
    QVERIFY(boxesFollowEntries());
}

void tst_MainWindow::heldButtonsShowTheirOnPicture_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("released");
    QTest::addRow("download") << "downloadButton" << "ZV_05_01_3" << "ZV_05_01_2";
    QTest::addRow("settings") << "settingButton" << "ZV_05_02_3" << "ZV_05_02_2";
    QTest::addRow("return") << "pushButtonReturn" << "ZV_02_02_3" << "ZV_02_02_2";
}

void tst_MainWindow::heldButtonsShowTheirOnPicture()
{
    QFETCH(QString, button);
    QFETCH(QString, held);
    QFETCH(QString, released);

    Window window;
    QVERIFY(waitConnected(window));
    QPushButton *pushButton = window.button(qPrintable(button));
    auto shows = [pushButton](const QString &picture) {
        const QPixmap expected(QStringLiteral(":/images/resource/%1.png").arg(picture));
        const QImage shown = pushButton->icon().pixmap(expected.size()).toImage();
        return shown.convertToFormat(QImage::Format_ARGB32) == expected.toImage().convertToFormat(QImage::Format_ARGB32);
    };
    QVERIFY(!shows(held));

    // Settings opens its dialog on release: close it again.
    if (button == QLatin1String("settingButton"))
        whenShown<QDialog>([](QDialog *dialog) { dialog->reject(); });
    QTest::mousePress(pushButton, Qt::LeftButton);
    QVERIFY(shows(held));
    QTest::mouseRelease(pushButton, Qt::LeftButton);
    QVERIFY(shows(released));
    // No file is checked: download did nothing; return asked for the parent.
    QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
}

void tst_MainWindow::downloadShowsProgressPerFile_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("existing");   // a same-size file already in the folder
    QTest::addRow("three-new-files") << QStringList{"README.TXT", "ZV_0001.WAV", "ZV_0004.MP3"} << QString();
    QTest::addRow("skipped-same-size-file-is-counted")
        << QStringList{"README.TXT", "ZV_0001.WAV", "ZV_0004.MP3"} << "ZV_0001.WAV";
    QTest::addRow("only-empty-files-fill-the-bar-at-the-end") << QStringList{"SILENT.WAV"} << QString();
}

void tst_MainWindow::downloadShowsProgressPerFile()
{
    QFETCH(QStringList, files);
    QFETCH(QString, existing);

    QTemporaryDir target;
    QVERIFY(target.isValid());
    if (!existing.isEmpty()) {
        // Same size, other bytes: the default rule (overwrite only when the
        // size differs) leaves it as it is.
        QFile file(target.filePath(existing));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(int(QFileInfo(source(existing)).size()), 'x'));
    }
    // Slow enough that every file's texts stay up for a while.
    simulator.setThrottle(1024 * 1024);

    Window window;
    QVERIFY(waitConnected(window));
    for (const QString &name : qAsConst(files))
        window.tick(name);
    qint64 total = 0;
    for (const QString &name : qAsConst(files))
        total += QFileInfo(source(name)).size();

    Trail status([&] { return window.text("labelStatus"); });
    Trail info([&] { return window.text("labelInfo"); });
    Trail detail([&] { return window.text("labelDetail"); });
    QSignalSpy bar(window.widget<QProgressBar>("progressBar"), &QProgressBar::valueChanged);
    const QString startedIn = window.download(target.path());
    QCOMPARE(startedIn, saveDirectory);

    const QString done = QStringLiteral("%1 files completed.").arg(files.size());
    QTRY_VERIFY_WITH_TIMEOUT(window.text("labelInfo") == done, 10000);
    QVERIFY(window.isStandby());
    QCOMPARE(window.progress(), 1000);

    QStringList expectedStatus{QString()};
    for (int n = 1; n <= files.size(); ++n)
        expectedStatus << QStringLiteral(" %1 / %2 files").arg(n).arg(files.size());
    expectedStatus << QString();
    QCOMPARE(status.values, expectedStatus);

    for (const QString &name : qAsConst(files)) {
        const QString started = name + QStringLiteral(" - ") + QString::number(QFileInfo(source(name)).size())
            + QStringLiteral(" bytes");
        QVERIFY2(info.values.contains(started), qPrintable(info.values.join('|')));
        if (name == existing)
            QCOMPARE(readAll(target.filePath(name)), QByteArray(int(QFileInfo(source(name)).size()), 'x'));
        else
            QCOMPARE(readAll(target.filePath(name)), readAll(source(name)));
    }
    QCOMPARE(info.values.last(), done);
    // The last progress text before standby empties the line.
    QCOMPARE(detail.values.last(), QString());
    QCOMPARE(detail.values.at(detail.values.size() - 2), QStringLiteral("download %1 / %1").arg(total));

    // The bar only grows; with nothing to count it stays at 0 until the end.
    QList<int> values;
    for (const QList<QVariant> &change : qAsConst(bar))
        values << change.at(0).toInt();
    QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(QString::number(values.size())));
    QCOMPARE(values.last(), 1000);
    if (total == 0)
        QCOMPARE(values, (QList<int>{1000}));
}

void tst_MainWindow::cancelShowsCanceled()
{
    QTemporaryDir target;
    QVERIFY(target.isValid());
    const QString name = QStringLiteral("ZV_0002.WAV");
    simulator.setThrottle(256 * 1024);
    QSignalSpy requests(&simulator, &RecorderSimulator::requestReceived);

    Window window;
    QVERIFY(waitConnected(window));
    window.tick(name);
    window.download(target.path());
    QVERIFY(window.button("cancelButton")->isEnabled());
    QVERIFY(!window.button("downloadButton")->isEnabled());
    QTRY_VERIFY(window.progress() > 0);

    QTest::mouseClick(window.button("cancelButton"), Qt::LeftButton);
    QTRY_COMPARE(window.text("labelInfo"), QStringLiteral("download canceled."));
    QVERIFY(window.isStandby());
    QCOMPARE(window.progress(), 0);
    QCOMPARE(window.text("labelDetail"), QString());

    // The recorder's confirmation says the same again; the link still works.
    QVERIFY(waitForRequest(requests, CancelRequestCode));
    simulator.setThrottle(0);
    window.clickRow(window.rowOf(QStringLiteral("ZV_0001.WAV")));
    QTRY_VERIFY_WITH_TIMEOUT(window.isStandby() && !window.text("labelDetailFormat").isEmpty(), ExchangeTimeoutMs);

    // The partial file stays, holding the start of the recording.
    const QByteArray partial = readAll(target.filePath(name));
    const QByteArray whole = readAll(source(name));
    QVERIFY(!partial.isEmpty());
    QVERIFY(partial.size() < whole.size());
    QCOMPARE(partial, whole.left(partial.size()));
}

void tst_MainWindow::downloadErrorStaysReadable_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("code");
    QTest::addRow("bad-checksum") << "checksum" << "E6";
    QTest::addRow("offset-gap") << "offset" << "E5";
}

// A failed check cancels the download; the cancel confirmed by the recorder
// must leave the error's two lines readable.
void tst_MainWindow::downloadErrorStaysReadable()
{
    QFETCH(QString, fault);
    QFETCH(QString, code);

    QTemporaryDir target;
    QVERIFY(target.isValid());
    if (fault == QLatin1String("checksum"))
        simulator.setCorruptCheckAt(2);
    else
        simulator.setWrongOffsetAt(2);
    QSignalSpy requests(&simulator, &RecorderSimulator::requestReceived);

    Window window;
    QVERIFY(waitConnected(window));
    window.tick(QStringLiteral("ZV_0001.WAV"));
    window.tick(QStringLiteral("ZV_0002.WAV"));
    window.download(target.path());

    const QRegularExpression errorLine(QStringLiteral("^An error has occurred\\.\\(code : %1-\\d+-\\d+\\)$").arg(code));
    QTRY_VERIFY_WITH_TIMEOUT(errorLine.match(window.text("labelInfo")).hasMatch(), ExchangeTimeoutMs);
    QCOMPARE(window.text("labelDetail"), Advice);

    // The recorder confirms the cancel; the window is back in standby...
    QVERIFY(waitForRequest(requests, CancelRequestCode));
    QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
    // ...and still says why.
    QVERIFY2(errorLine.match(window.text("labelInfo")).hasMatch(), qPrintable(window.text("labelInfo")));
    QCOMPARE(window.text("labelDetail"), Advice);
    QCOMPARE(window.text("labelStatus"), QString());
    QCOMPARE(window.progress(), 0);
    // The second file was never started.
    QVERIFY(!QFile::exists(target.filePath(QStringLiteral("ZV_0002.WAV"))));

    // The next download starts clean: a user's cancel reads as such.
    simulator.clearFaults();
    simulator.setThrottle(256 * 1024);
    window.download(target.path());
    QTRY_VERIFY(window.progress() > 0);
    QTest::mouseClick(window.button("cancelButton"), Qt::LeftButton);
    QTRY_COMPARE(window.text("labelInfo"), QStringLiteral("download canceled."));
}

// A folder of 5000 entries: every row with its own box, in reasonable time
// from the connection (the controller's 500 ms pause included).
void tst_MainWindow::fiveThousandEntriesFillTheTable()
{
    constexpr int Entries = 5000;
    constexpr int FillLimitMs = 10000;
    DemoTree many;
    DemoTree::Options options;
    options.manyFiles = Entries;
    QVERIFY(many.generate(scratch.filePath(QStringLiteral("many")), options));
    const QString musicRoot = simulator.musicRoot();
    simulator.setMusicRoot(QDir(many.musicRoot()).filePath(DemoTree::manyFolderName()));
    auto restore = qScopeGuard([&] { simulator.setMusicRoot(musicRoot); });

    QElapsedTimer sinceConnection;
    connect(&simulator, &RecorderSimulator::clientConnected, this, [&] { sinceConnection.start(); });
    Window window;
    QVERIFY(QTest::qWaitFor([&] { return window.model()->rowCount() == Entries && window.isStandby(); }, 30000));
    const qint64 filled = sinceConnection.elapsed();
    qInfo("%d entries: table filled %lld ms after the connection", Entries, filled);
    QVERIFY2(filled < FillLimitMs, qPrintable(QString::number(filled)));
    simulator.disconnect(this);

    QCOMPARE(window.names().first(), DemoTree::manyFileName(1));
    QCOMPARE(window.names().last(), DemoTree::manyFileName(Entries));
    QVERIFY(window.rowBox(0) && window.rowBox(Entries - 1));
    QCOMPARE(window.boxStates().count(true), 0);
}

// The one 30 s wait: a request the recorder never answers ends with the
// window dropping the link; the next poll searches and reconnects.
// The recorder goes silent in the middle of a transfer (no FIN, no RST): the
// watchdog drops the link 30 s after the last progress, and the next poll
// connects and lists again.
void tst_MainWindow::watchdogDropsASilentRecorder()
{
    QTemporaryDir target;
    QVERIFY(target.isValid());
    const QString name = QStringLiteral("ZV_0002.WAV");
    QSignalSpy reconnected(&simulator, &RecorderSimulator::clientConnected);
    Window window;
    QVERIFY(waitConnected(window));
    QSignalSpy disconnectRequested(window.get(), &MainWindow::requestDisconnect);
    reconnected.clear();

    simulator.setDropAfter(300000, RecorderSimulator::DropMode::Silent);
    window.tick(name);
    window.download(target.path());
    QTRY_VERIFY(window.text("labelDetail").startsWith(QStringLiteral("download ")));
    QElapsedTimer waited;
    waited.start();

    QVERIFY(disconnectRequested.wait(WatchdogMs + 5000));
    QVERIFY2(waited.elapsed() >= WatchdogEarliestMs, qPrintable(QString::number(waited.elapsed())));
    QCOMPARE(disconnectRequested.count(), 1);
    const QByteArray partial = readAll(target.filePath(name));
    QVERIFY(partial.size() > 0 && partial.size() < QFileInfo(source(name)).size());
    QVERIFY(partial == readAll(source(name)).left(partial.size()));

    QTRY_VERIFY_WITH_TIMEOUT(window.isSearching(), PollIntervalMs + 2000);
    QCOMPARE(window.model()->rowCount(), 0);
    QVERIFY(reconnected.count() || reconnected.wait(ConnectTimeoutMs));
    QVERIFY(waitConnected(window));
    QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
    QVERIFY(window.model()->rowCount() > 0);
}

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
