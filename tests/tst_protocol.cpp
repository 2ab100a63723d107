// Packet parsing, bounds-checked reads, the check value and the request
// builders.
#include <QSignalSpy>
#include <QtTest>

#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"

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
    void reparseFailureClearsEarlierPacket();
    void rangedReads_data();
    void rangedReads();
    void kind_data();
    void kind();
    void crc_data();
    void crc();
    void payloadString_data();
    void payloadString();
    void payloadIndexOfIsBytewise();
    void builders_data();
    void builders();
};

void tst_Protocol::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("payloadSize");
    QTest::addColumn<QString>("debug");

    QTest::addRow("bare-header") << packet("5a56000000000000000000000000") << true << 0 << QString();
    QTest::addRow("13-bytes") << packet("5a560000000000000000000000") << false << 0
                              << "command: parse error: size too short";
    QTest::addRow("bad-magic") << packet("5a580000000000000000000000000000000000000000") << false << 0
                               << "command: parse error: Illegal command header";
    QTest::addRow("length-field-ignored")
        << packet("5a56404110000000000000000000010203040506") << true << 6 << QString();
    QTest::addRow("foreign-kind-parses") << packet("5a56774100000000000000000000") << true << 0 << QString();
}

void tst_Protocol::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(int, payloadSize);
    QFETCH(QString, debug);

    if (!debug.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, debug.toLatin1().constData());
    ZVCommand command;
    QCOMPARE(command.parse(&bytes), ok);
    QCOMPARE(command.isValid(), ok);
    QCOMPARE(command.payload().size(), payloadSize);
    if (ok) {
        QCOMPARE(command.header(), bytes.left(HEADER_SIZE));
        QCOMPARE(command.payload(), bytes.mid(HEADER_SIZE));
    } else {
        QVERIFY(command.header().isEmpty());
    }
}

void tst_Protocol::reparseFailureClearsEarlierPacket()
{
    ZVCommand command;
    const QByteArray good = packet("5a564041320000000000000000020102");
    QVERIFY(command.parse(&good));
    QCOMPARE(command.payload().size(), 2);

    const QByteArray shortOne = packet("5a5640");
    QTest::ignoreMessage(QtDebugMsg, "command: parse error: size too short");
    QVERIFY(!command.parse(&shortOne));
    QVERIFY(command.header().isEmpty());
    QVERIFY(command.payload().isEmpty());
    QCOMPARE(command.kind(), quint8(0));
}

void tst_Protocol::rangedReads_data()
{
    QTest::addColumn<QString>("read");
    QTest::addColumn<int>("index");
    QTest::addColumn<quint32>("expected");
    QTest::addColumn<bool>("outOfRange");

    // Header 5a 56 40 41 10 02 a1 b2 c3 d4 e5 f6 07 08, payload 01 02 03.
    QTest::addRow("headerByte-13") << "headerByte" << 13 << 0x08u << false;
    QTest::addRow("headerByte-14") << "headerByte" << 14 << 0u << true;
    QTest::addRow("headerWord-12") << "headerWord" << 12 << 0x0708u << false;
    QTest::addRow("headerWord-13") << "headerWord" << 13 << 0u << true;
    QTest::addRow("headerWord-6") << "headerWord" << 6 << 0xa1b2u << false;
    QTest::addRow("headerLong-10") << "headerLong" << 10 << 0xe5f60708u << false;
    QTest::addRow("headerLong-11") << "headerLong" << 11 << 0u << true;
    QTest::addRow("headerLong-6") << "headerLong" << 6 << 0xa1b2c3d4u << false;
    QTest::addRow("payloadByte-2") << "payloadByte" << 2 << 0x03u << false;
    QTest::addRow("payloadByte-3") << "payloadByte" << 3 << 0u << true;
    QTest::addRow("payloadWord-1") << "payloadWord" << 1 << 0x0203u << false;
    QTest::addRow("payloadWord-2") << "payloadWord" << 2 << 0u << true;
    QTest::addRow("payloadLong-0-of-3") << "payloadLong" << 0 << 0u << true;
}

void tst_Protocol::rangedReads()
{
    QFETCH(QString, read);
    QFETCH(int, index);
    QFETCH(quint32, expected);
    QFETCH(bool, outOfRange);

    ZVCommand command;
    const QByteArray bytes = packet("5a56404110 02a1b2c3d4e5f60708 010203");
    QVERIFY(command.parse(&bytes));
    QSignalSpy errors(&command, &ZVCommand::error);

    quint32 value = 0xdeadbeef;
    if (read == "headerByte")
        value = command.headerByte(index);
    else if (read == "headerWord")
        value = command.headerWord(index);
    else if (read == "headerLong")
        value = command.headerLong(index);
    else if (read == "payloadByte")
        value = command.payloadByte(index);
    else if (read == "payloadWord")
        value = command.payloadWord(index);
    else if (read == "payloadLong")
        value = command.payloadLong(index);
    QCOMPARE(value, expected);
    QCOMPARE(errors.count(), outOfRange ? 1 : 0);
}

