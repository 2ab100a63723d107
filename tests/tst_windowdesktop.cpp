// The window as a desktop program: its command line (run as the built
// program, without a display), its place and size kept across runs, closing
// while a download runs, the announcement of a long download, and its
// pictures on 1x and 2x screens. Downloads run against the in-process
// recorder simulator on this test's own loopback address; the settings live
// in a scratch XDG_CONFIG_HOME.
#include <QApplication>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <memory>

#include "base/appconstants.h"
#include "base/appsettings.h"
#include "controllerfixture.h"
#include "ui/downloadfilemodel.h"
#include "ui/hidpipicture.h"
#include "ui/mainwindow.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString Program = QStringLiteral(ZV_WINDOW_BIN);
// A slow file: about 1.1 MB at 1 MB/s.
const QString SlowFile = QStringLiteral("ZV_0002.WAV");
constexpr qint64 SlowRate = 1024 * 1024;
constexpr int ConnectTimeoutMs = 5000;
constexpr int DownloadTimeoutMs = 10000;

void storeSettings(const QString &ssid)
{
    AppSettings settings;
    settings.clear();
    settings.setSSID(ssid);
}

// The window with its questions answered and its announcements kept.
class TestWindow : public MainWindow
{
public:
    QString chosen;
    bool stopAnswer = false;
    int stopAsked = 0;
    QStringList announced;

    QLabel *label(const char *name) const { return findChild<QLabel *>(QString::fromLatin1(name)); }
    QPushButton *button(const char *name) const { return findChild<QPushButton *>(QString::fromLatin1(name)); }
    QAbstractItemModel *model() const { return findChild<QTableView *>(QStringLiteral("filelistTableView"))->model(); }
    bool isListed() const { return model()->rowCount() > 0 && button("downloadButton")->isEnabled(); }
    void tick(const QString &name) const
    {
        for (int row = 0; row < model()->rowCount(); ++row) {
            if (model()->index(row, DownloadFileModel::ColumnName).data().toString() == name)
                model()->setData(model()->index(row, DownloadFileModel::ColumnCheck), Qt::Checked, Qt::CheckStateRole);
        }
    }

protected:
    QString chooseSaveDirectory(const QString &) override { return chosen; }
    bool confirmStopDownload() override
    {
        ++stopAsked;
        return stopAnswer;
    }
    void notifyDesktop(const QString &body) override { announced << body; }
};

QImage pictureImage(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}
} // namespace

class tst_WindowDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLine_data();
    void commandLine();
    void placeAndSizeKeptAcrossRuns();
    void closingWhileDownloadingAsks_data();
    void closingWhileDownloadingAsks();
    void longDownloadAnnouncedOnlyWhenInactive_data();
    void longDownloadAnnouncedOnlyWhenInactive();
    void picturesForTheScreen();

private:
    // A shown window, connected and listing.
    std::unique_ptr<TestWindow> connectedWindow()
    {
        std::unique_ptr<TestWindow> window(new TestWindow);
        window->show();
        if (!QTest::qWaitFor([&] { return window->isListed(); }, ConnectTimeoutMs))
            return nullptr;
        return window;
    }
    QString source(const QString &name) const { return QDir(simulator.musicRoot()).filePath(name); }

    RecorderSimulator simulator;
    QTemporaryDir scratch;
};

void tst_WindowDesktop::initTestCase()
{
    QVERIFY(scratch.isValid());
    QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
    QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
}

void tst_WindowDesktop::init()
{
    simulator.clearFaults();
    simulator.setThrottle(0);
    storeSettings(Address);
}

void tst_WindowDesktop::cleanup()
{
    // The next window must find the simulator free: it serves one client.
    QTRY_VERIFY(!simulator.hasClient());
}

void tst_WindowDesktop::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addRow("help") << QStringList{"--help"} << 0 << "Usage: zv-file-transfer [options]" << QString();
    QTest::addRow("version-as-zv-transfer-prints-it")
        << QStringList{"--version"} << 0 << QStringLiteral("zv-file-transfer %1\n").arg(ApplicationVersion)
        << QString();
    QTest::addRow("qt-options-pass") << QStringList{"-platform", "offscreen", "-reverse", "-V"} << 0
                                     << QStringLiteral("zv-file-transfer %1\n").arg(ApplicationVersion) << QString();
    QTest::addRow("unknown-option") << QStringList{"--bogus"} << 2 << QString()
                                    << "zv-file-transfer: Unknown option 'bogus'.";
    QTest::addRow("stray-argument") << QStringList{"file.wav"} << 2 << QString()
                                    << "zv-file-transfer: unexpected argument 'file.wav'";
}

// Without a display: a program that made its window's application first
// would fail before reading its options.
void tst_WindowDesktop::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(Program, arguments);
    QVERIFY(program.waitForFinished(10000));
    const QString standardOut = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString standardErr = QString::fromLocal8Bit(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == exitCode, qPrintable(standardErr));
    if (out.endsWith(QLatin1Char('\n')))
        QCOMPARE(standardOut, out);
    else
        QVERIFY2(standardOut.contains(out), qPrintable(standardOut));
    if (err.isEmpty()) {
        QCOMPARE(standardErr, QString());
    } else {
        QVERIFY2(standardErr.startsWith(err), qPrintable(standardErr));
        QVERIFY(standardErr.contains(QStringLiteral("Usage: zv-file-transfer")));
    }
}

