// Writes the seed corpora of the fuzz targets from what the recorder
// simulator really sends (demo trees, small list packets, small data chunks,
// hostile names, injected faults), encoded in each target's input layout
// (fuzzinputs.h):
//
//   zv-fuzz-seeds <corpus folder>     writes <corpus folder>/<target>/<seed>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cstdio>

#include "base/downloadfileinfo.h"
#include "base/samenameoption.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "protocol/zvcommand.h"
#include "protocol/zvcommandfactory.h"
#include "protocol/zvfilelist.h"
#include "sim/recordersimulator.h"

using namespace fuzz;

namespace {

class Writer
{
public:
    Writer &u8(int v)
    {
        out.append(char(v));
        return *this;
    }
    Writer &u16(int v) { return u8(v >> 8).u8(v); }
    Writer &u32(quint32 v) { return u16(int(v >> 16)).u16(int(v & 0xFFFF)); }
    Writer &bytes(const QByteArray &b)
    {
        out.append(b);
        return *this;
    }
    Writer &sized(const QByteArray &b) { return u16(b.size()).bytes(b); }
    QByteArray out;
};

QByteArray joined(const QList<QByteArray> &pieces)
{
    QByteArray all;
    for (const QByteArray &piece : pieces)
        all += piece;
    return all;
}

// The packets of one listing, with the rows and indexes of its names.
struct Listing
{
    QList<QByteArray> packets;
    QByteArray payload() const
    {
        QByteArray all;
        for (const QByteArray &packet : packets)
            all += packet.mid(HEADER_SIZE);
        return all;
    }
    QList<QByteArray> payloads() const
    {
        QList<QByteArray> all;
        for (const QByteArray &packet : packets)
            all << packet.mid(HEADER_SIZE);
        return all;
    }
    QList<QPair<QString, qint16>> entries() const
    {
        ZVFileList list;
        for (const QByteArray &packet : packets) {
            ZVCommand command;
            command.parse(&packet);
            list.parseFileList(&command, QByteArray::fromHex("000d"), nullptr);
        }
        QList<QPair<QString, qint16>> all;
        for (int r = 0; r < list.count(); ++r)
            all << qMakePair(list.at(r)->name, list.at(r)->index);
        return all;
    }
    int row(const QString &name) const
    {
        const QList<QPair<QString, qint16>> all = entries();
        for (int r = 0; r < all.size(); ++r) {
            if (all.at(r).first == name)
                return r;
        }
        fail("no such entry in the listing", name);
    }
    qint16 index(const QString &name) const { return entries().at(row(name)).second; }
};

// The simulator and a client socket talking to it.
class Recorder
{
public:
    Recorder()
    {
        DemoTree::Options options;
        options.manyFiles = 3;
        check(demo.isValid() && sim.useDemoTrees(demo.path(), options), "no demo trees");
        // Some demo files carry the time they were written; a fixed one keeps
        // the seeds the same from run to run.
        const QDateTime fixed(QDate(2024, 5, 17), QTime(9, 30), Qt::LocalTime);
        QDirIterator it(demo.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (QFileInfo(file).lastModified() > fixed.addDays(365))
                check(file.open(QIODevice::ReadWrite) && file.setFileTime(fixed, QFileDevice::FileModificationTime),
                      "cannot set the time of", file.fileName());
        }
        sim.setMaxListPayload(256);
        sim.setChunkSize(24);
        check(sim.listen(QHostAddress(QStringLiteral(ZV_FUZZ_ADDRESS)), RecorderSimulator::DefaultPort),
              "cannot listen");
        client.connectToHost(QStringLiteral(ZV_FUZZ_ADDRESS), RecorderSimulator::DefaultPort);
        waitFor([this] { return client.state() == QAbstractSocket::ConnectedState; }, "the simulator");
    }