void tst_Protocol::kind_data()
{
    QTest::addColumn<int>("kindByte");
    QTest::addColumn<int>("expected");
    for (int known : {0x10, 0x20, 0x30, 0x40, 0xF0})
        QTest::addRow("known-%02x", known) << known << known;
    for (int unknown : {0x00, 0x41, 0x31, 0xFF})
        QTest::addRow("unknown-%02x", unknown) << unknown << 0;
}

void tst_Protocol::kind()
{
    QFETCH(int, kindByte);
    QFETCH(int, expected);
    QByteArray bytes = packet("5a56000000000000000000000000");
    bytes[KIND_OFFSET] = static_cast<char>(kindByte);
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    QCOMPARE(int(command.kind()), expected);
    QCOMPARE(ZVCommand::isKnownKind(quint8(kindByte)), expected != 0);
}

void tst_Protocol::crc_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<quint32>("expected");

    QTest::addRow("empty") << QByteArray() << 0xFFFFFFFFu;
    QTest::addRow("abc") << QByteArray("abc") << 0xFFFFFED9u;
    // Long payloads go through the unrolled loop and its tail.
    QTest::addRow("65535-ff") << QByteArray(65535, '\xff') << ~quint32(65535u * 255u);
    QByteArray mixed(1000, '\0');
    quint32 sum = 0;
    for (int i = 0; i < mixed.size(); ++i) {
        mixed[i] = char((i * 37 + 11) & 0xFF);
        sum += quint8(mixed[i]);
    }
    QTest::addRow("1000-mixed") << mixed << ~sum;
}

void tst_Protocol::crc()
{
    QFETCH(QByteArray, payload);
    QFETCH(quint32, expected);
    const QByteArray bytes = packet("5a5640413200000000000000") + QByteArray(2, '\0') + payload;
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    QCOMPARE(command.crc(), expected);
}

void tst_Protocol::payloadString_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("outOfRange");

    QTest::addRow("ascii") << packet("41004200") << 0 << 4 << "AB" << false;
    QTest::addRow("odd-byte-dropped") << packet("410042") << 0 << 3 << "A" << false;
    QTest::addRow("non-ascii") << packet("e900df006b30") << 0 << 6 << (QString::fromUtf8("éß") + QChar(0x306B))
                               << false;
    QTest::addRow("offset") << packet("ffff41004200") << 2 << 4 << "AB" << false;
    QTest::addRow("empty") << packet("4100") << 2 << 0 << QString() << false;
    QTest::addRow("past-end") << packet("41004200") << 2 << 4 << QString() << true;
}

void tst_Protocol::payloadString()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, offset);
    QFETCH(int, length);
    QFETCH(QString, expected);
    QFETCH(bool, outOfRange);

    const QByteArray bytes = packet("5a564041100000000000000000") + QByteArray(1, '\0') + payload;
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    QSignalSpy errors(&command, &ZVCommand::error);
    QCOMPARE(command.payloadString(offset, length), expected);
    QCOMPARE(errors.count(), outOfRange ? 1 : 0);
}

void tst_Protocol::payloadIndexOfIsBytewise()
{
    // 41 00 0d 01 00 0d: the first 00 0d pair sits at the odd position 1.
    const QByteArray bytes = packet("5a5640411000000000000000000641000d01000d");
    ZVCommand command;
    QVERIFY(command.parse(&bytes));
    const QByteArray separator = QByteArray::fromHex("000d");
    QCOMPARE(command.payloadIndexOf(separator, 0), 1);
    QCOMPARE(command.payloadIndexOf(separator, 2), 4);
    QCOMPARE(command.payloadIndexOf(separator, 5), -1);
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
    // An int index of 70000 reaches the builder as its low 16 bits.
    QTest::addRow("move-70000") << ZVCommandFactory::createMoveFolderRequest(qint16(70000 & 0xFFFF))
                                << packet("5a5640412000117000000000 0000");
    QTest::addRow("detail-folder-bit") << ZVCommandFactory::createFileDetailRequest(qint16(-32766))
                                       << packet("5a5640412100800200000000 0000");
    QTest::addRow("detail-result") << ZVCommandFactory::createFileDetailResultRequest()
                                   << packet("5a5640412200000000000000 0000");
    QTest::addRow("download-7") << ZVCommandFactory::createDownloadRequest(7)
                                << packet("5a5640413000000700000000 0000");
    QTest::addRow("cancel") << ZVCommandFactory::createCancelDownloadRequest()
                            << packet("5a5640413100000000000000 0000");
    QTest::addRow("record-mode-music") << ZVCommandFactory::createRecordModeRequest(0)
                                       << packet("5a5630410000000000000000 0000");
    QTest::addRow("record-mode-mtr") << ZVCommandFactory::createRecordModeRequest(1)
                                     << packet("5a5630410000000100000000 0000");
}

void tst_Protocol::builders()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.size(), HEADER_SIZE);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
