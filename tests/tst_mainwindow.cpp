// The main window with the in-process recorder simulator, driven through
// its widgets' object names as a user drives it: the settings dialog,
// connecting, details, the overlay and the window's size, the recorder
// texts, the window in German, the watchdog with a recorder that
// never lists, closing with a busy worker, the pictures for the screen, and
// the built program's command line. Pictures of the searching and standby
// states go to screenshots/ beside this executable. Downloads, a large
// folder, browsing and the keys are tst_windowdownload's.
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>

#include "base/appconstants.h"
#include "base/downloadfileinfo.h"
#include "ui/hidpipicture.h"
#include "ui/translationloader.h"
#include "windowfixture.h"

// The recording clicked; the format, length and picture shown (empty: none);
// the error code shown once the answer is in (empty: none, standby).
struct DetailRow
{
    QString name, format, length, picture, error;
};
Q_DECLARE_METATYPE(DetailRow)

// Arguments, exit code, the beginning of stdout (stderr on a usage error),
// and texts that begin a line of it.
struct CommandLineRow
{
    QStringList arguments;
    int exitCode;
    QString output;
    QStringList lines = {};
};
Q_DECLARE_METATYPE(CommandLineRow)

namespace {
const QLocale German(QLocale::German, QLocale::Germany);
// Closing waits about 2 s for a busy worker, then goes.
constexpr int CloseBoundMs = 2500;

// Any clearly red pixel (rich text asked for red letters).
bool hasRed(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32); // rows without padding
    const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
    return std::any_of(pixels, pixels + image.width() * image.height(),
                       [](QRgb c) { return qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100; });
}
} // namespace

