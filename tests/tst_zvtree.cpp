// zv-transfer over whole trees, run as a separate process against the
// simulator: get -r mirrors a tree exactly, --dry-run writes nothing, the
// recorder is left on the tree it was found on, and folder names cannot lead
// outside the destination.
#include "base/zvrecordmode.h"
#include "protocol/zvcommand.h"
#include "transferrun.h"

namespace {
// What is done to the run that leaves the recorder's tree.
enum class TreeFault { None, TreesAlike, Sigint };
struct TreeRow
{
    QStringList arguments;
    ZVRecordMode start; // the tree the recorder is on
    TreeFault fault;
    int switches = 2; // asked for, the way back included
};
} // namespace
Q_DECLARE_METATYPE(TreeRow)

class tst_ZVTree : public TransferRun
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(makeTree({{"music/A.WAV", pattern(3000, 1)},
                          {"music/B.WAV", pattern(100000, 2)},
                          {"music/F/C.WAV", pattern(5000, 3)},
                          // Tells a listing of the multitrack tree's top from the music tree's.
                          {"mtr/M.WAV", pattern(600, 7)},
                          // Served instead by treeMirroredExactly.
                          {"mirror/MUSIC/A.WAV", pattern(3000, 1)},
                          {QString::fromUtf8("mirror/MUSIC/Übung/B.WAV"), "b"},
                          {QString::fromUtf8("mirror/MUSIC/Übung/LEER/"), {}},
                          {"mirror/MTR/SONG1/T1.WAV", pattern(1000, 5)}}));
    }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    // Names, contents, recording times and empty folders, in both trees.
    void treeMirroredExactly()
    {
        sim->setMusicRoot(tree.filePath("mirror/MUSIC"));
        sim->setMtrRoot(tree.filePath("mirror/MTR"));
        QCOMPARE(run(host({"get", "-r", "--both", "--dest", dest->path()})), Exit::Done);
        QVERIFY2(output.contains("downloaded 3, skipped 0, failed 0"), output.constData());
        QCOMPARE(snapshot(dest->filePath("MUSIC")), snapshot(sim->musicRoot()));
        QCOMPARE(snapshot(dest->filePath("MTR")), snapshot(sim->mtrRoot()));

        // A tree without a recording matched nothing.
        QCOMPARE(run(host({"get", "-r", QString::fromUtf8("Übung/LEER"), "--dest", dest->filePath("empty")})),
                 Exit::NothingMatched);
    }

    void dryRunWritesNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("damagedRecord");
        QTest::addColumn<QString>("told"); // a line also told
        // Folders are never left out without a word, not even in a dry run.
        QTest::addRow("get") << QStringList{"get", "--all"} << false << "left out 1 folder (get -r takes them): F\n";
        QTest::addRow("get-r") << QStringList{"get", "-r"} << false << "would download";
        QTest::addRow("sync-damaged-record") << QStringList{"sync", "--music"} << true << "would download";
    }
    void dryRunWritesNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, damagedRecord);
        QFETCH(QString, told);
        if (damagedRecord)
            QVERIFY(writeFile(dest->filePath(".zv-transfer-sync.json"), "{damaged"));
        const auto before = snapshot(dest->path());
        QCOMPARE(run(host({"-n", "--dest", dest->filePath("new")}) + arguments), Exit::Done);
        QCOMPARE(snapshot(dest->path()), before);
        QVERIFY2(QString::fromUtf8(output).contains(
                     QRegularExpression("^(MUSIC/)?A\\.WAV .* would fetch$", QRegularExpression::MultilineOption)),
                 output.constData());
        QVERIFY2(output.contains("would download") && output.contains(told.toUtf8()), output.constData());

        // Into the folder that holds the damaged record.
        if (damagedRecord) {
            QCOMPARE(run(host({"-n", "--dest", dest->path()}) + arguments), Exit::Done);
            QCOMPARE(snapshot(dest->path()), before);
            QVERIFY2(errors.contains("is damaged"), errors.constData());
        }
    }

    // Whatever a command switched to, the recorder ends on the tree it was on
    // when the command connected: told by its top listing, and when both trees
    // list alike (and cannot be told apart) the music tree. Each switch costs the
    // recorder's pause: no more of them than it takes.
    void treeLeftAsFound_data()
    {
        QTest::addColumn<TreeRow>("row");
        // Both trees, the multitrack one first: from the music tree no way back.
        QTest::addRow("sync-from-music") << TreeRow{{"sync"}, RecordModeMusic, TreeFault::None};
        // Its top lists like the start: the music top tells, then back.
        QTest::addRow("sync-from-mtr") << TreeRow{{"sync"}, RecordModeMTR, TreeFault::None, 3};
        // The multitrack top lists like the start, and so does the music top.
        QTest::addRow("sync-mtr-trees-alike") << TreeRow{{"sync", "--mtr"}, RecordModeMTR, TreeFault::TreesAlike};
        QTest::addRow("dry-run-mtr-from-music") << TreeRow{{"sync", "-n", "--mtr"}, RecordModeMusic, TreeFault::None};
        // Cancels the sync, puts the recorder back on its tree, and tells it:
        // the run ends with SIGINT's code.
        QTest::addRow("interrupted-sync-from-mtr") << TreeRow{{"sync", "--music"}, RecordModeMTR, TreeFault::Sigint};
        QTest::addRow("interrupted-watch-from-mtr")
            << TreeRow{{"sync", "--music", "--watch"}, RecordModeMTR, TreeFault::Sigint};
    }
    void treeLeftAsFound()
    {
        QFETCH(TreeRow, row);
        // Tops without folders: C.WAV (music) and M.WAV (multitrack).
        sim->setMusicRoot(tree.filePath("music/F"));
        sim->setRecordMode(row.start);
        switch (row.fault) {
        case TreeFault::None:
        case TreeFault::Sigint: // sent below
            break;
        case TreeFault::TreesAlike:
            sim->setMtrRoot(tree.filePath("music/F"));
            break;
        default:
            QFAIL("unknown fault");
        }
        int switched = 0;
        connect(sim, &RecorderSimulator::requestReceived, this,
                [&](const QByteArray &header) { switched += quint8(header.at(KIND_OFFSET)) == KIND_STATUS; });
        const QStringList arguments = host(row.arguments + QStringList{"--dest", dest->path()});
        QElapsedTimer sinceSignal;
        if (row.fault == TreeFault::Sigint)
            QCOMPARE(interruptAt(SignalAt::DuringADownload, arguments, &sinceSignal), Exit::BySigint);
        else
            QCOMPARE(run(arguments), Exit::Done);
        // Within the tool's own bounds for the cancel's confirmation (1 s) and
        // the restore (4 s), with room for a slow machine.
        QVERIFY2(!sinceSignal.isValid() || sinceSignal.elapsed() < 6000,
                 qPrintable(QString::number(sinceSignal.elapsed())));
        const int left = row.fault == TreeFault::TreesAlike ? RecordModeMusic : row.start;
        QCOMPARE(sim->recordMode(), left);
        QCOMPARE(switched, row.switches);
    }

    // The simulator's hostile entries include a folder "../up" at the top.
    // Existing files named like the two harmless entries are kept, so that no
    // download request goes out. A link in the destination named like a
    // recorder's folder does not lead the files elsewhere either.
    void hostileFolderStaysOutside()
    {
        sim->setHostileNames(true);
        const QString inner = dest->filePath("inner");
        QVERIFY(QDir(inner).mkpath("."));
        QVERIFY(QDir(dest->path()).mkpath("elsewhere"));
        QVERIFY(QFile::link(dest->filePath("elsewhere"), inner + "/F"));
        QVERIFY(writeFile(inner + "/cut", "1"));
        QVERIFY(writeFile(inner + "/wav", "2"));
        QCOMPARE(run(host({"get", "-r", "--rule", "skip", "--dest", inner})), Exit::SomeFailed);
        QVERIFY2(output.contains("skipped ../up/: refused, the name cannot be used safely (code : E10-"),
                 output.constData());
        QVERIFY2(output.contains("skipped F/: not written"), output.constData());
        QCOMPARE(QDir(dest->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"elsewhere", "inner"}));
        QVERIFY(QDir(dest->filePath("elsewhere")).isEmpty());
        QCOMPARE(readAll(inner + "/B.WAV"), pattern(100000, 2));
    }
};

QTEST_GUILESS_MAIN(tst_ZVTree)
#include "tst_zvtree.moc"