// Closing an idle window asks nothing; the next window opens where the last
// one was closed, and the user's settings stay as they were.
void tst_WindowDesktop::placeAndSizeKeptAcrossRuns()
{
    storeSettings(QString());
    const QSize size(905, 641);
    {
        TestWindow window;
        window.show();
        QCOMPARE(window.size(), QSize(816, 576)); // a first run: the form's size
        window.resize(size);
        QTRY_COMPARE(window.size(), size);
        QVERIFY(window.close());
        QCOMPARE(window.stopAsked, 0);
    }
    AppSettings settings;
    QCOMPARE(settings.getSSID(), QString());
    QCOMPARE(settings.getSameOption(), SaveNewer);

    TestWindow again;
    QCOMPARE(again.size(), size);
    again.show();
    QCOMPARE(again.size(), size);
}

void tst_WindowDesktop::closingWhileDownloadingAsks_data()
{
    QTest::addColumn<bool>("stop");
    QTest::addRow("no-keeps-the-window-and-the-download") << false;
    QTest::addRow("yes-quits-leaving-the-part-file") << true;
}

void tst_WindowDesktop::closingWhileDownloadingAsks()
{
    QFETCH(bool, stop);
    QTemporaryDir target;
    simulator.setThrottle(SlowRate);
    std::unique_ptr<TestWindow> window = connectedWindow();
    QVERIFY(window);
    window->tick(SlowFile);
    window->chosen = target.path();
    window->stopAnswer = stop;
    window->button("downloadButton")->click();
    QTRY_VERIFY(window->label("labelDetail")->text().startsWith(QStringLiteral("download ")));

    QCOMPARE(window->close(), stop);
    QCOMPARE(window->stopAsked, 1);
    QCOMPARE(window->isVisible(), !stop);
    if (!stop) {
        QTRY_COMPARE_WITH_TIMEOUT(window->label("labelInfo")->text(), QStringLiteral("1 files completed."),
                                  DownloadTimeoutMs);
        QCOMPARE(readAll(target.filePath(SlowFile)), readAll(source(SlowFile)));
        return;
    }
    window.reset();
    QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{SlowFile + QStringLiteral(".part")});
    const QByteArray partial = readAll(target.filePath(SlowFile + QStringLiteral(".part")));
    QVERIFY(partial.size() > 0 && partial.size() < QFileInfo(source(SlowFile)).size());
    QVERIFY(readAll(source(SlowFile)).startsWith(partial));
}

void tst_WindowDesktop::longDownloadAnnouncedOnlyWhenInactive_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("longMs");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QString>("announced");
    const QString completed = QStringLiteral("1 files completed.");
    QTest::addRow("completed-while-elsewhere") << "complete" << 0 << false << completed;
    QTest::addRow("canceled-while-elsewhere") << "cancel" << 0 << false << "download canceled.";
    QTest::addRow("failed-while-elsewhere") << "fail" << 0 << false << "An error has occurred.(code : E6-";
    QTest::addRow("completed-while-watched") << "complete" << 0 << true << QString();
    QTest::addRow("short-download") << "complete" << 3600000 << false << QString();
}

void tst_WindowDesktop::longDownloadAnnouncedOnlyWhenInactive()
{
    QFETCH(QString, end);
    QFETCH(int, longMs);
    QFETCH(bool, active);
    QFETCH(QString, announced);
    QTemporaryDir target;
    if (end == QLatin1String("cancel"))
        simulator.setThrottle(SlowRate);
    if (end == QLatin1String("fail"))
        simulator.setCorruptCheckAt(1);
    std::unique_ptr<TestWindow> window = connectedWindow();
    QVERIFY(window);
    QWidget elsewhere;
    if (active) {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    } else {
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    }
    QCOMPARE(window->isActiveWindow(), active);
    window->setLongDownloadMs(longMs);
    window->tick(SlowFile);
    window->chosen = target.path();
    window->button("downloadButton")->click();
    if (end == QLatin1String("cancel")) {
        QTRY_VERIFY(window->label("labelDetail")->text().startsWith(QStringLiteral("download ")));
        window->button("cancelButton")->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(window->button("downloadButton")->isEnabled(), DownloadTimeoutMs);
    if (announced.isEmpty()) {
        QCOMPARE(window->announced, QStringList());
    } else {
        QCOMPARE(window->announced.size(), 1);
        QVERIFY2(window->announced.first().startsWith(announced), qPrintable(window->announced.first()));
    }
}

// Every picture has its double-size twin; on a 1x screen the window shows
// the 1x files as they stand, on a 2x screen the twins at the same size in
// pixels of the layout.
void tst_WindowDesktop::picturesForTheScreen()
{
    int pictures = 0;
    for (QDirIterator it(QStringLiteral(":/images/resource")); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String("@2x.png")))
            continue;
        ++pictures;
        const QImage single(path);
        const QImage twin(HiDpiPicture::doubleSizePath(path));
        QVERIFY2(twin.size() == single.size() * 2, qPrintable(path));
        const QPixmap atOne = HiDpiPicture::pixmap(path, 1.0);
        QCOMPARE(atOne.devicePixelRatio(), 1.0);
        QCOMPARE(pictureImage(atOne), single.convertToFormat(QImage::Format_ARGB32));
        const QPixmap atTwo = HiDpiPicture::pixmap(path, 2.0);
        QCOMPARE(atTwo.devicePixelRatio(), 2.0);
        QCOMPARE(pictureImage(atTwo), twin.convertToFormat(QImage::Format_ARGB32));
    }
    QCOMPARE(pictures, 29);
}

int main(int argc, char *argv[])
{
    // A private settings location, before Qt first looks for it.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    tst_WindowDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowdesktop.moc"
