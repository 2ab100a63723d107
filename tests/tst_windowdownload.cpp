// The main window's downloads against the in-process recorder simulator:
// the check boxes of a large folder, progress per file, how a download ends
// (as the controller reports it, stopped by the recorder, the link lost, the
// watchdog), closing during a download, and the notice of a long download.
// A picture of the downloading state goes to screenshots/ beside this
// executable.
#include <QElapsedTimer>
#include <QScopeGuard>
#include <unistd.h>

#include "sim/replybuilder.h"
#include "windowfixture.h"

// A report of the controller played to the window's slot, or the user's click.
struct Step
{
    enum Kind { Started, Error, Relisted, Finished, Canceled, CancelClick, Details, Reconnected } kind;
    AppErrorCode code = NetworkSocketError;
    int param1 = 0;
};
Q_DECLARE_METATYPE(Step)

// How a download ends.
enum class End { Completes, UserCancels, CheckFails, RecorderStops, LinkCloses, WatchdogDrops };
Q_DECLARE_METATYPE(End)

// How it ends, from how long it counts as long, whether the window is
// active; the notice's beginning (none: empty).
struct NoticeRow
{
    End end;
    int longMs;
    bool active;
    QString announced;
};
Q_DECLARE_METATYPE(NoticeRow)

namespace {
const Step started{Step::Started};
const Step relisted{Step::Relisted};
const Step finished{Step::Finished};
const Step canceled{Step::Canceled};
const Step cancelClick{Step::CancelClick};
const Step details{Step::Details};
const Step reconnected{Step::Reconnected};
Step error(AppErrorCode code, int param1)
{
    return {Step::Error, code, param1};
}
// The watchdog of a case that is not about its 30 s.
constexpr int ShortWatchdogMs = 3000;
// As many rows as crashed the window while each had a check-box widget.
constexpr int LargeFolderRows = 30000;
constexpr int LargeFolderTimeoutMs = 30000;
} // namespace

