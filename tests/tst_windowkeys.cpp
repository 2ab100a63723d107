// The main window by keyboard: the keys that act on the table (which never
// takes the focus), the keys of a download, the folder path and the detail
// panel as the listing changes, names and focus marks of the icon buttons,
// and the keys in --help. Against the in-process recorder simulator.
#include <QAbstractButton>
#include <QProcess>

#include "base/appconstants.h"
#include "ui/elidinglabel.h"
#include "windowfixture.h"

// What a key did.
enum class Outcome {
    CurrentRow, // the table's current row is `row` (the page keys: it moved at least `row`, negative upwards)
    Checked,    // the row's check box is ticked (`row` the row, `text` empty) or not ("unchecked")
    AllChecked, // every row's check box is ticked
    FolderPath, // the listing of another folder arrived; the path shown is `text`
    DetailAsked // the details of the current row (a file) were asked for and shown
};

// The current row before the key (LastRow: the last), the key, and what it did.
struct KeyRow
{
    int start;
    QKeySequence key;
    Outcome outcome;
    int row = 0;
    QString text = QString();
};
Q_DECLARE_METATYPE(KeyRow)

namespace {
constexpr int LastRow = -1;
// Rows a page key moves at least: more than one, fewer than the table's.
constexpr int LeastPage = 2;
} // namespace

class tst_WindowKeys : public QObject, WindowFixture
{
    Q_OBJECT

    // The window, connected, listed and active (its keys are the window's).
    const Window &keyWindow()
    {
        const Window &window = rowWindow();
        [&] { QVERIFY(waitConnected(window)); }();
        QApplication::setActiveWindow(window.get());
        [&] { QVERIFY(QTest::qWaitForWindowActive(window.get())); }();
        return window;
    }
    static int rowNumber(const Window &window, int row)
    {
        return row == LastRow ? window.model()->rowCount() - 1 : row;
    }
    static void setCurrent(const Window &window, int row)
    {
        window.table()->setCurrentIndex(window.model()->index(rowNumber(window, row), DownloadFileModel::ColumnName));
    }
    static int currentRow(const Window &window) { return window.table()->currentIndex().row(); }

private slots:
    void initTestCase() { prepare(); }
    void init() { reset(); }
    void cleanup() { done(); }
    void cleanupTestCase() { dropWindow(); }

