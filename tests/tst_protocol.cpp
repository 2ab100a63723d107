// Packet parsing, the check value, the request builders, the listing's date
// words and the texts of a detail answer. The bounds-checked reads, the packet
// kinds and the decoding of listings into entries are checked by the framing
// and file-list fuzz targets' corpus replays.
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include "base/detailtext.h"
#include "base/zvfileformat.h"
#include "base/zvrecordmode.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"

class tst_Protocol : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void checkValue_data();
    void checkValue();
    void builders_data();
    void builders();
    void makeDateTime_data();
    void makeDateTime();
    void detailTexts_data();
    void detailTexts();
};

void tst_Protocol::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("parses");
    QTest::addRow("bare-header") << QByteArray::fromHex("5a56000000000000000000000000") << true;
    QTest::addRow("13-bytes") << QByteArray::fromHex("5a560000000000000000000000") << false;
    QTest::addRow("length-field-ignored") << QByteArray::fromHex("5a56404110000000000000000000010203040506") << true;
    QTest::addRow("foreign-kind-parses") << QByteArray::fromHex("5a56774100000000000000000000") << true;
}

// Parsed into a command that held a packet before: a failure leaves nothing
// of the earlier one behind.
void tst_Protocol::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, parses);
    ZVCommand command;
    const QByteArray earlier = QByteArray::fromHex("5a564041320000000000000000020102");
    QVERIFY(command.parse(&earlier));
    QCOMPARE(command.parse(&bytes), parses);
    QCOMPARE(command.isValid(), parses);
    QCOMPARE(command.header(), parses ? bytes.left(HEADER_SIZE) : QByteArray());
    QCOMPARE(command.payload(), parses ? bytes.mid(HEADER_SIZE) : QByteArray());
    if (!parses)
        QCOMPARE(command.kind(), quint8(0));
}

void tst_Protocol::checkValue_data()
{
    QTest::addColumn<QByteArray>("payload");
    const auto counting = [](int size) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + 3) & 0xFF);
        return bytes;
    };
    QTest::addRow("empty") << QByteArray();
    // Around the 16-byte steps and 64-byte rounds of the wide loops.
    for (int size : {15, 16, 17, 63, 64, 65, 1023, 32768, 65535})
        QTest::addRow("size-%d", size) << counting(size);
    // 0xFF bytes past 2^32 / 255 of them: the sum wraps in 32 bits.
    QTest::addRow("sum-wraps") << QByteArray(16843010 + 77, char(0xFF));
}

// Both the check value of this build and the portable one are the complement
// of the 32-bit byte sum.
void tst_Protocol::checkValue()
{
    QFETCH(QByteArray, payload);
    // From the first byte, and from the second: not aligned to 16 bytes.
    for (int from = 0; from <= qMin(1, payload.size()); ++from) {
        quint32 sum = 0;
        for (int i = from; i < payload.size(); ++i)
            sum += quint8(payload.at(i));
        QCOMPARE(payloadCheckValue(payload.constData() + from, payload.size() - from), ~sum);
        QCOMPARE(portablePayloadCheckValue(payload.constData() + from, payload.size() - from), ~sum);
    }
}

void tst_Protocol::builders_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::addRow("file-list") << ZVCommandFactory::createFileListRequest()
                               << QByteArray::fromHex("5a564041100000000000000000 00");
    QTest::addRow("move-parent") << ZVCommandFactory::createMoveFolderRequest(qint16(PARENT_FOLDER_INDEX))
                                 << QByteArray::fromHex("5a564041200080000000000000 00");
    QTest::addRow("detail-folder-bit") << ZVCommandFactory::createFileDetailRequest(qint16(-32766))
                                       << QByteArray::fromHex("5a5640412100800200000000 0000");
    QTest::addRow("detail-result") << ZVCommandFactory::createFileDetailResultRequest()
                                   << QByteArray::fromHex("5a5640412200000000000000 0000");
    QTest::addRow("download-7") << ZVCommandFactory::createDownloadRequest(7)
                                << QByteArray::fromHex("5a5640413000000700000000 0000");
    QTest::addRow("cancel") << ZVCommandFactory::createCancelDownloadRequest()
                            << QByteArray::fromHex("5a5640413100000000000000 0000");
    QTest::addRow("record-mode-mtr") << ZVCommandFactory::createRecordModeRequest(RecordModeMTR)
                                     << QByteArray::fromHex("5a5630410000000100000000 0000");
}

void tst_Protocol::builders()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void tst_Protocol::makeDateTime_data()
{
    QTest::addColumn<int>("dateWord"); // FAT layout
    QTest::addColumn<int>("timeWord");
    QTest::addColumn<QDateTime>("expected"); // local time
    const auto local = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
    };
    const int may17 = ((2024 - 1980) << 9) | (5 << 5) | 17;
    QTest::addRow("zero-date") << 0 << 0 << QDateTime();
    QTest::addRow("last-second-of-day") << may17 << 0xBF7D << local(2024, 5, 17, 23, 59, 58);
    QTest::addRow("last-fat-year") << ((127 << 9) | (12 << 5) | 31) << 0 << local(2107, 12, 31, 0, 0, 0);
    QTest::addRow("leap-day") << (((2024 - 1980) << 9) | (2 << 5) | 29) << 0 << local(2024, 2, 29, 0, 0, 0);
    QTest::addRow("no-leap-day") << (((2023 - 1980) << 9) | (2 << 5) | 29) << 0 << QDateTime();
    // A bad time on a good day must not turn into midnight.
    QTest::addRow("hour-24") << may17 << (24 << 11) << QDateTime();
}

void tst_Protocol::makeDateTime()
{
    QFETCH(int, dateWord);
    QFETCH(int, timeWord);
    QFETCH(QDateTime, expected);
    const QDateTime decoded = ZVFileList::makeDateTime(dateWord, timeWord);
    QCOMPARE(decoded, expected);
    if (expected.isValid())
        QCOMPARE(decoded.timeSpec(), Qt::LocalTime);
}

// Values the demo files never produce.
void tst_Protocol::detailTexts_data()
{
    QTest::addColumn<ZVFileFormat>("format");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<uint>("samples");
    QTest::addColumn<QString>("formatText");
    QTest::addColumn<QString>("lengthText");
    QTest::addRow("zero-rate-does-not-divide") << FormatWAV << 0u << 16u << 96000u << "WAV  0Hz 16bit"
                                               << "--:--:--";
    QTest::addRow("mp3-bitrate-truncates") << FormatMP3 << 44100u << 127999u << 0u << "MP3  44100Hz 127kbps"
                                           << "00:00:00";
    QTest::addRow("hours-do-not-wrap") << FormatWAV << 10u << 24u << 3600000u << "WAV  10Hz 24bit"
                                       << "100:00:00";
}

void tst_Protocol::detailTexts()
{
    QFETCH(ZVFileFormat, format);
    QFETCH(uint, rate);
    QFETCH(uint, bits);
    QFETCH(uint, samples);
    QFETCH(QString, formatText);
    QFETCH(QString, lengthText);
    QCOMPARE(DetailText::formatText(format, rate, bits), formatText);
    QCOMPARE(DetailText::lengthText(samples, rate), lengthText);
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