class tst_WindowDownload : public QObject, WindowFixture
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(); }
    void init() { reset(); }
    void cleanup() { done(); }
    void cleanupTestCase() { dropWindow(); }

    // A folder of 30 000 recordings (empty files, so the folder is quick to
    // write), as many as made a check-box widget per row crash the window: the
    // table fills, paints, sorts and scrolls, and its check boxes work as in a
    // small folder.
    void largeFolderShowsPaintsAndSorts()
    {
        const QDir large(scratch.filePath(QStringLiteral("large")));
        QVERIFY(large.mkpath(QStringLiteral(".")));
        // Hard links to one empty file: on a disk-backed temporary folder as
        // many new files take several times as long.
        QFile empty(scratch.filePath(QStringLiteral("empty.WAV")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        const QByteArray emptyPath = QFile::encodeName(empty.fileName());
        for (int n = 0; n < LargeFolderRows; ++n) {
            const QString name = large.filePath(QStringLiteral("T%1.WAV").arg(n, 5, 10, QLatin1Char('0')));
            QVERIFY(::link(emptyPath.constData(), QFile::encodeName(name).constData()) == 0);
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

    void downloadShowsProgressPerFile_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addRow("three-files") << QStringList{"ZV_0001.WAV", "ZV_0002.WAV", "ZV_0004.MP3"};
        QTest::addRow("zero-bytes-in-all-does-not-divide-and-fills-the-bar") << QStringList{"SILENT.WAV"};
    }
    void downloadShowsProgressPerFile()
    {
        QFETCH(QStringList, files);
        QTemporaryDir target;
        simulator.setThrottle(1024 * 1024); // slow enough to see every file's texts

        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        window.fileModel()->setAllChecked(false);
        qint64 total = 0;
        for (const QString &name : qAsConst(files)) {
            window.tick(name);
            total += QFileInfo(source(name)).size();
        }
        Trail status([&] { return window.text("labelStatus"); });
        QSignalSpy bar(window.widget<QProgressBar>("progressBar"), &QProgressBar::valueChanged);
        QCOMPARE(window.download(target.path()), saveDirectory); // the chooser starts in the stored folder
        if (total > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(window.text("labelStatus") == QLatin1String(" 2 / 3 files")
                                         && window.widget<QProgressBar>("progressBar")->value() > 300,
                                     10000);
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
        // The reports played and the two status lines after them.
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("detail");
        QTest::addRow("framing-warning-keeps-no-line-through-a-cancel")
            << QList<Step>{started, error(NetworkPacketParseError, -16), canceled} << "download canceled." << QString();
        QTest::addRow("user-cancel-says-so-whatever-came-before")
            << QList<Step>{started, error(DownloadPacketCrcError, 1), cancelClick} << "download canceled." << QString();
        // The recorder's confirmation of that cancel comes after the user
        // went on to a recording's details: it changes nothing.
        QTest::addRow("late-cancel-report-changes-nothing")
            << QList<Step>{started, cancelClick, details, canceled} << "Standby." << QString();
        QTest::addRow("no-space-keeps-its-lines-through-the-cancel")
            << QList<Step>{started, error(DownloadNoSpace, 0), canceled} << "An error has occurred.(code : E13-0-0)"
            << Advice;
        QTest::addRow("lost-targets-leave-the-count-and-say-so")
            << QList<Step>{started, started, error(DownloadTargetLost, 1), finished} << "2 files completed. 1 failed."
            << "1 files not downloaded.(code : E14-1-0)";
        QTest::addRow("refused-name-fails-only-its-file")
            << QList<Step>{started, error(DownloadIllegalFileName, 5), started, finished} << "2 files completed. 1 failed."
            << "1 files not downloaded.(code : E10-5-0)";
        // A refused name counts with the files the lost link took; the line
        // is shown again after the reconnection.
        QTest::addRow("lost-link-counts-the-files-not-downloaded-before")
            << QList<Step>{started, error(DownloadIllegalFileName, 5), error(DownloadLinkLost, 1), canceled,
                           reconnected}
            << "2 files not downloaded.(code : E16-1-0)" << QString();
        QTest::addRow("relist-keeps-the-download-running")
            << QList<Step>{started, relisted, started, started, finished} << "3 files completed." << QString();
    }
    // The window alone: the controller hears nothing of the download (its
    // request is cut off), and its reports are played to the window's slots.
    void downloadEndsAsTheControllerReports()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(QString, info);
        QFETCH(QString, detail);
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
        for (const Step &step : qAsConst(steps)) {
            switch (step.kind) {
            case Step::Started:
                window->downloadStarted(files.at(started++), 1000);
                window->downloadProgress(1000);
                break;
            case Step::Error:
                window->sequenceError(step.code, step.param1, 0);
                break;
            case Step::Relisted:
                window->discardFileList();
                window->setFileList();
                QVERIFY(window.model()->rowCount() > 0);
                QVERIFY(window.button("cancelButton")->isEnabled() && !window.button("downloadButton")->isEnabled());
                QCOMPARE(window.text("labelStatus"), QStringLiteral(" %1 / 3 files").arg(started));
                break;
            case Step::Finished:
                window->downloadFinished();
                break;
            case Step::Canceled:
                window->downloadCanceled();
                break;
            case Step::CancelClick:
                QTest::mouseClick(window.button("cancelButton"), Qt::LeftButton);
                break;
            case Step::Reconnected: // the link went and came back
                window->networkClosed();
                window->networkConnected();
                break;
            case Step::Details:
                QTRY_VERIFY(window.isStandby());
                window.clickRow(window.rowOf(files.first()));
                QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
                break;
            default:
                QFAIL("unknown step");
            }
        }
        QTRY_VERIFY(window.isStandby());
        QCOMPARE(window.text("labelInfo"), info);
        QCOMPARE(window.text("labelDetail"), detail);
    }

    void downloadEndedFromOutside_data()
    {
        // The status line at the end (after the reconnection, where the link went).
        QTest::addColumn<End>("end");
        QTest::addColumn<QString>("info");
        QTest::addRow("recorder-stops-at-once") << End::RecorderStops << "An error has occurred.(code : E15-2-0)";
        // A relist lets the file in flight complete; the link goes before
        // the next one starts.
        QTest::addRow("relist-then-recorder-closes") << End::LinkCloses << "1 files not downloaded.(code : E16-1-0)";
        // The recorder stays silent after the relist request: only the
        // watchdog ends the download.
        QTest::addRow("relist-then-watchdog-drops") << End::WatchdogDrops << "1 files not downloaded.(code : E16-1-0)";
    }
    // The recorder stops the download itself, or the link goes: the window
    // leaves its downloading state at once, nothing more is asked for, and
    // the status line tells that the download did not complete.
    void downloadEndedFromOutside()
    {
        QFETCH(End, end);
        QFETCH(QString, info);
        const QString first = QStringLiteral("ZV_0001.WAV");
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        // Little queued ahead: what the recorder sends comes in the middle of the data.
        simulator.setSendWindow(32 * 1024);
        auto window32k = qScopeGuard([&] { simulator.setSendWindow(SimulatorSettings::DefaultSendWindow); });
        QSignalSpy asked(&simulator, &RecorderSimulator::downloadStarted);
        QSignalSpy requests(&simulator, &RecorderSimulator::requestReceived);
        Window window;
        // The relist stays unanswered: the watchdog's end (shorter than its own 30 s) comes after it.
        window->setWatchdogMs(end == End::WatchdogDrops ? ShortWatchdogMs : WatchdogMs);
        QVERIFY(waitConnected(window));
        window.tick(first);
        QVERIFY(startDownload(window, QStringLiteral("ZV_0004.MP3"), target.path()));
        if (end == End::RecorderStops) {
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
            if (end == End::WatchdogDrops)
                expectWatchdogDrop(window, ShortWatchdogMs);
            else
                simulator.disconnectClient();
            reconnectAtOnce(window);
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

    void closingWhileDownloadingAsks_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addRow("no-keeps-the-window-and-the-download") << false;
        QTest::addRow("yes-quits-leaving-the-part-file") << true;
    }
    void closingWhileDownloadingAsks()
    {
        QFETCH(bool, answer);
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        auto window = std::make_unique<Window>();
        (*window)->stopAnswer = answer;
        QVERIFY(startDownload(*window, SlowFile, target.path()));
        QCOMPARE((*window)->close(), answer);
        QCOMPARE((*window)->stopAsked, 1);
        const QByteArray whole = readAll(source(SlowFile));
        if (!answer) {
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
        QTest::addColumn<NoticeRow>("row");
        QTest::addRow("completed-elsewhere") << NoticeRow{End::Completes, 0, false, "1 files completed."};
        QTest::addRow("canceled-elsewhere") << NoticeRow{End::UserCancels, 0, false, "download canceled."};
        QTest::addRow("failed-elsewhere") << NoticeRow{End::CheckFails, 0, false, "An error has occurred.(code : E6-"};
        QTest::addRow("completed-watched") << NoticeRow{End::Completes, 0, true, QString()};
        QTest::addRow("short") << NoticeRow{End::Completes, 3600000, false, QString()};
    }
    void longDownloadAnnouncedOnlyWhenInactive()
    {
        QFETCH(NoticeRow, row);
        const bool cancel = row.end == End::UserCancels;
        QTemporaryDir target;
        simulator.setThrottle(cancel ? SlowRate : 0);
        simulator.setCorruptCheckAt(row.end == End::CheckFails ? 1 : -1);
        Window window;
        QWidget elsewhere;
        QWidget *focus = row.active ? static_cast<QWidget *>(window.get()) : &elsewhere;
        focus->show();
        focus->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(focus));
        window->setLongDownloadMs(row.longMs);
        QVERIFY(startDownload(window, SlowFile, target.path(), cancel));
        if (cancel)
            window.button("cancelButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.button("downloadButton")->isEnabled(), 10000);
        QCOMPARE(window->announced.size(), row.announced.isEmpty() ? 0 : 1);
        QVERIFY(row.announced.isEmpty() || window->announced.first().startsWith(row.announced));
    }
};

ZV_WINDOW_TEST_MAIN(tst_WindowDownload)
#include "tst_windowdownload.moc"
