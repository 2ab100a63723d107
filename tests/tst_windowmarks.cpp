// What the window knows is already on this computer, and what it says at the
// end of a download: the marks of the rows (a file of that name and size in
// the save folder, or a recording its sync record notes as taken), "check
// new" by key and by menu, the sync record a download writes (read back by
// SyncManifest, a damaged one set aside), the end line with what was kept,
// failed and left out, the rows that lose their check, the folder opened
// after a download, and Download with nothing checked. Against the
// simulator's demo trees; one window per case, shared by its rows.
#include <QAction>
#include <QDesktopServices>
#include <QToolButton>

#include "recorder/syncmanifest.h"
#include "windowfixture.h"

namespace {
// Top-level recordings of the demo music tree (and the fixture's additions).
const QString SameSize = QStringLiteral("ZV_0001.WAV");
const QString OtherSize = QStringLiteral("ZV_0002.WAV");
const QString Mp3 = QStringLiteral("ZV_0004.MP3");
const QString Live = QStringLiteral("live.mp3");
const QString Silent = QStringLiteral("SILENT.WAV");
const QString Folder = QStringLiteral("FOLDER01");

enum class Mark { None, Here, Taken };

// The save folder's contents before the window lists: the first two by
// name (one of the listed size, one not), the third only in the sync record.
void fillSaveFolder(const QString &folder, const QString &sourceOfSameSize, const QString &takenPath, qint64 takenSize,
                    const QDateTime &takenRecorded)
{
    QFile::copy(sourceOfSameSize, QDir(folder).filePath(SameSize));
    QFile other(QDir(folder).filePath(OtherSize));
    if (other.open(QIODevice::WriteOnly))
        other.write("not the recording");
    SyncManifest record(folder);
    record.load(false);
    SyncManifest::Record r;
    r.tree = QStringLiteral("music");
    r.path = takenPath;
    r.size = takenSize;
    r.recorded = takenRecorded.toString(Qt::ISODate);
    r.local = QStringLiteral("moved-away/") + takenPath;
    r.when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    record.put(r);
    record.save();
}

// Opened URLs land here instead of on the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};
} // namespace

Q_DECLARE_METATYPE(Mark)

class tst_WindowMarks : public QObject, WindowFixture
{
    Q_OBJECT