    // The rows run in order on one window at the top of the music tree; the
    // last ones walk into a folder and back.
    void keysActOnTheTable_data()
    {
        QTest::addColumn<KeyRow>("row");
        using O = Outcome;
        QTest::addRow("down-moves-to-next-row") << KeyRow{0, Qt::Key_Down, O::CurrentRow, 1};
        QTest::addRow("down-stays-on-last-row") << KeyRow{LastRow, Qt::Key_Down, O::CurrentRow, LastRow};
        QTest::addRow("up-moves-to-previous-row") << KeyRow{2, Qt::Key_Up, O::CurrentRow, 1};
        QTest::addRow("up-stays-on-first-row") << KeyRow{0, Qt::Key_Up, O::CurrentRow, 0};
        QTest::addRow("home-goes-to-first-row") << KeyRow{3, Qt::Key_Home, O::CurrentRow, 0};
        QTest::addRow("end-goes-to-last-row") << KeyRow{0, Qt::Key_End, O::CurrentRow, LastRow};
        QTest::addRow("page-down-moves-a-page") << KeyRow{0, Qt::Key_PageDown, O::CurrentRow, LeastPage};
        QTest::addRow("page-up-moves-a-page") << KeyRow{LastRow, Qt::Key_PageUp, O::CurrentRow, -LeastPage};
        QTest::addRow("space-checks-current-row") << KeyRow{1, Qt::Key_Space, O::Checked, 1};
        QTest::addRow("space-again-unchecks-it") << KeyRow{1, Qt::Key_Space, O::Checked, 1, "unchecked"};
        QTest::addRow("ctrl-a-checks-all") << KeyRow{0, QKeySequence::SelectAll, O::AllChecked};
        QTest::addRow("return-on-file-asks-its-details") << KeyRow{0, Qt::Key_Return, O::DetailAsked};
        QTest::addRow("return-on-folder-opens-it") << KeyRow{0, Qt::Key_Return, O::FolderPath, 0, "MUSIC/FOLDER01"};
        QTest::addRow("backspace-goes-to-parent") << KeyRow{0, Qt::Key_Backspace, O::FolderPath, 0, "MUSIC"};
    }
    void keysActOnTheTable()
    {
        QFETCH(KeyRow, row);
        const Window &window = keyWindow();
        // Return's rows start on a file and on a folder.
        int start = row.start;
        if (row.outcome == Outcome::DetailAsked)
            start = window.rowOf(QStringLiteral("ZV_0001.WAV"));
        else if (row.outcome == Outcome::FolderPath && row.key == QKeySequence(Qt::Key_Return))
            start = window.rowOf(QStringLiteral("FOLDER01"));
        QVERIFY(start >= LastRow);
        setCurrent(window, start);
        const int startRow = rowNumber(window, start);
        QSignalSpy detail(window.get(), &MainWindow::requestFileDetail);
        QSignalSpy moved(window.get(), &MainWindow::requestMoveFolder);

        QTest::keySequence(window.get(), row.key);

        switch (row.outcome) {
        case Outcome::CurrentRow:
            if (row.key == QKeySequence(Qt::Key_PageDown) || row.key == QKeySequence(Qt::Key_PageUp)) {
                const int by = currentRow(window) - startRow;
                QVERIFY2(qAbs(by) >= LeastPage && qAbs(by) < window.model()->rowCount() - 1
                             && (by > 0) == (row.row > 0),
                         qPrintable(QString::number(by)));
                QVERIFY(window.table()->viewport()->rect().intersects(
                    window.table()->visualRect(window.table()->currentIndex())));
            } else {
                QCOMPARE(currentRow(window), rowNumber(window, row.row));
            }
            QCOMPARE(window.table()->selectionModel()->selectedRows().size(), 1);
            QVERIFY(window.table()->selectionModel()->isRowSelected(currentRow(window), QModelIndex()));
            break;
        case Outcome::Checked:
            QCOMPARE(window.isTicked(rowNumber(window, row.row)), row.text.isEmpty());
            QCOMPARE(window.text("labelInfo"), QStringLiteral("Standby."));
            break;
        case Outcome::AllChecked:
            QVERIFY(!window.boxStates().contains(false));
            QVERIFY(window.widget<QCheckBox>("checkBoxAll")->isChecked());
            window.fileModel()->setAllChecked(false);
            window.widget<QCheckBox>("checkBoxAll")->setChecked(false);
            break;
        case Outcome::DetailAsked:
            QCOMPARE(detail.count(), 1);
            QCOMPARE(window.text("labelDetailName"), QStringLiteral("ZV_0001.WAV"));
            QTRY_VERIFY_WITH_TIMEOUT(!window.text("labelDetailFormat").isEmpty() && window.isStandby(),
                                     ExchangeTimeoutMs);
            break;
        case Outcome::FolderPath: {
            QCOMPARE(moved.count(), 1);
            // An entry of the folder moved to, listed.
            const QString listed = row.text.endsWith(QLatin1String("FOLDER01")) ? "TAKE_44k16.WAV" : "FOLDER01";
            QTRY_VERIFY_WITH_TIMEOUT(window.rowOf(listed) >= 0 && window.isStandby(), ExchangeTimeoutMs);
            QCOMPARE(window.text("labelFolderPath"), row.text);
            // No row of the old listing stays current.
            QVERIFY(!window.table()->currentIndex().isValid());
            QVERIFY(window.table()->selectionModel()->selectedRows().isEmpty());
            break;
        }
        }
        if (row.outcome != Outcome::DetailAsked)
            QCOMPARE(detail.count(), 0);
        if (row.outcome != Outcome::FolderPath)
            QCOMPARE(moved.count(), 0);
    }