class tst_MainWindow : public QObject, WindowFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(); }
    void init() { reset(); }
    void cleanup() { done(); }
    void cleanupTestCase() { dropWindow(); }

    // In German: the first poll finds no connection (searching, under the
    // overlay), then connects and names the network; the form, the table and
    // a recording's details speak German, its size grouped the German way.
    void searchingThenStandbyWithTheNetworkName()
    {
        TranslationLoader::install(*qApp, German);
        auto english = qScopeGuard([] { TranslationLoader::install(*qApp, QLocale::c()); });
        Window window;
        Trail target([&] { return window.text("labelTarget"); });
        Trail overlay([&] { return QString::number(window.overlay()->isVisible()); });
        QVERIFY(waitConnected(window));
        QCOMPARE(target.values, (QStringList{"ZV-61KT", "Suche läuft...", Address}));
        QCOMPARE(overlay.values, (QStringList{"0", "1", "0"}));
        QCOMPARE(window.text("labelInfo"), "Bereit.");
        QCOMPARE(window.text("label_7"), "Spieldauer");
        QCOMPARE(window.model()->headerData(DownloadFileModel::ColumnSize, Qt::Horizontal).toString(), "Größe");
        window.clickRow(window.rowOf(QStringLiteral("ZV_0001.WAV")));
        QCOMPARE(window.text("labelStatus"), "Kommunikation...");
        QCOMPARE(window.text("labelDetailSize"),
                 German.toString(QFileInfo(source(QStringLiteral("ZV_0001.WAV"))).size()) + " Byte");
        QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
        shoot(window.get(), QStringLiteral("german"));
    }

    // The overlay follows the window's size, its pictures are never drawn over
    // a detail label shown beneath them, and the table keeps its place; texts
    // from the recorder (a name in the detail panel and the status line, and
    // an error line) show letter for letter without widening the window; the
    // next window opens as large as the last one was closed, and closing an
    // idle window asks nothing and keeps the user's settings.
    void overlayAndWindowSize()
    {
        AppSettings().setSSID(QString()); // nothing to connect to, and nothing to look up
        {
            Window window;
            QCOMPARE(window->size(), QSize(816, 576));
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QTRY_VERIFY(window.isSearching());
            shoot(window.get(), QStringLiteral("searching"));

            QList<QWidget *> details = window.widget<QFrame>("frame_2")->findChildren<QWidget *>();
            details << window.widget<QLabel>("labelTypeIcon");
            auto coversAndKeepsClear = [&] {
                const int top = window.widget<QFrame>("frameButtonBar")->mapTo(window.get(), QPoint(0, 0)).y();
                QStringList covered;
                for (const QLabel *picture : window.overlay()->findChildren<QLabel *>()) {
                    const QRect drawn(picture->mapTo(window.get(), QPoint()), picture->size());
                    for (const QWidget *detail : qAsConst(details)) {
                        if (detail->isVisible()
                            && drawn.intersects(QRect(detail->mapTo(window.get(), QPoint()), detail->size())))
                            covered << detail->objectName();
                    }
                }
                QCOMPARE(covered, QStringList());
                QCOMPARE(window.overlay()->geometry(), QRect(0, top, window->width(), window->height() - top));
            };
            coversAndKeepsClear();
            for (const QSize size : {QSize(1100, 760), QSize(905, 641)}) {
                window->resize(size);
                QTRY_COMPARE(window->size(), size);
                coversAndKeepsClear();
            }

            QObject::disconnect(window.get(), &MainWindow::requestFileDetail, nullptr, nullptr);
            for (const QString &name : QStringList{"<font color=red size=6>All 12 files completed.",
                                                   QString(296, QLatin1Char('W')) + QStringLiteral(".WAV")}) {
                auto *entry = new DownloadFileInfo(window.get());
                entry->name = name;
                entry->size = 1234;
                window.fileModel()->append(entry);
                emit window.fileModel()->layoutChanged();
                QVERIFY(QMetaObject::invokeMethod(window.get(), "on_filelistTableView_clicked",
                                                  Q_ARG(QModelIndex, window.model()->index(window.rowOf(name), 1))));
                window->sequenceError(NetworkSocketError, 1, 0);
                window->downloadStarted(name, 1234);
                QTest::qWait(100); // layouts settle, a window that grows does so now
                for (const char *label : {"labelDetailName", "labelInfo"})
                    QVERIFY2(!hasRed(window.widget<QLabel>(label)->grab().toImage()), label);
                QCOMPARE(window->size(), QSize(905, 641));
                QCOMPARE(window.text("labelDetailName"), name);
                QCOMPARE(window.text("labelInfo"), name + QStringLiteral(" - 1234 bytes"));
                QCOMPARE(window.text("labelDetail"), Advice);
            }
            const QRect table = window.table()->geometry();
            window->networkConnected(); // as the controller reports a link
            QVERIFY(!window.overlay()->isVisible());
            QCOMPARE(window.table()->geometry(), table);
            for (const QWidget *detail : qAsConst(details))
                QVERIFY2(detail->isVisible(), qPrintable(detail->objectName()));
            QVERIFY(window->close());
            QCOMPARE(window->stopAsked, 0);
        }
        QCOMPARE(AppSettings().getSaveDirectory(), saveDirectory);
        QCOMPARE(Window()->size(), QSize(905, 641));
    }

    void fileClickShowsDetails_data()
    {
        QTest::addColumn<DetailRow>("row");
        QTest::addRow("upper-wav-no-picture") << DetailRow{"ZV_0001.WAV", "WAV  48000Hz 16bit", "00:00:02", {}, {}};
        QTest::addRow("bwf") << DetailRow{"ZV_0003_BWF.WAV", "BWF  48000Hz 24bit", "00:00:03", {}, {}};
        QTest::addRow("lower-mp3-picture")
            << DetailRow{"live.mp3", "MP3  44100Hz 128kbps", "00:00:05", ":/images/resource/ZV_06_02_mp3_L.png", {}};
        // The recorder has no details of a text file: the error is shown and the
        // window is usable again at once, not after the watchdog.
        QTest::addRow("detail-error-returns-to-standby") << DetailRow{"README.TXT", {}, {}, {}, "E9-0-0"};
    }
    void fileClickShowsDetails()
    {
        QFETCH(DetailRow, row);
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        window.clickRow(window.rowOf(row.name));

        // At once: what the listing knows. (The name shown and the request
        // under way are checked by the window-size and German cases.)
        const QFileInfo info(source(row.name));
        QCOMPARE(window.text("labelDetailSize"), QLocale(QLocale::English).toString(info.size()) + " bytes");
        QDateTime modified = info.lastModified(); // the recorder keeps even seconds
        modified = modified.addSecs(-(modified.time().second() % 2)).addMSecs(-modified.time().msec());
        QCOMPARE(window.text("labelDetailDate"), modified.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")));
        const QPixmap shown = window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue);
        QCOMPARE(shown.toImage(), row.picture.isEmpty() ? QImage() : QPixmap(row.picture).toImage());

        // Then the recorder's details.
        QTRY_VERIFY_WITH_TIMEOUT(window.isStandby(), ExchangeTimeoutMs);
        QCOMPARE(window.text("labelDetailFormat"), row.format);
        QCOMPARE(window.text("labelDetailMusicLength"), row.length);
        QCOMPARE(window.text("labelInfo"),
                 row.error.isEmpty() ? "Standby." : QStringLiteral("An error has occurred.(code : %1)").arg(row.error));
        QCOMPARE(window.text("labelDetail"), row.error.isEmpty() ? QString() : Advice);
        if (row.error.isEmpty())
            shoot(window.get(), QStringLiteral("standby"));
    }

    void musicMtrOnlyForZV61KT_data()
    {
        QTest::addColumn<QString>("ssid");
        QTest::addColumn<bool>("offered"); // both trees
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
        QFETCH(QString, ssid);
        QFETCH(bool, offered);
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        // A cancelled settings dialog writes nothing.
        window.settings(QStringLiteral("127.0.0.254"), QDialogButtonBox::Cancel);
        QCOMPARE(AppSettings().getSSID(), Address);
        window.settings(ssid);
        // A record-mode report runs the standby routine.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "setRecodeMode", Q_ARG(ZVRecordMode, RecordModeMTR)));
        QCOMPARE(window.button("pushButtonMusic")->isEnabled(), offered);
        QCOMPARE(window.button("pushButtonMTR")->isEnabled(), offered);
        QCOMPARE(window.button("pushButtonMTR")->isChecked(), offered);
        if (offered) { // the multitrack tree, through the recorder
            window.button("pushButtonMTR")->click();
            QTRY_VERIFY_WITH_TIMEOUT(window.names().contains(QStringLiteral("SONG0001")) && window.isStandby(),
                                     ExchangeTimeoutMs);
        }
        window.settings(Address);
    }

    // A recorder that takes the connection and never answers the list
    // request: the window stands by with an empty table until the watchdog's
    // 30 s after its last sign of life (the connection) are up. The link has
    // gone then: the window stands by at once, before any poll; the next
    // poll, made now, finds the link gone (searching, an empty table) and
    // connects and lists again.
    void watchdogDropsARecorderThatNeverLists()
    {
        simulator.setUnanswered(CODE_FILE_LIST);
        Window window;
        Trail life([&] { return window.text("labelTarget"); });
        qint64 silentFor = -1;
        QObject context; // goes before what the lambda refers to
        QObject::connect(window.get(), &MainWindow::requestDisconnect, &context,
                         [&] { silentFor = life.sinceChange.elapsed(); });
        QSignalSpy asked(window.get(), &MainWindow::requestDisconnect);
        QTRY_VERIFY_WITH_TIMEOUT(!window.overlay()->isVisible() && window.isStandby(), ConnectTimeoutMs);
        QVERIFY(asked.wait(WatchdogMs + 5000));
        // QTimer's default coarse timers may fire up to 5 % early.
        QVERIFY2(silentFor >= WatchdogMs * 95 / 100, qPrintable(QString::number(silentFor)));
        QCOMPARE(asked.count(), 1);

        QTRY_VERIFY(window.isStandby());
        simulator.setUnanswered(CODE_FILE_LIST, false);
        QMetaObject::invokeMethod(window->findChild<ControllerHost *>()->controller(), "pollingConnection");
        QTRY_VERIFY_WITH_TIMEOUT(window.isSearching(), ConnectTimeoutMs);
        QVERIFY(waitConnected(window));
        QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
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
        QTest::addColumn<CommandLineRow>("row");
        const QString version = QStringLiteral("zv-file-transfer %1\n").arg(ApplicationVersion);
        // The keys are listed with the options.
        QTest::addRow("help") << CommandLineRow{{"--help"},
                                                0,
                                                "Usage: zv-file-transfer [options]\n",
                                                {"  Up, Down, Home, End,", "  Space ", "  Return ", "  Backspace ",
                                                 "  Ctrl+A ", "  Ctrl+N ", "  Escape ", "  Ctrl+Q ", "  Tab "}};
        // The whole of -V and --version: tst_zvtransfer's otherPrograms.
        QTest::addRow("qt-options-pass-and-v-is-the-version")
            << CommandLineRow{{"-platform", "offscreen", "-reverse", "-v"}, 0, version};
        QTest::addRow("unknown-option") << CommandLineRow{
            {"--bogus"}, 2, "zv-file-transfer: Unknown option '--bogus'.\nUsage: zv-file-transfer"};
        QTest::addRow("stray-argument") << CommandLineRow{
            {"a.wav"}, 2, "zv-file-transfer: unexpected argument 'a.wav'\nUsage: zv-file-transfer"};
    }
    // The built program without a display: made before the options are
    // read, the window's application would fail first.
    void commandLine()
    {
        QFETCH(CommandLineRow, row);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(ZV_WINDOW_BIN), row.arguments);
        QVERIFY(program.waitForFinished(10000));
        const QByteArray err = program.readAllStandardError();
        QCOMPARE(program.exitCode(), row.exitCode);
        const QString shown = QString::fromLocal8Bit(row.exitCode ? err : program.readAllStandardOutput());
        QVERIFY2(shown.startsWith(row.output) && (row.exitCode || err.isEmpty()), qPrintable(shown + err));
        for (const QString &text : qAsConst(row.lines))
            QVERIFY2(shown.startsWith(text) || shown.contains('\n' + text), qPrintable(text));
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
                // Compared as the pixmap holds it: unpremultiplying rounds.
                QCOMPARE(shown.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                         (ratio > 1 ? twin : single).convertToFormat(QImage::Format_ARGB32_Premultiplied));
            }
        }
        QCOMPARE(pictures, 29);
    }
};

ZV_WINDOW_TEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