    QString tip(const Window &window, const QString &name) const
    {
        return window.model()->index(window.rowOf(name), 1).data(Qt::ToolTipRole).toString();
    }
    QStringList tickedNames(const Window &window) const
    {
        QStringList names;
        for (int row = 0; row < window.model()->rowCount(); ++row) {
            if (window.isTicked(row))
                names << window.model()->index(row, 1).data().toString();
        }
        return names;
    }
    // The save folder filled once, the listing shown again (a new listing
    // reads the folders afresh).
    void prepareMarks(const Window &window)
    {
        if (!QFileInfo::exists(QDir(saveDirectory).filePath(SameSize))) {
            const QModelIndex live = window.model()->index(window.rowOf(Live), 1);
            fillSaveFolder(saveDirectory, source(SameSize), Live, window.fileModel()->fileSize(live),
                           window.fileModel()->fileDateTime(live));
            window->setFileList();
        }
    }

private slots:
    void initTestCase()
    {
        prepare();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls, "open");
    }
    void init() { reset(); }
    void cleanup() { done(); }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        dropWindow();
    }

    void rowsAlreadyHereAreMarked_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Mark>("mark");
        QTest::addRow("same-name-and-size-in-the-save-folder") << SameSize << Mark::Here;
        QTest::addRow("same-name-other-size-is-not") << OtherSize << Mark::None;
        QTest::addRow("taken-by-the-record-and-moved-away") << Live << Mark::Taken;
        QTest::addRow("nowhere-is-not") << Mp3 << Mark::None;
        QTest::addRow("a-folder-is-not") << Folder << Mark::None;
    }
    void rowsAlreadyHereAreMarked()
    {
        QFETCH(QString, name);
        QFETCH(Mark, mark);
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        prepareMarks(window);
        const QString where = tip(window, name);
        const int row = window.rowOf(name);
        QVERIFY(row >= 0);
        QCOMPARE(window.fileModel()->isMarked(row), mark != Mark::None);
        switch (mark) {
        case Mark::None:
            QCOMPARE(where, QString());
            break;
        case Mark::Here:
            QCOMPARE(where,
                     QStringLiteral("Already on this computer: %1")
                         .arg(QDir::toNativeSeparators(QDir(saveDirectory).filePath(name))));
            break;
        case Mark::Taken:
            QCOMPARE(where,
                     QStringLiteral("Taken into %1 before (moved or deleted there since)")
                         .arg(QDir::toNativeSeparators(saveDirectory)));
            break;
        default:
            QFAIL("unknown mark");
        }
    }

    // Ctrl+N and the table's context-menu entry both check exactly the
    // recordings not marked: marked ones and folders end unchecked.
    void checkNewChecksTheUnmarked_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::addRow("ctrl-n") << true;
        QTest::addRow("context-menu-entry") << false;
    }
    void checkNewChecksTheUnmarked()
    {
        QFETCH(bool, byKey);
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        prepareMarks(window);
        window.widget<QCheckBox>("checkBoxAll")->click(); // everything, folders and marked rows included
        QVERIFY(window.isTicked(window.rowOf(Folder)));
        if (byKey) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QTest::keyClick(window.get(), Qt::Key_N, Qt::ControlModifier);
        } else {
            QAction *entry = window.table()->actions().value(0);
            QVERIFY(entry && window.table()->contextMenuPolicy() == Qt::ActionsContextMenu);
            entry->trigger();
        }
        QStringList unmarkedFiles;
        for (int row = 0; row < window.model()->rowCount(); ++row) {
            if (!window.fileModel()->isFolder(window.model()->index(row, 0)) && !window.fileModel()->isMarked(row))
                unmarkedFiles << window.model()->index(row, 1).data().toString();
        }
        QVERIFY(unmarkedFiles.contains(Mp3) && !unmarkedFiles.contains(SameSize) && !unmarkedFiles.contains(Live));
        QCOMPARE(tickedNames(window), unmarkedFiles);
        QCOMPARE(window.text("labelInfo"), QStringLiteral("%1 new recordings checked.").arg(unmarkedFiles.size()));
        window.widget<QCheckBox>("checkBoxAll")->setChecked(false);
    }

    // A real download of four checked recordings and a checked folder into a
    // folder that holds one of them already and a folder in another's way.
    void downloadEndSaysWhatHappened_data()
    {
        QTest::addColumn<QByteArray>("oldRecord"); // the sync record there before; empty: none
        QTest::addRow("fresh-record") << QByteArray();
        QTest::addRow("damaged-record-is-set-aside") << QByteArray("{\"version\": 1, \"files\": [ broken");
        QTest::addRow("other-version-is-set-aside") << QByteArray("{\"version\": 7, \"files\": {}}");
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
        window.widget<QCheckBox>("checkBoxAll")->setChecked(false);
        window.fileModel()->setAllChecked(false);
        for (const QString &name : {SameSize, Mp3, Live, Silent, Folder})
            window.tick(name);
        urls.opened.clear();

        window.download(target.path());
        QTRY_VERIFY_WITH_TIMEOUT(window.isStandby() && window.text("labelInfo").contains("completed"), 10000);
        QCOMPARE(window.text("labelInfo"), QStringLiteral("2 files completed. 1 already there, kept. 1 failed."));
        QVERIFY2(window.text("labelDetail").startsWith(QStringLiteral("1 files not downloaded.(code : E10-")),
                 qPrintable(window.text("labelDetail")));
        QVERIFY(window.text("labelDetail")
                    .endsWith(QStringLiteral(" 1 folders left out: zv-transfer get -r takes whole folders.")));
        // Pressing download again retries only what failed (and the folder,
        // which is never taken).
        QStringList retried = tickedNames(window);
        retried.sort();
        QCOMPARE(retried, (QStringList{Folder, Silent}));

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
        const QStringList aside
            = QDir(target.path())
                  .entryList({SyncManifest::fileName() + QStringLiteral(".damaged-*")}, QDir::Hidden | QDir::Files);
        if (oldRecord.isEmpty()) {
            QVERIFY(aside.isEmpty());
        } else {
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readAll(target.filePath(aside.first())), oldRecord);
        }

        // What came is marked now; the folder it went to opens with one click.
        QVERIFY(window.fileModel()->isMarked(window.rowOf(Mp3)));
        auto *open = window.widget<QToolButton>("openFolderButton");
        QVERIFY(open->isVisible());
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(urls.opened, (QList<QUrl>{QUrl::fromLocalFile(QDir(target.path()).absolutePath())}));
    }

    // Nothing to download: a hint in the info line, and no folder chooser.
    void downloadWithNothingCheckedHints_data()
    {
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("hint");
        QTest::addRow("nothing") << QString() << "Nothing to download: check the recordings first.";
        QTest::addRow("a-folder-only")
            << Folder << "Folders are not downloaded here: check their recordings, or use zv-transfer get -r.";
    }
    void downloadWithNothingCheckedHints()
    {
        QFETCH(QString, checked);
        QFETCH(QString, hint);
        const Window &window = rowWindow();
        QVERIFY(waitConnected(window));
        window.fileModel()->setAllChecked(false);
        if (!checked.isEmpty())
            window.tick(checked);
        QCOMPARE(window.download(QStringLiteral("/nowhere")), QString()); // the chooser was not asked
        QCOMPARE(window.text("labelInfo"), hint);
        QVERIFY(window.isStandby());
    }

private:
    UrlCatcher urls;
};

ZV_WINDOW_TEST_MAIN(tst_WindowMarks)
#include "tst_windowmarks.moc"