    // Escape and Ctrl+Q during a download and in standby.
    void downloadKeys()
    {
        QTemporaryDir target;
        simulator.setThrottle(SlowRate);
        const Window &window = keyWindow();
        QSignalSpy cancelled(window.get(), &MainWindow::cancelDownload);
        QVERIFY(startDownload(window, SlowFile, target.path()));

        // Ctrl+Q asks first; "no" keeps the window and its download.
        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(window->stopAsked, 1);
        QVERIFY(window->isVisible());
        QCOMPARE(cancelled.count(), 0);

        QTest::keyClick(window.get(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(window.text("labelInfo") == QLatin1String("download canceled.") && window.isStandby(),
                                 ExchangeTimeoutMs);

        // In standby Escape has nothing to cancel, and Ctrl+Q closes at once.
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(window->stopAsked, 1);
        QVERIFY(!window->isVisible());
    }

    // The detail panel shows an entry of the listing shown: a click on a
    // folder leaves it, a new listing empties it. The folder path follows
    // the listing, not the request.
    void detailPanelAndPathFollowTheListing()
    {
        const Window &window = keyWindow();
        window.clickRow(window.rowOf(QStringLiteral("live.mp3")));
        QTRY_VERIFY_WITH_TIMEOUT(!window.text("labelDetailFormat").isEmpty() && window.isStandby(), ExchangeTimeoutMs);
        const QStringList detailLabels{"labelDetailName", "labelDetailDate", "labelDetailSize", "labelDetailFormat",
                                       "labelDetailMusicLength"};
        const auto shown = [&] {
            QStringList texts;
            for (const QString &label : detailLabels)
                texts << window.text(qPrintable(label));
            return texts;
        };
        const QStringList details = shown();
        QVERIFY(!window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue).isNull());

        const int folder = window.rowOf(QStringLiteral("FOLDER01"));
        window.clickRow(folder);
        QCOMPARE(shown(), details);

        QTest::mouseDClick(window.table()->viewport(), Qt::LeftButton, {},
                           window.table()->visualRect(window.model()->index(folder, 1)).center());
        QCOMPARE(window.text("labelFolderPath"), QStringLiteral("MUSIC"));
        QTRY_VERIFY_WITH_TIMEOUT(window.rowOf(QStringLiteral("TAKE_44k16.WAV")) >= 0 && window.isStandby(),
                                 ExchangeTimeoutMs);
        QCOMPARE(window.text("labelFolderPath"), QStringLiteral("MUSIC/FOLDER01"));
        for (const QString &text : shown())
            QCOMPARE(text, QString());
        QVERIFY(window.widget<QLabel>("labelTypeIcon")->pixmap(Qt::ReturnByValue).isNull());

        window.button("pushButtonReturn")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.rowOf(QStringLiteral("FOLDER01")) >= 0 && window.isStandby(),
                                 ExchangeTimeoutMs);
        QCOMPARE(window.text("labelFolderPath"), QStringLiteral("MUSIC"));
        // Shown whole where there is room, and never wider than the bar.
        const auto *path = window.widget<ElidingLabel>("labelFolderPath");
        QCOMPARE(path->shownText(), QStringLiteral("MUSIC"));
        QVERIFY(path->geometry().right() < window.widget<QFrame>("frameButtonBar")->width());
    }

    // The searching overlay's pictures are never drawn over a detail label
    // shown beneath them, and the table keeps its place.
    void overlayKeepsClearOfTheDetails()
    {
        const Window &window = keyWindow();
        const QRect table = window.table()->geometry();
        QList<QWidget *> details = window.widget<QFrame>("frame_2")->findChildren<QWidget *>();
        details << window.widget<QLabel>("labelTypeIcon");
        const auto drawnOver = [&] {
            QStringList covered;
            for (const QLabel *picture : window.overlay()->findChildren<QLabel *>()) {
                const QRect drawn(picture->mapTo(window.get(), QPoint()), picture->size());
                for (const QWidget *detail : qAsConst(details)) {
                    if (detail->isVisible()
                        && drawn.intersects(QRect(detail->mapTo(window.get(), QPoint()), detail->size())))
                        covered << detail->objectName();
                }
            }
            return covered;
        };
        window->networkClosed(); // as the controller reports a lost link
        QVERIFY(window.isSearching());
        QCOMPARE(drawnOver(), QStringList());
        QCOMPARE(window.table()->geometry(), table);
        window->networkConnected();
        QVERIFY(!window.overlay()->isVisible());
        for (const QWidget *detail : qAsConst(details))
            QVERIFY2(detail->isVisible(), qPrintable(detail->objectName()));
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
        window->setFocus();
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("shown"); // each on a line of its own output
        QTest::addRow("help-lists-the-keys") << QStringList{"--help"}
                                             << QStringList{"  Up, Down, Home, End,",
                                                            "  Space ",
                                                            "  Return ",
                                                            "  Backspace ",
                                                            "  Ctrl+A ",
                                                            "  Ctrl+N ",
                                                            "  Escape ",
                                                            "  Ctrl+Q ",
                                                            "  Tab "};
        QTest::addRow("v-is-the-version")
            << QStringList{"-v"} << QStringList{QStringLiteral("zv-file-transfer %1").arg(ApplicationVersion)};
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, shown);
        QProcess program;
        program.start(QStringLiteral(ZV_WINDOW_BIN), arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(program.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (const QString &text : shown)
            QVERIFY2(
                std::any_of(lines.begin(), lines.end(), [&](const QString &line) { return line.startsWith(text); }),
                qPrintable(text));
    }
};

ZV_WINDOW_TEST_MAIN(tst_WindowKeys)
#include "tst_windowkeys.moc"
