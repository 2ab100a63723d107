// The file table behind the main window: size texts, type icons, what folder
// rows leave empty, the sorting rules and the checked-entry helpers.
#include <QAbstractItemModelTester>
#include <QPixmap>
#include <QtTest>
#include <memory>
#include <vector>

#include "controller/downloadfileinfo.h"
#include "ui/downloadfilemodel.h"

namespace {
const QString FolderIcon = QStringLiteral(":/images/resource/ZV_09.png");
const QString WavIcon = QStringLiteral(":/images/resource/ZV_06_02_wav.png");
const QString Mp3Icon = QStringLiteral(":/images/resource/ZV_06_02_mp3.png");
const QString WmaIcon = QStringLiteral(":/images/resource/ZV_06_02_wma.png");
const QString DsdIcon = QStringLiteral(":/images/resource/ZV_06_02_dsd.png");
const QString AifIcon = QStringLiteral(":/images/resource/ZV_06_02_aif.png");

// Entries as the window fills the model: owned outside it.
class Entries
{
public:
    DownloadFileInfo *add(const QString &name, bool isFolder = false, qint64 size = 0, int index = 0,
                          const QDateTime &dateTime = QDateTime())
    {
        auto info = std::make_unique<DownloadFileInfo>();
        info->name = name;
        info->isFolder = isFolder;
        info->size = size;
        info->index = qint16(index);
        info->dateTime = dateTime;
        list.push_back(std::move(info));
        return list.back().get();
    }

    // The window's refill protocol: clear, append each, layoutChanged.
    void fill(DownloadFileModel *model) const
    {
        model->clear();
        for (const auto &info : list)
            model->append(info.get());
        emit model->layoutChanged();
    }

private:
    std::vector<std::unique_ptr<DownloadFileInfo>> list;
};

QStringList namesInRowOrder(const DownloadFileModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.data(model.index(row, DownloadFileModel::ColumnName)).toString();
    return names;
}

QDateTime at(int day, int hour = 12)
{
    return QDateTime(QDate(2024, 5, day), QTime(hour, 0));
}
} // namespace

class tst_DownloadFileModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sizeText_data();
    void sizeText();
    void typeIcon_data();
    void typeIcon();
    void folderRowShowsOnlyItsName();
    void fileRowCells();
    void emptyModelKeepsItsColumns();
    void headers();
    void sort_data();
    void sort();
    void sortByCheckColumnMovesNothing();
    void checkedTotalsAndIndexes_data();
    void checkedTotalsAndIndexes();
    void checkedIndexesFollowTheSortedRows();
    void passesModelTester();
};

void tst_DownloadFileModel::initTestCase()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
}

void tst_DownloadFileModel::sizeText_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::addRow("zero-is-not-rounded-up") << qint64(0) << "0";
    QTest::addRow("one-byte-shows-1KB") << qint64(1) << "1 KB";
    QTest::addRow("just-under-1KiB-shows-1KB") << qint64(1023) << "1 KB";
    QTest::addRow("exact-1KiB") << qint64(1024) << "1 KB";
    QTest::addRow("one-and-a-half-KiB-truncates") << qint64(1535) << "1 KB";
    QTest::addRow("just-under-2KiB-truncates") << qint64(2047) << "1 KB";
    QTest::addRow("exact-2KiB") << qint64(2048) << "2 KB";
    QTest::addRow("1MiB-gets-a-group-separator") << qint64(1048576) << "1,024 KB";
    QTest::addRow("large-groups-every-three-digits") << qint64(123456789) << "120,563 KB";
    QTest::addRow("4GiB-does-not-overflow") << qint64(0xFFFFFFFF) << "4,194,303 KB";
}

void tst_DownloadFileModel::sizeText()
{
    QFETCH(qint64, size);
    QFETCH(QString, text);

    Entries entries;
    entries.add(QStringLiteral("A.WAV"), false, size);
    DownloadFileModel model;
    entries.fill(&model);
    QCOMPARE(model.data(model.index(0, DownloadFileModel::ColumnSize)).toString(), text);
}