    // Sends a request and returns the packets of the answer, once the
    // simulator has been quiet for a while.
    QList<QByteArray> ask(const QByteArray &request)
    {
        client.write(request);
        QByteArray got;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < 300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const QByteArray more = client.readAll();
            if (!more.isEmpty()) {
                got += more;
                quiet.restart();
            }
        }
        // A fault can leave the stream inside a packet: the tail is kept as
        // it came, as the last piece.
        StreamModel model;
        QList<QByteArray> packets = model.feed(got);
        const int framed = joined(packets).size();
        if (framed < got.size())
            packets << got.mid(framed);
        return packets;
    }

    Listing list() { return Listing{ask(ZVCommandFactory::createFileListRequest())}; }
    QList<QByteArray> move(qint16 index) { return ask(ZVCommandFactory::createMoveFolderRequest(index)); }
    QList<QByteArray> download(qint16 index) { return ask(ZVCommandFactory::createDownloadRequest(index)); }

    QTemporaryDir demo;
    RecorderSimulator sim;
    QTcpSocket client;
};

class Corpus
{
public:
    explicit Corpus(const QString &root)
        : root(root)
    {
    }
    void add(const char *target, const char *name, const QByteArray &bytes)
    {
        const QString folder = root + QLatin1Char('/') + QLatin1String(target);
        QDir().mkpath(folder);
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "cannot write", file.fileName());
        ++count;
    }
    QString root;
    int count = 0;
};

QByteArray listingSeed(const Listing &listing, quint8 flags = 0, const QByteArray &ownSeparator = QByteArray())
{
    QList<QByteArray> payloads = listing.payloads();
    while (payloads.size() > 4)
        payloads[payloads.size() - 2] += payloads.takeLast(); // whole entries: joining keeps them whole
    Writer w;
    w.u8(flags | (payloads.size() - 1) << 3);
    if ((flags & 3) == ListOwnSeparator)
        w.u8(ownSeparator.size() - 1).bytes(ownSeparator);
    for (int i = 0; i + 1 < payloads.size(); ++i)
        w.u16(payloads.at(i).size());
    for (const QByteArray &payload : payloads)
        w.bytes(payload);
    return w.out;
}

// A download input: rule, listing, existing files, targets; then operations.
Writer downloadSeed(int option, const Listing &listing, int existing, int sameSize, const QList<int> &rows)
{
    Writer w;
    w.u8(option).sized(listing.payload()).u8(existing).u8(sameSize).u8(rows.size());
    for (int row : rows)
        w.u8(row);
    return w;
}

Writer &rawPackets(Writer &w, const QList<QByteArray> &packets, quint8 op)
{
    for (const QByteArray &packet : packets)
        w.u8(op).sized(packet);
    return w;
}

