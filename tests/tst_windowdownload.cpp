// The main window's downloads and keys against the in-process recorder
// simulator: the check boxes of a large folder, progress per file, how a
// download ends as the controller reports it and the notice of a long one,
// what the end line says and the sync record it writes, closing and the keys
// during a download; the rows already on this computer and "check new"; the
// keys and clicks that act on the table (which never takes the focus), the
// folder path and the detail panel as the listing changes, and the names and
// focus marks of the icon buttons. A picture of the downloading state goes to
// screenshots/ beside this executable.
#include <QAbstractButton>
#include <QAction>
#include <QDesktopServices>
#include <QScopeGuard>
#include <QToolButton>
#include <unistd.h>

#include "recorder/syncmanifest.h"
#include "ui/elidinglabel.h"
#include "windowfixture.h"

// A report of the controller played to the window's slot, or the user's click.
struct Step
{
    enum Kind { Started, Error, Relisted, Finished, Canceled, CancelClick, Details, Reconnected } kind;
    AppErrorCode code = NetworkSocketError;
    int param1 = 0;
};
Q_DECLARE_METATYPE(Step)

namespace {
// Top-level recordings of the demo music tree (and the fixture's additions).
const QString SameSize = QStringLiteral("ZV_0001.WAV");
const QString OtherSize = QStringLiteral("ZV_0002.WAV");
const QString Mp3 = QStringLiteral("ZV_0004.MP3");
const QString Live = QStringLiteral("live.mp3");
const QString Silent = QStringLiteral("SILENT.WAV");
const QString Folder = QStringLiteral("FOLDER01");
// Rows a page key moves at least: more than one, fewer than the table's.
constexpr int LeastPage = 2;

// The recordings a played download takes.
const QStringList PlayedFiles{SameSize, OtherSize, Mp3};
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
// As many rows as crashed the window while each had a check-box widget.
constexpr int LargeFolderRows = 30000;
constexpr int LargeFolderTimeoutMs = 30000;
} // namespace

class tst_WindowDownload : public QObject, WindowFixture
{
    Q_OBJECT

    // Opened URLs land here instead of on the desktop.
    QList<QUrl> opened;