void tst_DownloadFileModel::typeIcon_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<QString>("icon");   // empty: no decoration
    QTest::addRow("upper-case-suffix") << "TAKE01.WAV" << false << WavIcon;
    QTest::addRow("suffix-without-dot") << "take01wav" << false << WavIcon;
    QTest::addRow("mp3") << "song.mp3" << false << Mp3Icon;
    QTest::addRow("mixed-case-wma") << "song.WmA" << false << WmaIcon;
    QTest::addRow("dsd") << "DSD.DSD" << false << DsdIcon;
    QTest::addRow("aif") << "x.aif" << false << AifIcon;
    QTest::addRow("aiff-is-not-aif") << "x.aiff" << false << QString();
    QTest::addRow("flac-has-none") << "x.flac" << false << QString();
    QTest::addRow("no-suffix-has-none") << "README" << false << QString();
    QTest::addRow("wav-inside-the-name-only") << "wav.txt" << false << QString();
    QTest::addRow("folder-wins-over-its-suffix") << "LIVE.WAV" << true << FolderIcon;
    QTest::addRow("plain-folder") << "FOLDER01" << true << FolderIcon;
}

void tst_DownloadFileModel::typeIcon()
{
    QFETCH(QString, name);
    QFETCH(bool, isFolder);
    QFETCH(QString, icon);

    Entries entries;
    entries.add(name, isFolder, 10);
    DownloadFileModel model;
    entries.fill(&model);

    const QVariant decoration = model.data(model.index(0, DownloadFileModel::ColumnName), Qt::DecorationRole);
    if (icon.isEmpty()) {
        QVERIFY(!decoration.isValid());
    } else {
        QVERIFY(decoration.canConvert<QPixmap>());
        const QImage expected = QPixmap(icon).toImage();
        QVERIFY(!expected.isNull());   // the resource is compiled in
        QCOMPARE(decoration.value<QPixmap>().toImage(), expected);
    }
    // Only the name column carries an icon.
    for (int column : {0, 2, 3})
        QVERIFY(!model.data(model.index(0, column), Qt::DecorationRole).isValid());
}

void tst_DownloadFileModel::folderRowShowsOnlyItsName()
{
    Entries entries;
    entries.add(QStringLiteral("FOLDER01"), true, 4096, 0x8001 - 0x10000, at(3));
    DownloadFileModel model;
    entries.fill(&model);

    QCOMPARE(model.data(model.index(0, DownloadFileModel::ColumnName)).toString(), QStringLiteral("FOLDER01"));
    QVERIFY(!model.data(model.index(0, DownloadFileModel::ColumnDate)).isValid());
    QVERIFY(!model.data(model.index(0, DownloadFileModel::ColumnSize)).isValid());
    QVERIFY(!model.data(model.index(0, DownloadFileModel::ColumnCheck)).isValid());
    QVERIFY(model.isFolder(model.index(0, 1)));
    // The recorder index of a folder (bit 15 set) comes back sign-extended.
    QCOMPARE(model.fileIndex(model.index(0, 1)), -32767);
}

