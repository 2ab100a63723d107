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
        QTest::addRow("one-byte-shows-1KB") << CellRow{"take01wav", false, 1, "1 KB", "ZV_06_02_wav"};
        QTest::addRow("just-under-1KiB-shows-1KB") << CellRow{"a.mp3", false, 1023, "1 KB", "ZV_06_02_mp3"};
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
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<QStringList>("expected");

        // Entries (see sort()): folders "b-dir" (size 9, day 5) and "A-dir"
        // (size 0, day 1); files "B.WAV" (300, day 2), "a.wav" (100, day 9),
        // "C.MP3" (200, day 4).
        QTest::addRow("name-ascending-is-ordinal-not-case-folded")
            << int(DownloadFileModel::ColumnName) << Qt::AscendingOrder
            << QStringList{"A-dir", "b-dir", "B.WAV", "C.MP3", "a.wav"};
        QTest::addRow("name-descending-keeps-folders-on-top")
            << int(DownloadFileModel::ColumnName) << Qt::DescendingOrder
            << QStringList{"b-dir", "A-dir", "a.wav", "C.MP3", "B.WAV"};
        QTest::addRow("date-descending-keeps-folders-on-top")
            << int(DownloadFileModel::ColumnDate) << Qt::DescendingOrder
            << QStringList{"b-dir", "A-dir", "a.wav", "C.MP3", "B.WAV"};
        QTest::addRow("size-ascending-compares-folders-by-their-size")
            << int(DownloadFileModel::ColumnSize) << Qt::AscendingOrder
            << QStringList{"A-dir", "b-dir", "a.wav", "C.MP3", "B.WAV"};
        QTest::addRow("size-descending-keeps-folders-on-top")
            << int(DownloadFileModel::ColumnSize) << Qt::DescendingOrder
            << QStringList{"b-dir", "A-dir", "B.WAV", "C.MP3", "a.wav"};
        QTest::addRow("check-column-moves-nothing") << int(DownloadFileModel::ColumnCheck) << Qt::AscendingOrder
                                                    << QStringList{"B.WAV", "b-dir", "a.wav", "A-dir", "C.MP3"};
    }

    void sort()
    {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        QFETCH(QStringList, expected);
        Entries entries;
        entries.add(QStringLiteral("B.WAV"), false, 300, 1, 2);
        entries.add(QStringLiteral("b-dir"), true, 9, -32767, 5);
        entries.add(QStringLiteral("a.wav"), false, 100, 2, 9);
        entries.add(QStringLiteral("A-dir"), true, 0, -32766, 1);
        entries.add(QStringLiteral("C.MP3"), false, 200, 3, 4);
        entries.model.sort(column, order);
        QCOMPARE(entries.names(), expected);
    }

    void checkedTotalsAndIndexes_data()
    {
        QTest::addColumn<QList<int>>("checkedRows"); // {-1}: all
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QList<int>>("indexes");

        // Rows (see checkedTotalsAndIndexes): 0 folder of 50 bytes, 1 file 1000
        // (index 7), 2 file 0 bytes (index 3), 3 file 4 GiB - 1 (index 0x7FFF).
        QTest::addRow("nothing-checked") << QList<int>{} << qint64(0) << QList<int>{};
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
    }

    void passesModelTester()
    {
        Entries entries;
        entries.add(QStringLiteral("DIR"), true, 0, -32767, 1);
        entries.add(QStringLiteral("b.wav"), false, 10, 1, 2);
        entries.add(QStringLiteral("A.MP3"), false, 5000, 2, 3);
        {
            // Qt 6's tester wants every layoutChanged announced and every
            // persistent index kept valid, which the window's refill and emptying
            // do not: it watches the filled model until before the emptying.
            QAbstractItemModelTester tester(&entries.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            entries.model.setData(entries.model.index(1, DownloadFileModel::ColumnCheck), Qt::Checked,
                                  Qt::CheckStateRole);
            entries.model.setAllChecked(false);
            for (int column = 0; column < DownloadFileModel::ColumnCount; ++column) {
                entries.model.sort(column, Qt::AscendingOrder);
                entries.model.sort(column, Qt::DescendingOrder);
            }
        }
        entries.model.clear();
        emit entries.model.layoutChanged();
        QCOMPARE(entries.model.rowCount(), 0);
    }
};

QTEST_MAIN(tst_DownloadFileModel)
#include "tst_downloadfilemodel.moc"
