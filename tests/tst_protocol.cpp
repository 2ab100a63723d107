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

namespace {
QByteArray packet(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

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
    QTest::addRow("bare-header") << packet("5a56000000000000000000000000") << true;
    QTest::addRow("13-bytes") << packet("5a560000000000000000000000") << false;
    QTest::addRow("bad-magic") << packet("5a580000000000000000000000000000000000000000") << false;
    QTest::addRow("length-field-ignored") << packet("5a56404110000000000000000000010203040506") << true;
    QTest::addRow("foreign-kind-parses") << packet("5a56774100000000000000000000") << true;
}

// Parsed into a command that held a packet before: a failure leaves nothing
// of the earlier one behind.
void tst_Protocol::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, parses);
    ZVCommand command;
    const QByteArray earlier = packet("5a564041320000000000000000020102");
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
    QTest::addRow("one-byte") << QByteArray(1, char(0xFF));
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
    quint32 sum = 0;
    for (char byte : qAsConst(payload))
        sum += quint8(byte);
    QCOMPARE(payloadCheckValue(payload.constData(), payload.size()), ~sum);
    QCOMPARE(portablePayloadCheckValue(payload.constData(), payload.size()), ~sum);
    // Not aligned to 16 bytes.
    if (payload.size() > 1) {
        const quint32 tailSum = sum - quint8(payload.at(0));
        QCOMPARE(payloadCheckValue(payload.constData() + 1, payload.size() - 1), ~tailSum);
        QCOMPARE(portablePayloadCheckValue(payload.constData() + 1, payload.size() - 1), ~tailSum);
    }
}

void tst_Protocol::builders_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::addRow("file-list") << ZVCommandFactory::createFileListRequest() << packet("5a564041100000000000000000 00");
    QTest::addRow("move-parent") << ZVCommandFactory::createMoveFolderRequest(qint16(PARENT_FOLDER_INDEX))
                                 << packet("5a564041200080000000000000 00");
    QTest::addRow("move-300") << ZVCommandFactory::createMoveFolderRequest(300)
                              << packet("5a56404120 00012c0000000000 00");
    QTest::addRow("detail-folder-bit") << ZVCommandFactory::createFileDetailRequest(qint16(-32766))
                                       << packet("5a5640412100800200000000 0000");
    QTest::addRow("detail-result") << ZVCommandFactory::createFileDetailResultRequest()
                                   << packet("5a5640412200000000000000 0000");
    QTest::addRow("download-7") << ZVCommandFactory::createDownloadRequest(7)
                                << packet("5a5640413000000700000000 0000");
    QTest::addRow("cancel") << ZVCommandFactory::createCancelDownloadRequest()
                            << packet("5a5640413100000000000000 0000");
    QTest::addRow("record-mode-music") << ZVCommandFactory::createRecordModeRequest(RecordModeMusic)
                                       << packet("5a5630410000000000000000 0000");
    QTest::addRow("record-mode-mtr") << ZVCommandFactory::createRecordModeRequest(RecordModeMTR)
                                     << packet("5a5630410000000100000000 0000");
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
    QTest::addRow("afternoon") << may17 << ((13 << 11) | (45 << 5) | (30 / 2)) << local(2024, 5, 17, 13, 45, 30);
    QTest::addRow("last-second-of-day") << may17 << 0xBF7D << local(2024, 5, 17, 23, 59, 58);
    QTest::addRow("fat-epoch") << ((0 << 9) | (1 << 5) | 1) << 0 << local(1980, 1, 1, 0, 0, 0);
    QTest::addRow("last-fat-year") << ((127 << 9) | (12 << 5) | 31) << 0 << local(2107, 12, 31, 0, 0, 0);
    QTest::addRow("leap-day") << (((2024 - 1980) << 9) | (2 << 5) | 29) << 0 << local(2024, 2, 29, 0, 0, 0);
    QTest::addRow("no-leap-day") << (((2023 - 1980) << 9) | (2 << 5) | 29) << 0 << QDateTime();
    QTest::addRow("month-13") << (((2023 - 1980) << 9) | (13 << 5) | 1) << 0 << QDateTime();
    // A bad time on a good day must not turn into midnight.
    QTest::addRow("hour-24") << may17 << (24 << 11) << QDateTime();
    QTest::addRow("minute-60") << may17 << (60 << 5) << QDateTime();
    QTest::addRow("second-62") << may17 << 31 << QDateTime();
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