void tst_DownloadFileModel::fileRowCells()
{
    const QDateTime when = at(17, 9);
    Entries entries;
    entries.add(QStringLiteral("ZV_0001.WAV"), false, 3000, 5, when);
    DownloadFileModel model;
    entries.fill(&model);

    // The date column hands the view the date-time itself, not a text.
    const QVariant date = model.data(model.index(0, DownloadFileModel::ColumnDate));
    QCOMPARE(date.userType(), int(QMetaType::QDateTime));
    QCOMPARE(date.toDateTime(), when);
    QCOMPARE(model.data(model.index(0, DownloadFileModel::ColumnSize)).toString(), QStringLiteral("2 KB"));
    // Sizes line up on the right.
    QCOMPARE(model.data(model.index(0, 3), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    // The helpers look only at the row.
    QCOMPARE(model.fileIndex(model.index(0, 2)), 5);
}

void tst_DownloadFileModel::emptyModelKeepsItsColumns()
{
    DownloadFileModel model;
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
}

void tst_DownloadFileModel::headers()
{
    DownloadFileModel model;
    const QStringList texts = {QString(), "Name", "Date", "Size"};
    const QList<int> widths = {32, 300, 140, 100};
    for (int section = 0; section < 4; ++section) {
        QCOMPARE(model.headerData(section, Qt::Horizontal).toString(), texts.at(section));
        QCOMPARE(model.headerData(section, Qt::Horizontal, Qt::SizeHintRole).toSize(),
                 QSize(widths.at(section), 24));
        QCOMPARE(model.headerData(section, Qt::Vertical, Qt::SizeHintRole).toSize(),
                 QSize(widths.at(section), 24));
        // No row numbers in a vertical header.
        QVERIFY(!model.headerData(section, Qt::Vertical).isValid());
    }
    QVERIFY(!model.headerData(4, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(4, Qt::Horizontal, Qt::SizeHintRole).isValid());
    QVERIFY(!model.headerData(-1, Qt::Horizontal, Qt::SizeHintRole).isValid());
}

// Rows: name, folder?, size, day of May. The expected order is by name.
void tst_DownloadFileModel::sort_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<Qt::SortOrder>("order");
    QTest::addColumn<QStringList>("expected");

    // Entries (see sort()): folders "b-dir" (size 9, day 5) and "A-dir"
    // (size 0, day 1); files "B.WAV" (size 300, day 2), "a.wav" (size 100,
    // day 9), "C.MP3" (size 200, day 4).
    QTest::addRow("name-ascending-is-ordinal-not-case-folded")
        << 1 << Qt::AscendingOrder << QStringList{"A-dir", "b-dir", "B.WAV", "C.MP3", "a.wav"};
    QTest::addRow("name-descending-keeps-folders-on-top")
        << 1 << Qt::DescendingOrder << QStringList{"b-dir", "A-dir", "a.wav", "C.MP3", "B.WAV"};
    QTest::addRow("date-ascending")
        << 2 << Qt::AscendingOrder << QStringList{"A-dir", "b-dir", "B.WAV", "C.MP3", "a.wav"};
    QTest::addRow("date-descending-keeps-folders-on-top")
        << 2 << Qt::DescendingOrder << QStringList{"b-dir", "A-dir", "a.wav", "C.MP3", "B.WAV"};
    QTest::addRow("size-ascending-compares-folders-by-their-size")
        << 3 << Qt::AscendingOrder << QStringList{"A-dir", "b-dir", "a.wav", "C.MP3", "B.WAV"};
    QTest::addRow("size-descending-keeps-folders-on-top")
        << 3 << Qt::DescendingOrder << QStringList{"b-dir", "A-dir", "B.WAV", "C.MP3", "a.wav"};
}

void tst_DownloadFileModel::sort()
{
    QFETCH(int, column);
    QFETCH(Qt::SortOrder, order);
    QFETCH(QStringList, expected);

    Entries entries;
    entries.add(QStringLiteral("B.WAV"), false, 300, 1, at(2));
    entries.add(QStringLiteral("b-dir"), true, 9, -32767, at(5));
    entries.add(QStringLiteral("a.wav"), false, 100, 2, at(9));
    entries.add(QStringLiteral("A-dir"), true, 0, -32766, at(1));
    entries.add(QStringLiteral("C.MP3"), false, 200, 3, at(4));
    DownloadFileModel model;
    entries.fill(&model);

    QSignalSpy aboutToChange(&model, &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy changed(&model, &QAbstractItemModel::layoutChanged);
    model.sort(column, order);
    QCOMPARE(namesInRowOrder(model), expected);
    QCOMPARE(aboutToChange.count(), 1);
    QCOMPARE(changed.count(), 1);
    // Whole-table layout change, no parents and no hint.
    QVERIFY(changed.at(0).at(0).value<QList<QPersistentModelIndex>>().isEmpty());
    QCOMPARE(changed.at(0).at(1).value<QAbstractItemModel::LayoutChangeHint>(),
             QAbstractItemModel::NoLayoutChangeHint);
}

void tst_DownloadFileModel::sortByCheckColumnMovesNothing()
{
    Entries entries;
    entries.add(QStringLiteral("B"), false, 2);
    entries.add(QStringLiteral("A"), false, 1);
    DownloadFileModel model;
    entries.fill(&model);

    QSignalSpy aboutToChange(&model, &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy changed(&model, &QAbstractItemModel::layoutChanged);
    model.sort(0, Qt::AscendingOrder);
    model.sort(0, Qt::DescendingOrder);
    QCOMPARE(namesInRowOrder(model), (QStringList{"B", "A"}));
    QCOMPARE(aboutToChange.count(), 0);
    QCOMPARE(changed.count(), 0);
}

void tst_DownloadFileModel::checkedTotalsAndIndexes_data()
{
    QTest::addColumn<QList<int>>("checkedRows");
    QTest::addColumn<bool>("checkAllFirst");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QList<int>>("indexes");

    // Rows (see checkedTotalsAndIndexes): 0 folder of 50 bytes, 1 file 1000
    // (index 7), 2 file 0 bytes (index 3), 3 file 4 GiB - 1 (index 0x7FFF).
    QTest::addRow("nothing-checked") << QList<int>{} << false << qint64(0) << QList<int>{};
    QTest::addRow("checked-folder-counts-in-total-not-in-indexes")
        << QList<int>{0} << false << qint64(50) << QList<int>{};
    QTest::addRow("indexes-in-row-order-not-check-order")
        << QList<int>{3, 1} << false << qint64(1000) + 0xFFFFFFFF << QList<int>{7, 0x7FFF};
    QTest::addRow("empty-file-is-still-downloaded") << QList<int>{2} << false << qint64(0) << QList<int>{3};
    QTest::addRow("check-all-includes-folders")
        << QList<int>{} << true << qint64(50 + 1000) + 0xFFFFFFFF << QList<int>{7, 3, 0x7FFF};
}

void tst_DownloadFileModel::checkedTotalsAndIndexes()
{
    QFETCH(QList<int>, checkedRows);
    QFETCH(bool, checkAllFirst);
    QFETCH(qint64, total);
    QFETCH(QList<int>, indexes);

    Entries entries;
    entries.add(QStringLiteral("DIR"), true, 50, -32760);
    entries.add(QStringLiteral("A.WAV"), false, 1000, 7);
    entries.add(QStringLiteral("EMPTY.WAV"), false, 0, 3);
    entries.add(QStringLiteral("BIG.WAV"), false, 0xFFFFFFFF, 0x7FFF);
    DownloadFileModel model;
    entries.fill(&model);

    if (checkAllFirst)
        model.setAllChecked(true);
    for (int row : qAsConst(checkedRows))
        model.setChecked(row, true);

    QCOMPARE(model.checkedTotalSize(), total);
    QList<int> result{99};   // the helper empties the list first
    model.checkedFileIndexes(result);
    QCOMPARE(result, indexes);
    for (int row = 0; row < model.rowCount(); ++row)
        QCOMPARE(model.isChecked(row), checkAllFirst || checkedRows.contains(row));

    model.setAllChecked(false);
    model.checkedFileIndexes(result);
    QVERIFY(result.isEmpty());
    QCOMPARE(model.checkedTotalSize(), qint64(0));
}

// The flags live in the entries, so a sort takes them along.
void tst_DownloadFileModel::checkedIndexesFollowTheSortedRows()
{
    Entries entries;
    entries.add(QStringLiteral("C.WAV"), false, 1, 30);
    entries.add(QStringLiteral("A.WAV"), false, 1, 10);
    entries.add(QStringLiteral("B.WAV"), false, 1, 20);
    DownloadFileModel model;
    entries.fill(&model);
    model.setChecked(0, true);   // C
    model.setChecked(2, true);   // B

    model.sort(1, Qt::AscendingOrder);
    QCOMPARE(namesInRowOrder(model), (QStringList{"A.WAV", "B.WAV", "C.WAV"}));
    QCOMPARE(model.isChecked(0), false);
    QCOMPARE(model.isChecked(1), true);
    QCOMPARE(model.isChecked(2), true);
    QList<int> indexes;
    model.checkedFileIndexes(indexes);
    QCOMPARE(indexes, (QList<int>{20, 30}));
}

void tst_DownloadFileModel::passesModelTester()
{
    DownloadFileModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    Entries first;
    first.add(QStringLiteral("DIR"), true, 0, -32767, at(1));
    first.add(QStringLiteral("b.wav"), false, 10, 1, at(2));
    first.add(QStringLiteral("A.MP3"), false, 5000, 2, at(3));
    first.fill(&model);
    for (int column = 0; column < 4; ++column) {
        model.sort(column, Qt::AscendingOrder);
        model.sort(column, Qt::DescendingOrder);
    }

    Entries second;
    second.add(QStringLiteral("ONLY.WAV"), false, 1, 1);
    second.fill(&model);
    QCOMPARE(model.rowCount(), 1);

    model.clear();
    emit model.layoutChanged();
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(tst_DownloadFileModel)
#include "tst_downloadfilemodel.moc"
