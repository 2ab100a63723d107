// The window as desktop software: its command line (the built program, no
// display), its kept place and size, closing during a download, the notice
// of a long download, its pictures at scale 1 and 2. Against the simulator on
// this test's loopback address, with a scratch XDG_CONFIG_HOME.
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
#include "ui/hidpipicture.h"
#include "ui/mainwindow.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
const QString SlowFile = QStringLiteral("ZV_0002.WAV"); // about 1.1 s at the throttle below
constexpr qint64 SlowRate = 1024 * 1024;

class TestWindow : public MainWindow
{
public:
    QString chosen;
    bool stopAnswer = false;
    int stopAsked = 0;
    QStringList announced;

    QString text(const char *name) const { return findChild<QLabel *>(QLatin1String(name))->text(); }
    QPushButton *button(const char *name) const { return findChild<QPushButton *>(QLatin1String(name)); }
    // Ticks `name` once listed, downloads it into `chosen` and waits for
    // its first data when `untilData`.
    bool download(const QString &name, bool untilData = true)
    {
        QAbstractItemModel *model = findChild<QTableView *>()->model();
        if (!QTest::qWaitFor([&] { return model->rowCount() > 0 && button("downloadButton")->isEnabled(); }, 5000))
            return false;
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 1).data().toString() == name)
                model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
        }
        button("downloadButton")->click();
        return !untilData
            || QTest::qWaitFor([&] { return text("labelDetail").startsWith(QLatin1String("download ")); }, 5000);
    }

protected:
    QString chooseSaveDirectory(const QString &) override { return chosen; }
    bool confirmStopDownload() override { return ++stopAsked && stopAnswer; }
    void notifyDesktop(const QString &body) override { announced << body; }
};
} // namespace

class tst_WindowDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
        QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
    }
    void init()
    {
        simulator.clearFaults();
        simulator.setThrottle(0);
        AppSettings().setSSID(Address);
    }
    // The simulator serves one client: the next window must find it free.
    void cleanup() { QTRY_VERIFY(!simulator.hasClient()); }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // stdout, or stderr on a usage error
        QTest::addColumn<bool>("whole");     // else its beginning
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
    // Without a display: made before the options are read, the window's
    // application would fail first.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(bool, whole);
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

    // The next window opens as large as the last one was closed; closing an
    // idle window asks nothing, and the user's settings stay.
    void placeAndSizeKeptAcrossRuns()
    {
        AppSettings().setSSID(QString());
        TestWindow window;
        window.show();
        QCOMPARE(window.size(), QSize(816, 576));
        window.resize(905, 641);
        QTRY_COMPARE(window.size(), QSize(905, 641));
        QVERIFY(window.close());
        QCOMPARE(window.stopAsked, 0);
        QCOMPARE(AppSettings().getSSID(), QString());
        QCOMPARE(TestWindow().size(), QSize(905, 641));
    }

    void closingWhileDownloadingAsks_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addRow("no-keeps-the-window-and-the-download") << false;
        QTest::addRow("yes-quits-leaving-the-part-file") << true;
    }
    void closingWhileDownloadingAsks()
    {
        QFETCH(bool, stop);
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        auto window = std::make_unique<TestWindow>();
        window->show();
        window->chosen = target.path();
        window->stopAnswer = stop;
        QVERIFY(window->download(SlowFile));
        QCOMPARE(window->close(), stop);
        QCOMPARE(window->stopAsked, 1);
        const QByteArray source = readAll(QDir(simulator.musicRoot()).filePath(SlowFile));
        if (!stop) {
            QTRY_COMPARE_WITH_TIMEOUT(window->text("labelInfo"), QStringLiteral("1 files completed."), 10000);
            QCOMPARE(readAll(target.filePath(SlowFile)), source);
            return;
        }
        window.reset();
        QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{SlowFile + ".part"});
        const QByteArray partial = readAll(target.filePath(SlowFile + ".part"));
        QVERIFY(partial.size() > 0 && partial.size() < source.size() && source.startsWith(partial));
    }

    void longDownloadAnnouncedOnlyWhenInactive_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("longMs");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("announced"); // its beginning
        QTest::addRow("completed-elsewhere") << "complete" << 0 << false << "1 files completed.";
        QTest::addRow("canceled-elsewhere") << "cancel" << 0 << false << "download canceled.";
        QTest::addRow("failed-elsewhere") << "fail" << 0 << false << "An error has occurred.(code : E6-";
        QTest::addRow("completed-watched") << "complete" << 0 << true << QString();
        QTest::addRow("short") << "complete" << 3600000 << false << QString();
    }
    void longDownloadAnnouncedOnlyWhenInactive()
    {
        QFETCH(QString, end);
        QFETCH(int, longMs);
        QFETCH(bool, active);
        QFETCH(QString, announced);
        QTemporaryDir target;
        simulator.setThrottle(end == QLatin1String("cancel") ? SlowRate : 0);
        simulator.setCorruptCheckAt(end == QLatin1String("fail") ? 1 : -1);
        TestWindow window;
        QWidget elsewhere;
        QWidget *focus = active ? static_cast<QWidget *>(&window) : &elsewhere;
        window.show();
        focus->show();
        focus->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(focus));
        window.setLongDownloadMs(longMs);
        window.chosen = target.path();
        QVERIFY(window.download(SlowFile, end == QLatin1String("cancel")));
        if (end == QLatin1String("cancel"))
            window.button("cancelButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.button("downloadButton")->isEnabled(), 10000);
        QCOMPARE(window.announced.size(), announced.isEmpty() ? 0 : 1);
        QVERIFY(announced.isEmpty() || window.announced.first().startsWith(announced));
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

private:
    RecorderSimulator simulator;
    QTemporaryDir scratch;
};

int main(int argc, char *argv[])
{
    // A private settings location, before Qt first looks for it.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    tst_WindowDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowdesktop.moc"
