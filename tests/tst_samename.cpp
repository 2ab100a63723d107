// Counted names for the "new name" rule.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "recorder/zvdownloadqueue.h"

class tst_SameName : public QObject
{
    Q_OBJECT
private slots:
    void countFileName_data();
    void countFileName();
    void newCountFileNameSkipsTakenNames();
    void newCountFileNameStopsAt29999();
};

void tst_SameName::countFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    QTest::addRow("plain") << "/d/take.wav" << 1 << "/d/take(1).wav";
    QTest::addRow("several-dots") << "/d/a.b.wav" << 2 << "/d/a.b(2).wav";
    QTest::addRow("no-suffix-keeps-dot") << "/d/take" << 1 << "/d/take(1).";
    QTest::addRow("non-ascii") << QString::fromUtf8("/d/Übung.wav") << 3 << QString::fromUtf8("/d/Übung(3).wav");
}

void tst_SameName::countFileName()
{
    QFETCH(QString, path);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(ZVDownloadQueue::makeCountFileName(count, path), expected);
}

void tst_SameName::newCountFileNameSkipsTakenNames()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("take.wav");
    QCOMPARE(ZVDownloadQueue::makeNewCountFileName(path), dir.filePath("take(1).wav"));
    QFile(dir.filePath("take(1).wav")).open(QIODevice::WriteOnly);
    QFile(dir.filePath("take(3).wav")).open(QIODevice::WriteOnly);
    QCOMPARE(ZVDownloadQueue::makeNewCountFileName(path), dir.filePath("take(2).wav"));
}

void tst_SameName::newCountFileNameStopsAt29999()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.wav");
    for (int count = 1; count <= 29999; ++count)
        QVERIFY(QFile(ZVDownloadQueue::makeCountFileName(count, path)).open(QIODevice::WriteOnly));
    QTest::ignoreMessage(QtWarningMsg, "download: name count is over. Overwrite by last count name.");
    QCOMPARE(ZVDownloadQueue::makeNewCountFileName(path), dir.filePath("t(29999).wav"));

    // One free slot below the cap is found.
    QVERIFY(QFile::remove(dir.filePath("t(29998).wav")));
    QCOMPARE(ZVDownloadQueue::makeNewCountFileName(path), dir.filePath("t(29998).wav"));
}

QTEST_GUILESS_MAIN(tst_SameName)
#include "tst_samename.moc"
