// Recorder entry names never reach outside the chosen folder, whatever the
// same-name rule: the download engine driven directly with data packets.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "controllerfixture.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvfilelist.h"
#include "recorder/zvdownloadqueue.h"

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
            : info.isDir()                   ? QByteArray("dir")
                                             : QByteArray();
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
    QTcpServer peer; // takes the requests the engine sends
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

namespace {
enum Expect { Refused, Downloads, Contained }; // Contained: may fail, but only inside the folder
}

void tst_DownloadQueue::nameContainment_data()
{
    addColumns<std::tuple<QString, int, int>>(); // the name, the same-name rule, what is expected

    const QList<QPair<const char *, QString>> refusedNames{
        {"parent", "../x"},
        {"parent-backslash", "..\\x"},
        {"climbing", "a/../../x"},
        {"absolute", "/etc/x"},
        {"drive", "C:\\x"},
        {"dot", "."},
        {"dot-dot", ".."},
        {"three-dots", "..."},
        {"hidden", ".bashrc"},
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
        {"c1-first", QString::fromUtf16(u"x\u0080.wav")},
        {"c1-next-line", QString::fromUtf16(u"take\u0085.wav")},
        {"c1-last", QString::fromUtf16(u"x\u009F.wav")},
        {"bidi-embedding-first", QString::fromUtf16(u"\u202Ax.wav")},
        {"right-to-left-override", QString::fromUtf16(u"\u202Evaw.exe")},
        {"bidi-isolate-first", QString::fromUtf16(u"x\u2066.wav")},
        {"bidi-isolate-last", QString::fromUtf16(u"x\u2069.wav")},
        {"256-units", QString(256, QLatin1Char('a'))},
    };
    const QList<QPair<const char *, QString>> allowedNames{
        {"colon-first", ":res10.wav"},
        {"after-c1", QString::fromUtf16(u"x\u00A0.wav")},
        {"after-bidi-embedding", QString::fromUtf16(u"x\u202F.wav")},
        {"after-bidi-isolate", QString::fromUtf16(u"x\u206A.wav")},
        {"fullwidth-slash", QString::fromUtf16(u"a\uFF0F..\uFF0Fx")},
        {"fullwidth-backslash", QString::fromUtf16(u"a\uFF3C..\uFF3Cx")},
        {"one-dot-leader", QString::fromUtf16(u"\u2024\u2024")},
        {"reserved-con", "CON"},
        {"reserved-nul-ext", "NUL.wav"},
        {"reserved-com1", "COM1"},
        {"reserved-lpt1", "lpt1.txt"},
        {"ends-in-dot", "take."},
        {"ends-in-space", "take "},
        {"starts-with-space", " take"},
        {"tilde", "~"},
        {"percent-encoded", "%2e%2e%2fx"},
        {"dollar", "$HOME"},
        // With ".part" it is too long for the file system: written under a
        // shortened partial name, then renamed.
        {"255-units", QString(255, QLatin1Char('a'))},
    };
    const QList<QPair<const char *, int>> rules{
        {"newer", SaveNewer}, {"overwrite", SaveOverwrite}, {"rename", SaveRename}, {"no-write", SaveNoWrite}};
    for (const auto &rule : rules) {
        for (const auto &name : refusedNames)
            QTest::addRow("%s/%s", name.first, rule.first) << name.second << rule.second << int(Refused);
        for (const auto &name : allowedNames) {
            // "a…a(1)." is over the file system's limit.
            const bool tooLong = rule.second == SaveRename && name.second.size() == 255;
            QTest::addRow("%s/%s", name.first, rule.first)
                << name.second << rule.second << int(tooLong ? Contained : Downloads);
        }
        // 400 bytes in UTF-8: the file system refuses it.
        QTest::addRow("over-byte-limit/%s", rule.first) << QString(200, QChar(0x00E9)) << rule.second << int(Contained);
    }
}

void tst_DownloadQueue::nameContainment()
{
    const auto [name, rule, expect] = fetchRow<std::tuple<QString, int, int>>();

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
    const QString path = chosen + QLatin1Char('/') + name;
    // A file of the same name already there, where the name allows it, so the
    // rules have something to decide about.
    if (expect != Refused) {
        QFile existing(path);
        if (existing.open(QIODevice::WriteOnly))
            existing.write("old");
        else
            QCOMPARE(expect, int(Contained));
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
    if (errors.isEmpty() && finished.isEmpty()) // not refused, not skipped: the data comes
        queue.saveDownloadData(dataPacket(0, Content, &queue));

    if (expect == Refused) {
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).value<AppErrorCode>(), DownloadIllegalFileName);
        QCOMPARE(errors.first().at(1).toInt(), 1);
    } else if (expect == Downloads) {
        QCOMPARE(errors.count(), 0);
        QCOMPARE(finished.count(), 1);
        // Renamed: "(1)" before the last dot, and a dot even without a suffix.
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        const QString counted = dot > chosen.size() ? QString(path.left(dot) + "(1)" + path.mid(dot)) : path + "(1).";
        const QString written = rule == SaveRename ? counted : rule == SaveNoWrite ? QString() : path;
        if (!written.isEmpty())
            QCOMPARE(readAll(written), Content);
        if (written != path)
            QCOMPARE(readAll(path), QByteArray("old"));
    } else {
        QVERIFY2(errors.count() + finished.count() == 1, "the download neither ended nor failed");
    }

    // Outside the chosen folder nothing changed; inside it, only the name
    // itself (or its counted form) may have appeared or changed, and no
    // partial file is left.
    const auto after = snapshot(parent.path());
    const QString prefix = chosen + QLatin1Char('/');
    const QString base = QFileInfo(path).completeBaseName();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() == path)
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
