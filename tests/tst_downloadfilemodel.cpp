// The file table behind the main window: the cells of a row (size text, type
// icon, what a folder leaves empty), the sorting rules, the check column and
// the checked-entry helpers, plus Qt's own model checks.
#include <QAbstractItemModelTester>
#include <QPixmap>
#include <QtTest>

#include "base/downloadfileinfo.h"
#include "ui/downloadfilemodel.h"

namespace {
const QString Icons = QStringLiteral(":/images/resource/");

// Entries owned outside the model, as the window owns them, filled in the
// window's way: clear, append each, layoutChanged.
struct Entries : QObject
{
    DownloadFileModel model;

    void add(const QString &name, bool isFolder, qint64 size, int index = 0, int day = 1)
    {
        auto *info = new DownloadFileInfo(this);
        info->name = name;
        info->isFolder = isFolder;
        info->size = size;
        info->index = qint16(index);
        info->dateTime = QDateTime(QDate(2024, 5, day), QTime(12, 0));
        model.append(info);
        emit model.layoutChanged();
    }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model.data(model.index(row, column), role);
    }
    QStringList names() const
    {
        QStringList list;
        for (int row = 0; row < model.rowCount(); ++row)
            list << cell(row, DownloadFileModel::ColumnName).toString();
        return list;
    }
};
} // namespace

// A name, whether it is a folder, its size; the size text (empty for a
// folder: no text) and the picture (empty: no decoration).
struct CellRow
{
    QString name;
    bool isFolder;
    qint64 size;
    QString sizeText;
    QString icon;
};
Q_DECLARE_METATYPE(CellRow)

class tst_DownloadFileModel : public QObject
{
    Q_OBJECT
private slots:
    void rowCells_data()
    {
        QTest::addColumn<CellRow>("row");
        QTest::addRow("zero-is-not-rounded-up") << CellRow{"A.WAV", false, 0, "0", "ZV_06_02_wav"};
        QTest::addRow("one-byte-shows-1KB") << CellRow{"take01mp3", false, 1, "1 KB", "ZV_06_02_mp3"};
        QTest::addRow("just-under-2KiB-truncates") << CellRow{"a.WmA", false, 2047, "1 KB", "ZV_06_02_wma"};
        QTest::addRow("1MiB-group-separator") << CellRow{"a.dsd", false, 1048576, "1,024 KB", "ZV_06_02_dsd"};
        QTest::addRow("4GiB-no-overflow") << CellRow{"a.aif", false, 0xFFFFFFFF, "4,194,303 KB", "ZV_06_02_aif"};
        QTest::addRow("aiff-is-not-aif") << CellRow{"a.aiff", false, 2048, "2 KB", {}};
        QTest::addRow("wav-inside-the-name-only") << CellRow{"wav.txt", false, 2048, "2 KB", {}};
        QTest::addRow("folder-shows-name-and-icon-only") << CellRow{"LIVE.WAV", true, 4096, {}, "ZV_09"};
    }

    void rowCells()
    {
        QFETCH(CellRow, row);
        Entries entries;
        entries.add(row.name, row.isFolder, row.size);
        QCOMPARE(entries.cell(0, DownloadFileModel::ColumnSize).toString(), row.sizeText);
        QCOMPARE(entries.cell(0, DownloadFileModel::ColumnDate).isValid(), !row.isFolder);
        const QVariant decoration = entries.cell(0, DownloadFileModel::ColumnName, Qt::DecorationRole);
        if (row.icon.isEmpty())
            QVERIFY(!decoration.isValid());
        else
            QCOMPARE(decoration.value<QPixmap>().toImage(), QPixmap(Icons + row.icon + ".png").toImage());
    }

    void sort_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("ascending");
        QTest::addColumn<QStringList>("descending");