Writer &targets(Writer &w, const QList<int> &rows)
{
    w.u8(SessionSetTargets).u8(rows.size());
    for (int row : rows)
        w.u8(row);
    return w;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    initApplication();
    Recorder rec;
    Corpus corpus(root);

    // What the simulator sends, request by request.
    const Listing rootList = rec.list();
    const auto detailOf = [&rec](qint16 index) {
        const QList<QByteArray> ack = rec.ask(ZVCommandFactory::createFileDetailRequest(index));
        return ack + rec.ask(ZVCommandFactory::createFileDetailResultRequest());
    };
    const QList<QByteArray> wav = detailOf(rootList.index(QStringLiteral("ZV_0002.WAV")));
    const QList<QByteArray> bwf = detailOf(rootList.index(QStringLiteral("ZV_0003_BWF.WAV")));
    const QList<QByteArray> mp3 = detailOf(rootList.index(QStringLiteral("ZV_0004.MP3")));
    const QList<QByteArray> text = detailOf(rootList.index(QStringLiteral("README.TXT")));
    const QList<QByteArray> folderDetail = detailOf(rootList.index(QStringLiteral("FOLDER01")));

    const QList<QByteArray> toMtr = rec.ask(ZVCommandFactory::createRecordModeRequest(1));
    const Listing mtrList = rec.list();
    const QList<QByteArray> toMusic = rec.ask(ZVCommandFactory::createRecordModeRequest(0));
    rec.list();

    rec.move(rootList.index(QStringLiteral("Übung")));
    const Listing umlautList = rec.list();
    rec.move(qint16(PARENT_FOLDER_INDEX));
    rec.move(rootList.index(QStringLiteral("録音")));
    const Listing japaneseList = rec.list();
    rec.move(qint16(PARENT_FOLDER_INDEX));
    rec.move(rootList.index(QStringLiteral("EMPTY")));
    const Listing emptyList = rec.list();
    rec.move(qint16(PARENT_FOLDER_INDEX));

    const QList<QByteArray> intoMany = rec.move(rootList.index(QStringLiteral("MANY")));
    const Listing many = rec.list();
    const int m1 = many.row(DemoTree::manyFileName(1));
    const int m2 = many.row(DemoTree::manyFileName(2));
    const int m3 = many.row(DemoTree::manyFileName(3));
    const QList<QByteArray> d1 = rec.download(many.index(DemoTree::manyFileName(1)));
    const QList<QByteArray> d2 = rec.download(many.index(DemoTree::manyFileName(2)));
    const QList<QByteArray> canceled = rec.ask(ZVCommandFactory::createCancelDownloadRequest());
    rec.sim.setCorruptCheckAt(1);
    rec.sim.setWrongOffsetAt(2);
    rec.sim.setExtraBytes(8);
    const QList<QByteArray> faulty = rec.download(many.index(DemoTree::manyFileName(3)));
    rec.ask(ZVCommandFactory::createCancelDownloadRequest());
    rec.sim.clearFaults();
    rec.sim.setWrongLengthAt(0);
    const QList<QByteArray> wrongLength = rec.download(many.index(DemoTree::manyFileName(3)));
    rec.ask(ZVCommandFactory::createCancelDownloadRequest());
    rec.sim.clearFaults();
    rec.move(qint16(PARENT_FOLDER_INDEX));

    rec.sim.setForeignPackets(true);
    const QList<QByteArray> foreign = rec.list().packets;
    rec.sim.clearFaults();
    rec.sim.setHostileNames(true);
    const Listing hostile = rec.list();
    rec.sim.notifyListingChanged();
    const QList<QByteArray> notice = rec.ask(QByteArray());

    check(d1.size() >= 2 && d2.size() >= 2 && !canceled.isEmpty() && notice.size() == 1 && toMtr.size() == 2
              && wav.size() == 2 && foreign.size() > rootList.packets.size() && intoMany.size() == 1
              && rootList.packets.size() > 1 && hostile.packets.size() > 1,
          "the simulator answered otherwise than expected");

    // fuzz_framing: [plan][chunk sizes][stream]
    const auto framing
        = [&corpus](const char *name, FramingDrain drain, const QByteArray &sizes, const QByteArray &stream) {
              corpus.add("framing", name, Writer().u8(drain | sizes.size() << 2).bytes(sizes).bytes(stream).out);
          };
    const QByteArray rootStream = joined(rootList.packets);
    QByteArray badMagic = rootStream;
    badMagic[rootList.packets.first().size() + 1] = 'X';
    framing("listing-whole", DrainEach, QByteArray(), rootStream);
    framing("listing-bytewise", DrainAtEnd, QByteArray(1, 0), rootStream);
    framing("listing-hostile-64", DrainEach, QByteArray(1, 63), joined(hostile.packets));
    framing("listing-cut", DrainEach, QByteArray(), rootStream.left(rootStream.size() - 5));
    framing("listing-bad-magic", DrainEach, QByteArray(1, 9), badMagic);
    framing("details-13", DrainBySend, QByteArray(1, 12), joined(wav + bwf + mp3 + text));
    framing("download-7-20", DrainEveryOther, QByteArray::fromHex("0613"), joined(d1));
    framing("download-faulty-1k", DrainEach, QByteArray(1, char(129)), joined(faulty + wrongLength));
    framing("status-notice-cancel", DrainBySend, QByteArray(), joined(toMtr + notice + canceled));
    framing("foreign-3", DrainEveryOther, QByteArray(1, 2), joined(foreign));
    // One short packet is enough to reach the far ends of the ranged reads.
    framing("regression-read-index-overflow", DrainEach, QByteArray(), toMtr.first());

    // fuzz_filelist: [flags][separator][sizes][payloads]
    corpus.add("filelist", "root", listingSeed(rootList));
    corpus.add("filelist", "root-no-mutex", listingSeed(rootList, ListNoMutex));
    corpus.add("filelist", "root-own-separator", listingSeed(rootList, ListOwnSeparator, QByteArray::fromHex("000d")));
    corpus.add("filelist", "root-one-byte-separator",
               listingSeed(rootList, ListOwnSeparator | ListNoMutex, QByteArray(1, 0)));
    corpus.add("filelist", "mtr", listingSeed(mtrList));
    corpus.add("filelist", "umlaut", listingSeed(umlautList));
    corpus.add("filelist", "japanese", listingSeed(japaneseList));
    corpus.add("filelist", "empty", listingSeed(emptyList));
    corpus.add("filelist", "many", listingSeed(many));
    corpus.add("filelist", "hostile", listingSeed(hostile));

    // fuzz_filedetail: the payload of a 0x23 reply
    corpus.add("filedetail", "wav", wav.last().mid(HEADER_SIZE));
    corpus.add("filedetail", "bwf", bwf.last().mid(HEADER_SIZE));
    corpus.add("filedetail", "mp3", mp3.last().mid(HEADER_SIZE));
    corpus.add("filedetail", "text-format-0", text.last().mid(HEADER_SIZE));
    corpus.add("filedetail", "folder-format-0", folderDetail.last().mid(HEADER_SIZE));
    corpus.add("filedetail", "ack-payload", wav.first().mid(HEADER_SIZE));
    corpus.add("filedetail", "wav-one-more", wav.last().mid(HEADER_SIZE) + '\0');

    // fuzz_download: rule, listing, existing files, targets, operations
    {
        Writer w = downloadSeed(SaveOverwrite, many, 0, 0, {m1});
        corpus.add("download", "one-file", rawPackets(w, d1, DownloadRaw).out);
    }
    {
        Writer w = downloadSeed(SaveOverwrite, many, 0, 0, {m1, m2});
        rawPackets(w, d1, DownloadRaw);
        corpus.add("download", "two-files", rawPackets(w, d2, DownloadRaw).out);
    }
    {
        Writer w = downloadSeed(SaveOverwrite, many, 0, 0, {m1});
        for (const QByteArray &packet : d1)
            w.u8(DownloadData).u8(0).sized(packet.mid(HEADER_SIZE));
        corpus.add("download", "built-packets", w.out);
    }
    corpus.add("download", "skip-all", downloadSeed(SaveNoWrite, many, 0xFF, 0, {m1, m2, m3}).out);
    {
        Writer w = downloadSeed(SaveNewer, many, 1 << m1 | 1 << m2, 1 << m1, {m1, m2});
        corpus.add("download", "newer-same-size", rawPackets(w, d2, DownloadRaw).out);
    }
    {
        Writer w = downloadSeed(SaveRename, many, 1 << m1, 0, {m1});
        corpus.add("download", "rename", rawPackets(w, d1, DownloadRaw).out);
    }
    {
        Writer w = downloadSeed(SaveOverwrite, many, 0, 0, {m3});
        corpus.add("download", "faulty", rawPackets(w, faulty, DownloadRaw).out);
        Writer v = downloadSeed(SaveOverwrite, many, 0, 0, {m3});
        corpus.add("download", "wrong-length", rawPackets(v, wrongLength, DownloadRaw).out);
    }
    {
        Writer w = downloadSeed(SaveOverwrite, many, 0, 0, {m1, m2});
        w.u8(DownloadRaw).sized(d1.first()).u8(DownloadCancel).u8(DownloadStart);
        corpus.add("download", "cancel-restart", rawPackets(w, d1, DownloadRaw).out);
    }
    // Each hostile file name first, then a harmless one that must not be
    // reached: an unsafe name cancels the whole download.
    // The hostile files sort before README.TXT.
    QList<int> tricky;
    const QList<QPair<QString, qint16>> hostileEntries = hostile.entries();
    const int readme = hostile.row(QStringLiteral("README.TXT"));
    for (int row = 0; row < readme; ++row) {
        if (!(hostileEntries.at(row).second & FOLDER_INDEX_BIT))
            tricky << row;
    }
    for (int row : tricky) {
        Writer w = downloadSeed(SaveOverwrite, hostile, 0, 0, {row, readme});
        w.u8(DownloadStart);
        corpus.add("download", qPrintable(QStringLiteral("hostile-row-%1").arg(row)), w.out);
    }

    // fuzz_session: a script of recorder packets and window calls
    const auto session = [&corpus](const char *name, Writer &w, bool notice = false) {
        // A seed with a 0x12 or 0x21 is padded until its hash lets the pause through.
        while (notice
               && !sessionLongPauseAllowed(reinterpret_cast<const uchar *>(w.out.constData()), size_t(w.out.size())))
            w.u8(SessionBarrier);
        corpus.add("session", name, w.out);
    };
    {
        Writer w;
        rawPackets(w, rootList.packets, SessionRaw).u8(SessionReadList);
        session("listing", w);
    }
    {
        Writer w;
        rawPackets(w, many.packets, SessionRaw).u8(SessionReadList);
        targets(w, {m1}).u8(SessionSetOption).u8(SaveOverwrite).u8(SessionDownload);
        rawPackets(w, d1, SessionRaw).u8(SessionBarrier).u8(SessionReadList);
        session("download-one", w);
    }
    {
        Writer w;
        rawPackets(w, many.packets, SessionRaw);
        targets(w, {m1, m2}).u8(SessionSetOption).u8(SaveRename).u8(SessionDownload);
        rawPackets(w, d1, SessionRaw);
        rawPackets(w, d2, SessionRaw).u8(SessionReadList);
        session("download-two", w);
    }
    {
        Writer w;
        rawPackets(w, many.packets, SessionRaw);
        targets(w, {m1, m2}).u8(SessionDownload).u8(SessionRaw).sized(d1.first());
        w.u8(SessionCancel).u8(SessionCanceled).u8(SessionReadList);
        session("cancel", w);
    }
    {
        Writer w;
        rawPackets(w, many.packets, SessionRaw);
        targets(w, {m3}).u8(SessionDownload);
        session("faulty", rawPackets(w, faulty, SessionRaw));
    }
    {
        Writer w;
        rawPackets(w, rootList.packets, SessionRaw);
        w.u8(SessionRequest).u8(0).u16(quint16(rootList.index(QStringLiteral("ZV_0002.WAV"))));
        w.u8(SessionPauseNotice).u8(1).u8(SessionDetail).sized(wav.last().mid(HEADER_SIZE));
        w.u8(SessionDetail).sized(text.last().mid(HEADER_SIZE));
        session("detail", w, true);
    }
    {
        Writer w;
        w.u8(SessionRequest).u8(2).u16(1);
        rawPackets(w, toMtr, SessionRaw);
        rawPackets(w, mtrList.packets, SessionRaw).u8(SessionStatus).u16(0).u16(0).u8(SessionReadList);
        session("record-mode", w, true);
    }
    {
        Writer w;
        rawPackets(w, hostile.packets, SessionRaw);
        targets(w, tricky.mid(0, 8)).u8(SessionDownload).u8(SessionReadList);
        session("hostile", w);
    }
    {
        Writer w;
        w.u8(SessionListing).u8(1).u8(1).u16(3).sized(rootList.packets.first().mid(HEADER_SIZE));
        rawPackets(w, rootList.packets, SessionRaw).u8(SessionReadList);
        session("out-of-sequence", w);
    }
    {
        Writer w;
        rawPackets(w, foreign, SessionRaw);
        w.u8(SessionOtherCode).u8(CODE_MOVE_FOLDER).u16(0).u8(SessionRequest).u8(1).u16(PARENT_FOLDER_INDEX);
        rawPackets(w, notice, SessionRaw).u8(SessionReadList);
        session("foreign-and-notice", w, true);
    }

    std::printf("%d seeds written to %s\n", corpus.count, qPrintable(root));
    std::fflush(stdout);
    std::_Exit(0);
}
