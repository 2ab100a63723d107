// Recorder entry names never reach outside the chosen folder, whatever the
// same-name rule: the download engine driven directly with data packets.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "controller/zvfilelist.h"
#include "download/zvdownloadqueue.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"

namespace {
const QByteArray Content("hello");

// Every path under `root` with a digest of its content (or its link target).
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> all;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray digest = info.isSymLink() ? ("link:" + info.symLinkTarget().toUtf8())
                                             : info.isDir() ? QByteArray("dir") : QByteArray();
        if (digest.isEmpty()) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            digest = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
        }
        all.insert(path, digest);
    }
    return all;
}

ZVCommand *dataPacket(quint32 offset, const QByteArray &payload, QObject *parent)
{
    QByteArray bytes(HEADER_SIZE, '\0');
    bytes[0] = 'Z';
    bytes[1] = 'V';
    bytes[KIND_OFFSET] = char(KIND_COMMAND);
    bytes[CODE_OFFSET] = char(CODE_DOWNLOAD_DATA);
    qToBigEndian(offset, bytes.data() + DATA_OFFSET_OFFSET);
    qToBigEndian(quint16(payloadCheckValue(payload.constData(), payload.size())), bytes.data() + CHECK_OFFSET);
    qToBigEndian(quint16(payload.size()), bytes.data() + LENGTH_OFFSET);
    bytes += payload;
    auto *command = new ZVCommand(parent);
    command->parse(&bytes);
    return command;
}
} // namespace

class tst_DownloadQueue : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void nameContainment_data();
    void nameContainment();

private:
    QTcpServer peer;   // takes the requests the engine sends
    DeviceNetConnection *connection = nullptr;
};

void tst_DownloadQueue::initTestCase()
{
    QVERIFY(peer.listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), 8010));
    connection = new DeviceNetConnection(this);
    QSignalSpy connected(connection, &DeviceNetConnection::networkConnected);
    connection->connectToHost(QStringLiteral(ZV_TEST_ADDRESS), 8010);
    QVERIFY(connected.wait(5000));
}

void tst_DownloadQueue::nameContainment_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("rule");
    QTest::addColumn<bool>("refused");

    const QList<QPair<const char *, QString>> refusedNames{
        {"parent", "../x"},
        {"parent-backslash", "..\\x"},
        {"climbing", "a/../../x"},
        {"absolute", "/etc/x"},
        {"drive", "C:\\x"},
        {"dot", "."},
        {"dot-dot", ".."},
        {"empty", ""},
        {"slash-only", "/"},
        {"backslash-only", "\\"},
        {"trailing-slash", "x/"},
        {"double-slash", "//x"},
        {"inner-backslash", "a\\b"},
        {"home", "~/x"},
        {"nul", QString::fromUtf8("x\0y", 3)},
        {"control-1", "x\x01"},
        {"newline", "x\ny"},
        {"tab", "x\ty"},
        {"escape", "\x1b[31mx"},
        {"delete", "x\x7f"},
    };
    const QList<QPair<const char *, QString>> allowedNames{
        {"right-to-left-override", QString::fromUtf8("\u202Evaw.exe")},
        {"fullwidth-slash", QString::fromUtf8("..\uFF0Fx")},
        {"fullwidth-backslash", QString::fromUtf8("..\uFF3Cx")},
        {"one-dot-leader", QString::fromUtf8("\u2024\u2024")},
        {"reserved-con", "CON"},
        {"reserved-nul-ext", "NUL.wav"},
        {"reserved-com1", "COM1"},
        {"reserved-lpt1", "lpt1.txt"},
        {"ends-in-dot", "take."},
        {"ends-in-space", "take "},
        {"starts-with-space", " take"},
        {"three-dots", "..."},
        {"hidden", ".hidden"},
        {"tilde", "~"},
        {"percent-encoded", "%2e%2e%2fx"},
        {"dollar", "$HOME"},
        {"255-units", QString(255, QLatin1Char('a'))},
        {"over-byte-limit", QString(200, QChar(0x00E9))},   // 400 bytes in UTF-8
    };
    const QList<QPair<const char *, int>> rules{
        {"newer", SaveNewer}, {"overwrite", SaveOverwrite}, {"rename", SaveRename}, {"no-write", SaveNoWrite}};
    for (const auto &rule : rules) {
        for (const auto &name : refusedNames)
            QTest::addRow("%s/%s", name.first, rule.first) << name.second << rule.second << true;
        for (const auto &name : allowedNames)
            QTest::addRow("%s/%s", name.first, rule.first) << name.second << rule.second << false;
    }
}

void tst_DownloadQueue::nameContainment()
{
    QFETCH(QString, name);
    QFETCH(int, rule);
    QFETCH(bool, refused);

    // parent/chosen is the chosen folder; the rest of parent are sentinels.
    QTemporaryDir parent;
    QDir root(parent.path());
    QVERIFY(root.mkpath("chosen/sub"));
    QVERIFY(root.mkpath("etc"));
    for (const char *sentinel : {"x", "etc/x", "chosen/sub/x", "y"}) {
        QFile file(root.filePath(sentinel));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("sentinel");
    }
    const QString chosen = root.filePath("chosen");
    // A file of the same name already there, where the name allows it, so the
    // rules have something to decide about.
    if (!refused) {
        QFile existing(QDir(chosen).filePath(name));
        if (existing.open(QIODevice::WriteOnly))
            existing.write("old");
    }
    const auto before = snapshot(parent.path());

    ZVFileList list;
    auto *info = new DownloadFileInfo;
    info->name = name;
    info->size = Content.size();
    info->index = 1;
    list.append(info);
    ZVDownloadQueue queue(connection, &list);
    QSignalSpy errors(&queue, &ZVDownloadQueue::error);
    QSignalSpy finished(&queue, &ZVDownloadQueue::downloadFinished);
    queue.setDirectory(chosen);
    queue.setSameOption(SameNameOption(rule));
    queue.addTarget(1);
    queue.startDownload();
    if (errors.isEmpty() && finished.isEmpty())   // not refused, not skipped: the data comes
        queue.saveDownloadData(dataPacket(0, Content, &queue));

    if (refused) {
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).value<AppErrorCode>(), DownloadIllegalFileName);
        QCOMPARE(errors.first().at(1).toInt(), 1);
    } else {
        QVERIFY2(errors.count() + finished.count() == 1, "the download neither ended nor failed");
    }

    // Outside the chosen folder nothing changed; inside it, only the name
    // itself (or its counted form) may have appeared or changed.
    const auto after = snapshot(parent.path());
    const QString prefix = chosen + QLatin1Char('/');
    const QString base = QFileInfo(QDir(chosen).filePath(name)).completeBaseName();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() == prefix + name)
            continue;
        QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.contains(it.key()))
            continue;
        QVERIFY2(it.key().startsWith(prefix) && !it.key().mid(prefix.size()).contains(QLatin1Char('/')),
                 qPrintable(it.key()));
        const QString created = it.key().mid(prefix.size());
        QVERIFY2(created == name || created.startsWith(base + QLatin1Char('(')), qPrintable(created));
    }
}

QTEST_GUILESS_MAIN(tst_DownloadQueue)
#include "tst_downloadqueue.moc"