        // Entries (see sort()): folders "b-dir" (size 9, day 5) and "A-dir"
        // (size 0, day 6); files "B.WAV" (300, day 2), "a.wav" (100, day 3),
        // "C.MP3" (200, day 4). Folders stay on top in both orders.
        QTest::addRow("name-is-ordinal-not-case-folded")
            << int(DownloadFileModel::ColumnName) << QStringList{"A-dir", "b-dir", "B.WAV", "C.MP3", "a.wav"}
            << QStringList{"b-dir", "A-dir", "a.wav", "C.MP3", "B.WAV"};
        QTest::addRow("date") << int(DownloadFileModel::ColumnDate)
                              << QStringList{"b-dir", "A-dir", "B.WAV", "a.wav", "C.MP3"}
                              << QStringList{"A-dir", "b-dir", "C.MP3", "a.wav", "B.WAV"};
        QTest::addRow("size-compares-folders-by-their-size")
            << int(DownloadFileModel::ColumnSize) << QStringList{"A-dir", "b-dir", "a.wav", "C.MP3", "B.WAV"}
            << QStringList{"b-dir", "A-dir", "B.WAV", "C.MP3", "a.wav"};
        const QStringList asAdded{"B.WAV", "b-dir", "a.wav", "A-dir", "C.MP3"};
        QTest::addRow("check-column-moves-nothing") << int(DownloadFileModel::ColumnCheck) << asAdded << asAdded;
    }

    void sort()
    {
        QFETCH(int, column);
        QFETCH(QStringList, ascending);
        QFETCH(QStringList, descending);
        Entries entries;
        entries.add(QStringLiteral("B.WAV"), false, 300, 1, 2);
        entries.add(QStringLiteral("b-dir"), true, 9, -32767, 5);
        entries.add(QStringLiteral("a.wav"), false, 100, 2, 3);
        entries.add(QStringLiteral("A-dir"), true, 0, -32766, 6);
        entries.add(QStringLiteral("C.MP3"), false, 200, 3, 4);
        // Qt's own model checks watch the filled model (the window's refill
        // announces no layout change ahead, which Qt 6's tester wants).
        QAbstractItemModelTester tester(&entries.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        entries.model.sort(column, Qt::AscendingOrder);
        QCOMPARE(entries.names(), ascending);
        entries.model.sort(column, Qt::DescendingOrder);
        QCOMPARE(entries.names(), descending);
    }

    void checkedTotalsAndIndexes_data()
    {
        QTest::addColumn<QList<int>>("checkedRows"); // {-1}: all
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QList<int>>("indexes");

        // Rows (see checkedTotalsAndIndexes): 0 folder of 50 bytes, 1 file 1000
        // (index 7), 2 file 0 bytes (index 3), 3 file 4 GiB - 1 (index 0x7FFF).
        QTest::addRow("checked-folder-counts-in-total-not-in-indexes") << QList<int>{0} << qint64(50) << QList<int>{};
        QTest::addRow("indexes-in-row-order-not-check-order")
            << QList<int>{3, 1} << qint64(1000) + 0xFFFFFFFF << QList<int>{7, 0x7FFF};
        QTest::addRow("empty-file-is-still-downloaded") << QList<int>{2} << qint64(0) << QList<int>{3};
        QTest::addRow("check-all-includes-folders")
            << QList<int>{-1} << qint64(50 + 1000) + 0xFFFFFFFF << QList<int>{7, 3, 0x7FFF};
    }

    void checkedTotalsAndIndexes()
    {
        QFETCH(QList<int>, checkedRows);
        QFETCH(qint64, total);
        QFETCH(QList<int>, indexes);
        Entries entries;
        entries.add(QStringLiteral("DIR"), true, 50, -32760);
        entries.add(QStringLiteral("A.WAV"), false, 1000, 7);
        entries.add(QStringLiteral("EMPTY.WAV"), false, 0, 3);
        entries.add(QStringLiteral("BIG.WAV"), false, 0xFFFFFFFF, 0x7FFF);
        QAbstractItemModelTester tester(&entries.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        // A row is checked as the table's check box does it: its check state.
        for (int row : qAsConst(checkedRows)) {
            if (row < 0)
                entries.model.setAllChecked(true);
            else
                QVERIFY(entries.model.setData(entries.model.index(row, DownloadFileModel::ColumnCheck), Qt::Checked,
                                              Qt::CheckStateRole));
        }

        QCOMPARE(entries.model.checkedTotalSize(), total);
        QList<int> result{99}; // the helper empties the list first
        entries.model.checkedFileIndexes(result);
        QCOMPARE(result, indexes);
        entries.model.clear();
        QCOMPARE(entries.model.rowCount(), 0);
    }
};

QTEST_MAIN(tst_DownloadFileModel)
#include "tst_downloadfilemodel.moc"