    // The window, connected, listed and active (its keys are the window's).
    const Window &keyWindow()
    {
        const Window &window = rowWindow();
        [&] { QVERIFY(waitConnected(window)); }();
        QApplication::setActiveWindow(window.get());
        [&] { QVERIFY(QTest::qWaitForWindowActive(window.get())); }();
        return window;
    }
    // Ticks PlayedFiles and presses download, the controller cut off from
    // the request, then plays `steps` to the window's slots and waits for its
    // standby; `info` is the line a reconnection must keep.
    void play(const Window &window, const QList<Step> &steps, const QString &info)
    {
        QVERIFY(waitConnected(window));
        for (const QString &name : PlayedFiles)
            window.tick(name);
        QVERIFY(QObject::disconnect(window.get(), &MainWindow::requestDownloadFiles, nullptr, nullptr));
        window.download(saveDirectory);
        int started = 0;
        for (const Step &step : qAsConst(steps)) {
            switch (step.kind) {
            case Step::Started:
                window->downloadStarted(PlayedFiles.at(started++), 1000);
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
            case Step::Reconnected: // the link went and came back; the line stays through both
                window->networkClosed();
                QCOMPARE(window.text("labelInfo"), info);
                window->networkConnected();
                break;
            case Step::Details:
                QTRY_VERIFY(window.isStandby());
                window.clickRow(window.rowOf(PlayedFiles.first()));
                QCOMPARE(window.text("labelStatus"), QStringLiteral("Communicating..."));
                break;
            default:
                QFAIL("unknown step");
            }
        }
        QTRY_VERIFY(window.isStandby());
    }
public slots: // not a test: QtTest runs the private slots
    void open(const QUrl &url) { opened << url; }
private slots:
    void initTestCase()
    {
        prepare();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
    }
    void init() { reset(); }
    void cleanup() { done(); }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        dropWindow();
    }

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
        const QString empty = scratch.filePath(QStringLiteral("empty.WAV"));
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
        for (int n = 0; n < LargeFolderRows; ++n) {
            const QString name = large.filePath(QStringLiteral("T%1.WAV").arg(n, 5, 10, QLatin1Char('0')));
            QVERIFY(::link(QFile::encodeName(empty).constData(), QFile::encodeName(name).constData()) == 0);
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

        // Sorted by name until that entry comes first: its tick comes with it.
        for (int clicks = 0; clicks < 2 && window.model()->index(0, 1).data().toString() != lastName; ++clicks)
            window.clickHeader(1);
        QCOMPARE(window.model()->index(0, 1).data().toString(), lastName);
        QVERIFY(window.isTicked(0));
        // A box ticked after sorting belongs to the entry in its row.
        const QString second = window.model()->index(1, 1).data().toString();
        window.tickRow(1);
        window.clickHeader(1);
        QCOMPARE(window.ticked(), (QStringList{second, lastName}));
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
        QStringList expected{QString()};
        for (int n = 1; n <= files.size(); ++n)
            expected << QStringLiteral(" %1 / %2 files").arg(n).arg(files.size());
        QCOMPARE(status.values, expected << QString());

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
        Window window;
        play(window, steps, info);
        QCOMPARE(window.text("labelInfo"), info);
        QCOMPARE(window.text("labelDetail"), detail);
    }

    // Escape and Ctrl+Q during a download: Ctrl+Q asks first, and "no" keeps
    // the window and its download; in standby Escape has nothing to cancel.
    // Closing during the next download, "yes" stops it and quits. (Ctrl+Q in
    // standby closes as any idle close: tst_mainwindow's overlayAndWindowSize.)
    void downloadKeysAndClosing()
    {
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        const Window &window = keyWindow();
        QSignalSpy cancelled(window.get(), &MainWindow::cancelDownload);
        QVERIFY(startDownload(window, SlowFile, target.path()));

        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(window->stopAsked, 1);
        QVERIFY(window->isVisible());
        QCOMPARE(cancelled.count(), 0);

        QTest::keyClick(window.get(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(window.text("labelInfo") == QLatin1String("download canceled.") && window.isStandby(),
                                 ExchangeTimeoutMs);

        QTest::keyClick(window.get(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);

        window->stopAnswer = true;
        window.fileModel()->setAllChecked(false);
        QVERIFY(startDownload(window, SlowFile, target.path()));
        QVERIFY(window->close());
        QCOMPARE(window->stopAsked, 2);
        QCOMPARE(cancelled.count(), 2);
    }

    void longDownloadAnnouncedOnlyWhenInactive_data()
    {
        // How a download ends, from how long it counts as long, whether the
        // window is active; the notice (none: empty).
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<int>("longMs");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("announced");
        QTest::addRow("completed-elsewhere") << QList<Step>{started, finished} << 0 << false << "3 files completed.";
        QTest::addRow("canceled-elsewhere") << QList<Step>{started, canceled} << 0 << false << "download canceled.";
        QTest::addRow("failed-elsewhere") << QList<Step>{started, error(DownloadPacketCrcError, 1), canceled} << 0
                                          << false << "An error has occurred.(code : E6-1-0)";
        QTest::addRow("completed-watched") << QList<Step>{started, finished} << 0 << true << QString();
        QTest::addRow("short") << QList<Step>{started, finished} << 3600000 << false << QString();
    }
    void longDownloadAnnouncedOnlyWhenInactive()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(int, longMs);
        QFETCH(bool, active);
        QFETCH(QString, announced);
        Window window;
        QWidget elsewhere;
        QWidget *focus = active ? static_cast<QWidget *>(window.get()) : &elsewhere;
        focus->show();
        focus->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(focus));
        window->setLongDownloadMs(longMs);
        play(window, steps, QString());
        QCOMPARE(window->announced, announced.isEmpty() ? QStringList() : QStringList{announced});
    }

    // The save folder holds a recording of the listed size and one of another
    // size, and its sync record names one taken and moved away since: the rows
    // already here say where in their tool tips, and Ctrl+N and the table's
    // context-menu entry both check exactly the recordings not marked (marked
    // ones and folders end unchecked).
    void rowsAlreadyHereAreMarkedAndNotCheckedAsNew()
    {
        const Window &window = keyWindow();
        const QDir folder(saveDirectory);
        QVERIFY(QFile::copy(source(SameSize), folder.filePath(SameSize)));
        QVERIFY(QFile::copy(source(Mp3), folder.filePath(OtherSize))); // another recording, of another size
        const QModelIndex live = window.model()->index(window.rowOf(Live), 1);
        SyncManifest record(saveDirectory);
        record.put({"music", Live, window.fileModel()->fileSize(live),
                    window.fileModel()->fileDateTime(live).toString(Qt::ISODate), "moved-away/" + Live,
                    QDateTime::currentDateTimeUtc().toString(Qt::ISODate)});
        QVERIFY(record.save());
        window->setFileList(); // a new listing reads the folder afresh
        const auto tip = [&](const QString &name) {
            return window.model()->index(window.rowOf(name), 1).data(Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(SameSize), "Already on this computer: " + QDir::toNativeSeparators(folder.filePath(SameSize)));
        QCOMPARE(tip(Live),
                 "Taken into " + QDir::toNativeSeparators(saveDirectory) + " before (moved or deleted there since)");

        QAction *entry = window.table()->actions().value(0);
        QVERIFY(entry && window.table()->contextMenuPolicy() == Qt::ActionsContextMenu);
        for (const bool byKey : {true, false}) {
            window.widget<QCheckBox>("checkBoxAll")->click(); // everything, folders and marked rows included
            QVERIFY(window.isTicked(window.rowOf(Folder)));
            if (byKey)
                QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
            else
                entry->trigger();
            // Not marked: the other size and those nowhere here.
            QCOMPARE(window.ticked(), (QStringList{"README.TXT", Silent, OtherSize, "ZV_0003_BWF.WAV", Mp3}));
            QCOMPARE(window.text("labelInfo"), QStringLiteral("5 new recordings checked."));
            window.widget<QCheckBox>("checkBoxAll")->setChecked(false);
        }
    }

    // A real download of four checked recordings and a checked folder into a
    // folder that holds one of them already and a folder in another's way.
    void downloadEndSaysWhatHappened_data()
    {
        QTest::addColumn<QByteArray>("oldRecord"); // the sync record there before; empty: none
        QTest::addRow("fresh-record") << QByteArray();
        QTest::addRow("damaged-record-gives-way") << QByteArray("{\"version\": 1, \"files\": [ broken");
    }
    void downloadEndSaysWhatHappened()
    {
        QFETCH(QByteArray, oldRecord);
        QTemporaryDir target;
        QVERIFY(QFile::copy(source(SameSize), target.filePath(SameSize))); // kept: same size
        QVERIFY(QDir(target.path()).mkdir(Silent));                        // refused: a folder is in the way
        const QString recordPath = target.filePath(SyncManifest::fileName());
        if (!oldRecord.isEmpty()) {
            QFile old(recordPath);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(oldRecord) == oldRecord.size());
        }
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        window.fileModel()->setAllChecked(false);
        for (const QString &name : {SameSize, Mp3, Live, Silent, Folder})
            window.tick(name);
        opened.clear();

        window.download(target.path());
        QTRY_VERIFY_WITH_TIMEOUT(window.isStandby() && window.text("labelInfo").contains("completed"), 10000);
        QCOMPARE(window.text("labelInfo"), QStringLiteral("2 files completed. 1 already there, kept. 1 failed."));
        QVERIFY2(window.text("labelDetail").startsWith(QStringLiteral("1 files not downloaded.(code : E10-")),
                 qPrintable(window.text("labelDetail")));
        QVERIFY(window.text("labelDetail")
                    .endsWith(QStringLiteral(" 1 folders left out: zv-transfer get -r copies them.")));
        // Pressing download again retries only what failed (and the folder,
        // which is never taken).
        QCOMPARE(window.ticked(), (QStringList{Folder, Silent}));

        // The record names what came and what was kept, as zv-transfer reads it.
        SyncManifest record(target.path());
        QCOMPARE(record.load(true), SyncManifest::Load::Loaded);
        for (const QString &name : {SameSize, Mp3, Live}) {
            const SyncManifest::Record *taken = record.find(QStringLiteral("music"), name);
            QVERIFY2(taken, qPrintable(name));
            QCOMPARE(taken->local, name);
            QCOMPARE(taken->size, QFileInfo(source(name)).size());
            QCOMPARE(
                taken->recorded,
                window.fileModel()->fileDateTime(window.model()->index(window.rowOf(name), 0)).toString(Qt::ISODate));
        }
        QVERIFY(!record.find(QStringLiteral("music"), Silent));

        // What came is marked now; the folder it went to opens with one click.
        QVERIFY(window.fileModel()->isMarked(window.rowOf(Mp3)));
        auto *open = window.widget<QToolButton>("openFolderButton");
        QVERIFY(open->isVisible());
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(opened, (QList<QUrl>{QUrl::fromLocalFile(QDir(target.path()).absolutePath())}));
    }

    // From no current row, the keys in turn and the row each leaves current
    // and selected (Page: a page key's, at least LeastPage rows on, fewer than
    // the table's, and in view).
    void keysMoveTheCurrentRow()
    {
        const Window &window = keyWindow();
        const int last = window.model()->rowCount() - 1;
        constexpr int Page = -1;
        const QList<QPair<Qt::Key, int>> moves{{Qt::Key_Down, 0},      {Qt::Key_Up, 0},      {Qt::Key_Down, 1},
                                               {Qt::Key_End, last},    {Qt::Key_Down, last}, {Qt::Key_Up, last - 1},
                                               {Qt::Key_PageUp, Page}, {Qt::Key_Home, 0},    {Qt::Key_PageDown, Page}};
        for (const auto &[key, row] : moves) {
            const int from = window.table()->currentIndex().row();
            QTest::keyClick(window.get(), key);
            const int now = window.table()->currentIndex().row();
            const QString shown = QKeySequence(key).toString() + QStringLiteral(": row %1").arg(now);
            if (row == Page) {
                const int by = (key == Qt::Key_PageDown) ? now - from : from - now;
                QVERIFY2(by >= LeastPage && by < last, qPrintable(shown));
                QVERIFY(window.table()->viewport()->rect().intersects(
                    window.table()->visualRect(window.table()->currentIndex())));
            } else {
                QVERIFY2(now == row, qPrintable(shown));
            }
            QCOMPARE(window.table()->selectionModel()->selectedRows(), QModelIndexList{window.model()->index(now, 0)});
        }
    }

    // The keys on the current row and the clicks, in turn on one window:
    // Space ticks and unticks, Ctrl+A ticks all; Return on a file asks for its
    // details, a click on a folder leaves them; a double click or Return on a
    // folder opens it, and its listing, all unchecked, empties the detail
    // panel and leaves no row current; Backspace or the return button goes
    // back. The folder path follows the listing, not the request. Download
    // with nothing or only a folder checked gives a hint, and no folder chooser.
    void keysAndClicksCheckAskAndBrowse()
    {
        const Window &window = keyWindow();
        QSignalSpy detail(window.get(), &MainWindow::requestFileDetail);
        const auto press = [&](const QString &name, const QKeySequence &key) {
            window.table()->setCurrentIndex(window.model()->index(window.rowOf(name), DownloadFileModel::ColumnName));
            QTest::keySequence(window.get(), key);
        };
        const auto shown = [&] {
            QStringList texts;
            for (const char *label : {"labelDetailName", "labelDetailDate", "labelDetailSize", "labelDetailFormat",
                                      "labelDetailMusicLength"})
                texts << window.text(label);
            return texts;
        };
        press(Mp3, Qt::Key_Space);
        QCOMPARE(window.ticked(), QStringList{Mp3});
        QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
        press(Mp3, Qt::Key_Space);
        QCOMPARE(window.ticked(), QStringList());

        press(Live, Qt::Key_Return);
        QCOMPARE(window.text("labelDetailName"), Live);
        QTRY_VERIFY_WITH_TIMEOUT(!window.text("labelDetailFormat").isEmpty() && window.isStandby(), ExchangeTimeoutMs);
        const QStringList details = shown();
        QVERIFY(!window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue).isNull());
        // Everything checked first: the new listing must start unchecked anyway.
        press(Mp3, QKeySequence::SelectAll);
        QCOMPARE(window.ticked().size(), window.model()->rowCount());
        QVERIFY(window.widget<QCheckBox>("checkBoxAll")->isChecked());

        Trail status([&] { return window.text("labelStatus"); });
        const int folder = window.rowOf(Folder);
        window.clickRow(folder);
        QCOMPARE(shown(), details);
        // A real double click: press and release, then the double-click event.
        QTest::mouseDClick(window.table()->viewport(), Qt::LeftButton, {},
                           window.table()->visualRect(window.model()->index(folder, 1)).center());
        QCOMPARE(window.text("labelFolderPath"), QStringLiteral("MUSIC"));
        QTRY_VERIFY_WITH_TIMEOUT(window.names() == (QStringList{"TAKE_44k16.WAV", "TAKE_96k24.WAV"})
                                     && window.isStandby(),
                                 ExchangeTimeoutMs);
        QCOMPARE(status.values, (QStringList{"", "Communicating...", ""}));
        QCOMPARE(window.ticked(), QStringList());
        QCOMPARE(window.text("labelFolderPath"), QStringLiteral("MUSIC/FOLDER01"));
        QCOMPARE(shown().join(QString()), QString());
        QVERIFY(window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!window.table()->currentIndex().isValid());
        QVERIFY(window.table()->selectionModel()->selectedRows().isEmpty());

        press(QStringLiteral("TAKE_44k16.WAV"), Qt::Key_Backspace);
        QTRY_VERIFY_WITH_TIMEOUT(window.rowOf(Folder) >= 0 && window.isStandby(), ExchangeTimeoutMs);
        press(Folder, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(window.rowOf("TAKE_44k16.WAV") >= 0 && window.isStandby(), ExchangeTimeoutMs);
        window.button("pushButtonReturn")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.rowOf(Folder) >= 0 && window.isStandby(), ExchangeTimeoutMs);
        QCOMPARE(detail.count(), 1);
        // Shown whole where there is room, and never wider than the bar.
        const auto *path = window.widget<ElidingLabel>("labelFolderPath");
        QCOMPARE(path->shownText(), QStringLiteral("MUSIC"));
        QVERIFY(path->geometry().right() < window.widget<QFrame>("frameButtonBar")->width());

        QCOMPARE(window.download(QStringLiteral("/nowhere")), QString());
        QCOMPARE(window.text("labelInfo"), QStringLiteral("Nothing to download: check the recordings first."));
        window.tick(Folder);
        QCOMPARE(window.download(QStringLiteral("/nowhere")), QString());
        QCOMPARE(window.text("labelInfo"),
                 QStringLiteral("Folders are not downloaded here: check their recordings, or use zv-transfer get -r."));
        QVERIFY(window.isStandby());
    }

    // Every button without a text has a name for screen readers and a tool
    // tip, and shows a mark when the keyboard reaches it.
    void iconButtonsAreNamedAndShowFocus()
    {
        const Window &window = keyWindow();
        int buttons = 0;
        for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
            // The table's corner button is the view's own and hidden.
            if (!button->text().isEmpty() || button->parent() == window.table())
                continue;
            ++buttons;
            QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->objectName()));
            QVERIFY2(!button->toolTip().isEmpty(), qPrintable(button->objectName()));
            if (!button->isEnabled())
                continue;
            window->setFocus();
            const QImage plain = button->grab().toImage();
            button->setFocus(Qt::TabFocusReason);
            QVERIFY2(button->grab().toImage() != plain, qPrintable(button->objectName()));
        }
        QCOMPARE(buttons, 7);
    }
};

ZV_WINDOW_TEST_MAIN(tst_WindowDownload)
#include "tst_windowdownload.moc"
