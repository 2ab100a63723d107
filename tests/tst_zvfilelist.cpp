// Decoding of the recorder's file-list packets into entries, and the list's
// lookup by entry index.
#include <QMutex>
#include <QtEndian>
#include <QtTest>

#include "protocol/zvcommand.h"
#include "protocol/zvfilelist.h"

namespace {
const QByteArray Separator = QByteArray::fromHex("000d");

QByteArray utf16le(const QString &text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray entry(quint16 index, quint16 date, quint16 time, quint32 size, const QByteArray &name, bool separator = true)
{
    QByteArray bytes(10, '\0');
    qToBigEndian(index, bytes.data());
    qToBigEndian(date, bytes.data() + 2);
    qToBigEndian(time, bytes.data() + 4);
    qToBigEndian(size, bytes.data() + 6);
    bytes += name;
    if (separator)
        bytes += Separator;
    return bytes;
}

QByteArray listPacket(const QByteArray &payload, quint16 total = 0)
{
    QByteArray header(HEADER_SIZE, '\0');
    header[0] = 'Z';
    header[1] = 'V';
    header[KIND_OFFSET] = char(KIND_COMMAND);
    header[CODE_OFFSET] = char(CODE_FILE_LIST);
    qToBigEndian(total, header.data() + COUNT_OFFSET);
    qToBigEndian(quint16(payload.size()), header.data() + LENGTH_OFFSET);
    return header + payload;
}

// 2024-05-17 13:45:30 as FAT words.
constexpr quint16 May17 = ((2024 - 1980) << 9) | (5 << 5) | 17;
constexpr quint16 At134530 = (13 << 11) | (45 << 5) | (30 / 2);
} // namespace

class tst_ZVFileList : public QObject
{
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void fieldsOfOneFileAndOneFolder();
    void duplicateIndexesKeepBothRows();
    void clearEmptiesAndLookupFollowsNewRows();
    void makeDateTime_data();
    void makeDateTime();
};

void tst_ZVFileList::decode_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("names");

    QTest::addRow("empty-payload") << QByteArray() << QStringList();
    // A name of an odd byte count has no separator on the code-unit grid: the
    // first pair at any offset ends it (here after one byte) and the bytes
    // after it start the next entry.
    QTest::addRow("separator-at-odd-offset") << entry(1, May17, 0, 5, QByteArray::fromHex("41000d01"), false)
                                                    .append(QByteArray::fromHex("020000000000000000"))
                                                    .append(utf16le("X"))
                                                    .append(Separator)
                                             << QStringList{"", "X"};
    // "eč" is 65 00 0d 01: the pair inside a name, off the code-unit grid,
    // does not end it.
    QTest::addRow("pair-inside-utf16-name")
        << entry(1, May17, 0, 5, utf16le(QString::fromUtf8("Večer.wav"))) + entry(2, May17, 0, 5, utf16le("B"))
        << QStringList{QString::fromUtf8("Večer.wav"), "B"};
    QTest::addRow("last-entry-without-separator")
        << entry(1, May17, 0, 5, utf16le("one")) + entry(2, May17, 0, 5, utf16le("two"), false) << QStringList{"one"};
    QTest::addRow("truncated-fields") << entry(1, May17, 0, 5, utf16le("one")) + QByteArray::fromHex("0002")
                                      << QStringList{"one"};
    QTest::addRow("odd-name-byte-dropped") << entry(3, May17, 0, 5, utf16le("AB") + 'C') << QStringList{"AB"};
    // An odd name's separator is off the grid; the first pair on the grid
    // lies in the next header (size 00 00 0D 00, or a time ending in 00 before
    // a size 0D ...) and would merge the two entries.
    const QByteArray oddName = entry(1, May17, 0, 5, utf16le("AB") + 'C');
    QTest::addRow("odd-name-then-size-0d00")
        << oddName + entry(2, May17, 0, 0x0D00, utf16le("B")) << QStringList{"AB", "B"};
    QTest::addRow("odd-name-then-time-00-size-0d")
        << oddName + entry(2, May17, 0x0800, 0x0D000000, utf16le("B")) << QStringList{"AB", "B"};
    QTest::addRow("utf16-pair-odd-name-and-size-0d00") << entry(2, May17, 0, 5, utf16le(QString::fromUtf8("Večer.wav")))
            + oddName
            + entry(3, May17, 0, 0x0D00, utf16le("C")) << QStringList{QString::fromUtf8("Večer.wav"), "AB", "C"};
    // Names beyond 255 code units are kept shortened, marked with "…".
    QTest::addRow("255-units-kept") << entry(1, May17, 0, 5, utf16le(QString(255, 'n')))
                                    << QStringList{QString(255, 'n')};
    QTest::addRow("256-units-shortened") << entry(1, May17, 0, 5, utf16le(QString(256, 'n')))
                                         << QStringList{QString(255, 'n') + QChar(0x2026)};
}

void tst_ZVFileList::decode()
{
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, names);

    const QByteArray bytes = listPacket(payload);
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    ZVFileList list;
    QMutex mutex;
    list.parseFileList(&command, Separator, &mutex);

    QStringList decoded;
    for (int row = 0; row < list.count(); ++row)
        decoded << list.at(row)->name;
    QCOMPARE(decoded, names);
    QVERIFY(mutex.tryLock());
    mutex.unlock();
}

void tst_ZVFileList::fieldsOfOneFileAndOneFolder()
{
    const QByteArray bytes
        = listPacket(entry(1, May17, At134530, 0xFFFFFFF0u, utf16le("AB")) + entry(0x8002, May17, 0, 0, utf16le("D1")));
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    ZVFileList list;
    list.parseFileList(&command, Separator, nullptr);
    QCOMPARE(list.count(), 2);

    const DownloadFileInfo *file = list.at(0);
    QVERIFY(!file->isFolder);
    QCOMPARE(int(file->index), 1);
    QCOMPARE(file->size, qint64(0xFFFFFFF0u)); // unsigned on the wire
    QCOMPARE(file->dateTime, QDateTime(QDate(2024, 5, 17), QTime(13, 45, 30), Qt::LocalTime));
    QVERIFY(!file->checked);

    const DownloadFileInfo *folder = list.at(1);
    QVERIFY(folder->isFolder);
    QCOMPARE(int(folder->index), -32766); // sign-extended folder index
    QCOMPARE(list.findByIndex(-32766), folder);
    QCOMPARE(list.findByIndex(1), file);
}

void tst_ZVFileList::duplicateIndexesKeepBothRows()
{
    const QByteArray bytes
        = listPacket(entry(7, May17, 0, 1, utf16le("first")) + entry(8, May17, 0, 1, utf16le("other"))
                     + entry(7, May17, 0, 2, utf16le("second")));
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    ZVFileList list;
    list.parseFileList(&command, Separator, nullptr);
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.findByIndex(7)->name, QString("second"));
    QCOMPARE(list.findByIndex(8)->name, QString("other"));
}

void tst_ZVFileList::clearEmptiesAndLookupFollowsNewRows()
{
    ZVFileList list;
    list.clear(); // nothing to do on an empty list
    QCOMPARE(list.count(), 0);

    QPointer<DownloadFileInfo> gone = new DownloadFileInfo;
    gone->index = 5;
    list.append(gone);
    auto *kept = new DownloadFileInfo;
    kept->index = 6;
    list.append(kept);
    list.clear();
    QVERIFY(gone.isNull()); // the list owns its entries
    QVERIFY(!list.containsIndex(5));

    auto *fresh = new DownloadFileInfo;
    fresh->index = 6;
    list.append(fresh);
    QCOMPARE(list.findByIndex(6), fresh);
}

void tst_ZVFileList::makeDateTime_data()
{
    QTest::addColumn<int>("date");
    QTest::addColumn<int>("time");
    QTest::addColumn<QDateTime>("expected");

    const auto local = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
    };
    QTest::addRow("zero-date") << 0 << 0 << QDateTime();
    QTest::addRow("last-second-of-day") << int(May17) << 0xBF7D << local(2024, 5, 17, 23, 59, 58);
    QTest::addRow("midnight") << int(May17) << 0 << local(2024, 5, 17, 0, 0, 0);
    QTest::addRow("fat-epoch") << ((0 << 9) | (1 << 5) | 1) << 0 << local(1980, 1, 1, 0, 0, 0);
    QTest::addRow("last-fat-year") << ((127 << 9) | (12 << 5) | 31) << 0 << local(2107, 12, 31, 0, 0, 0);
    QTest::addRow("leap-day") << (((2024 - 1980) << 9) | (2 << 5) | 29) << 0 << local(2024, 2, 29, 0, 0, 0);
    QTest::addRow("no-leap-day") << (((2023 - 1980) << 9) | (2 << 5) | 29) << 0 << QDateTime();
    QTest::addRow("month-13") << (((2023 - 1980) << 9) | (13 << 5) | 1) << 0 << QDateTime();
    // A bad time on a good day must not turn into midnight.
    QTest::addRow("hour-24") << int(May17) << (24 << 11) << QDateTime();
    QTest::addRow("minute-60") << int(May17) << (60 << 5) << QDateTime();
    QTest::addRow("second-62") << int(May17) << 31 << QDateTime();
}

void tst_ZVFileList::makeDateTime()
{
    QFETCH(int, date);
    QFETCH(int, time);
    QFETCH(QDateTime, expected);
    const QDateTime decoded = ZVFileList::makeDateTime(date, time);
    QCOMPARE(decoded.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(decoded, expected);
        QCOMPARE(decoded.timeSpec(), Qt::LocalTime);
    }
}

QTEST_GUILESS_MAIN(tst_ZVFileList)
#include "tst_zvfilelist.moc"
