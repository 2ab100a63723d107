// The download engine against hostile listings and data packets: entries
// (names included) come from a listing payload in the input, some of them
// already exist in the download folder, and data packets, starts and cancels
// follow in the input's order. Checked: nothing is written outside the
// folder, no unsafe name is written, every accepted packet passed every check
// and every refusal names a real defect, a skip happens only for an existing
// file under a rule that skips, and a completed file holds exactly the
// accepted bytes.
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QtEndian>

#include "base/downloadfileinfo.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "net/devicenetconnection.h"
#include "protocol/zvcommand.h"
#include "protocol/zvfilelist.h"
#include "recorder/zvdownloadqueue.h"

using namespace fuzz;

namespace {

// The checks a data packet passes, worked out from its bytes.
struct PacketFacts
{
    bool lengthOk = false;
    bool offsetOk = false;
    bool checkOk = false;
    quint32 offset = 0;
    quint16 lengthField = 0;
    qint64 end = 0;
    QByteArray payload;
};

class Harness : public QObject
{
public:
    void run(Reader &in)
    {
        option = in.u8() % 4;
        const QByteArray listing = in.bytes(in.u16());
        const quint8 existing = in.u8();
        const quint8 sameSize = in.u8();

        ZVCommand listed;
        const QByteArray listingPacket = commandPacket(CODE_FILE_LIST, listing);
        listed.parse(&listingPacket);
        list.parseFileList(&listed, QByteArray::fromHex("000d"), nullptr);

        QList<int> targets;
        for (int n = in.u8() % 9; n > 0; --n) {
            const quint8 row = in.u8();
            if (row == RawTargetIndex || list.count() == 0)
                targets << qint16(row == RawTargetIndex ? in.u16() : row);
            else
                targets << list.at(row % list.count())->index;
        }
        for (int row = 0; row < qMin(8, list.count()); ++row) {
            if (existing & (1 << row))
                precreate(list.at(row), sameSize & (1 << row));
        }

        ZVDownloadQueue queue(&connection, &list, mutex);
        connect(&queue, &ZVDownloadQueue::downloadStarted, this, &Harness::started);
        connect(&queue, &ZVDownloadQueue::downloadProgress, this, &Harness::progressed);
        connect(&queue, &ZVDownloadQueue::fileSkipped, this, &Harness::skipped);
        connect(&queue, &ZVDownloadQueue::error, this, &Harness::failed);
        queue.setDirectory(area.path());
        queue.setSameOption(SameNameOption(option));
        for (int index : targets)
            queue.addTarget(index);
        waiting = targets;
        queue.startDownload();
        while (!in.atEnd()) {
            const quint8 op = in.u8() % 8;
            if (op == DownloadStart) {
                refusing = false;
                queue.startDownload();
            } else if (op == DownloadCancel) {
                queue.cancel();
                refusing = true;
                waiting.clear();
            } else if (op == DownloadRaw) {
                deliver(queue, in.bytes(in.u16()));
            } else {
                deliver(queue, dataPacket(in, quint32(progress)));
            }
        }
        queue.cancel();
        area.checkNothingOutside();
    }

private:
    void precreate(const DownloadFileInfo *entry, bool listedSize)
    {
        if (!harmlessName(entry->name))
            return;
        QFile file(area.filePath(entry->name));
        if (file.open(QIODevice::WriteOnly) && !(listedSize ? file.resize(entry->size) : file.write("x", 1) == 1))
            fail("cannot prepare an existing file", entry->name);
    }

    void deliver(ZVDownloadQueue &queue, const QByteArray &packet)
    {
        ZVCommand command;
        if (!command.parse(&packet))
            return;
        facts.payload = command.payload();
        facts.offset = qFromBigEndian<quint32>(packet.constData() + DATA_OFFSET_OFFSET);
        facts.lengthField = qFromBigEndian<quint16>(packet.constData() + LENGTH_OFFSET);
        facts.lengthOk = facts.lengthField == facts.payload.size();
        facts.offsetOk = facts.offset == progress;
        facts.checkOk
            = qFromBigEndian<quint16>(packet.constData() + CHECK_OFFSET) == quint16(byteSumComplement(facts.payload));
        facts.end = qint64(facts.offset) + facts.lengthField;
        // A completed file with more targets costs a 200 ms pause: one per input.
        if (!current.isNull() && !refusing && facts.lengthOk && facts.offsetOk && facts.checkOk
            && facts.end == currentSize && waiting.size() > 1) {
            if (pauses == 0)
                return;
            --pauses;
        }
        packetPhase = true;
        queue.saveDownloadData(&command);
        packetPhase = false;
        if (!finishedName.isNull()) {
            QFile file(area.filePath(finishedName));
            check(file.open(QIODevice::ReadOnly) && file.readAll() == finishedBytes,
                  "a completed file does not hold the accepted bytes", finishedName);
            finishedName = QString();
        }
    }

    void started(const QString &name, qulonglong size)
    {
        check(harmlessName(name), "a download under an unsafe name", name);
        check(!packetPhase, "a new file started before the last one was complete");
        dropUnlisted();
        check(!waiting.isEmpty() && list.findByIndex(waiting.first())->name == name
                  && list.findByIndex(waiting.first())->size == qint64(size),
              "a download of another entry than the first target", name);
        if (QFile::encodeName(name) == QFile::encodeName(finishedName))
            finishedName = QString(); // the same file is written again
        current = name;
        currentSize = qint64(size);
        progress = 0;
        accepted.clear();
    }

    // Targets that are not listed recordings are lost, not downloaded.
    void dropUnlisted()
    {
        while (!waiting.isEmpty()
               && (!list.containsIndex(waiting.first()) || list.findByIndex(waiting.first())->isFolder))
            waiting.removeFirst();
    }

    void progressed(qulonglong bytes)
    {
        if (!packetPhase) {
            // Skipped or empty files count as received in full.
            check(qint64(bytes) == currentSize, "progress of a skipped or empty file");
            progress = currentSize;
            if (!waiting.isEmpty())
                waiting.removeFirst();
            return;
        }
        check(!refusing, "a packet was taken after the download was canceled");
        check(facts.lengthOk && facts.offsetOk && facts.checkOk, "a defective packet was written");
        check(facts.end <= currentSize, "a packet beyond the listed size was written");
        check(qint64(bytes) == facts.end, "progress is not the end of the packet");
        progress = facts.end;
        accepted += facts.payload;
        if (progress == currentSize) {
            packetPhase = false; // what follows is the next file's start
            if (!waiting.isEmpty())
                waiting.removeFirst();
            if (option != SaveRename) {
                finishedName = current;
                finishedBytes = accepted;
            }
        }
    }

    void skipped(const QString &name)
    {
        check(option == SaveNewer || option == SaveNoWrite, "a file skipped under a rule that does not skip");
        check(QFile::exists(area.filePath(name)), "a file skipped that does not exist", name);
    }

    void failed(AppErrorCode code, int param, int param2)
    {
        if (!packetPhase && code == DownloadIllegalFileName) {
            // That target fails, the download goes on with the others.
            const QString name = list.findByIndex(param)->name;
            check(!harmlessName(name), "a safe name refused", name);
            dropUnlisted();
            check(!waiting.isEmpty() && waiting.first() == param, "a refusal of another entry than the first target",
                  name);
            if (!waiting.isEmpty())
                waiting.removeFirst();
            return;
        }
        waiting.clear(); // every other failure cancels the whole download
        if (!packetPhase) {
            refusing = true;
            if (code == DownloadTargetLost) {
                // Reported once, at the end; the download is not cancelled.
                check(param > 0 && param2 == 0, "lost targets", QString::number(param));
                refusing = false;
            } else {
                // Only an empty file that cannot be created fails at its start.
                check(code == DownloadFileWriteError && currentSize == 0 && current.toUtf8().size() > 255,
                      "start-up error", QStringLiteral("%1 for %2").arg(code).arg(current));
            }
            return;
        }
        check(!refusing, "a packet was checked after the download was canceled");
        refusing = true;
        switch (code) {
        case DownloadFileNotOpen:
            break;
        case DownloadPacketLengthError:
            check(!facts.lengthOk && param == facts.lengthField && param2 == facts.payload.size(), "length error");
            break;
        case DownloadIllegalOffset:
            check(facts.lengthOk && !facts.offsetOk && param == int(facts.offset) && param2 == int(progress),
                  "offset error");
            break;
        case DownloadPacketCrcError:
            check(facts.lengthOk && facts.offsetOk && !facts.checkOk, "check error");
            break;
        case DownloadSizeExceeded:
            check(facts.lengthOk && facts.offsetOk && facts.checkOk && facts.end > currentSize, "size error");
            break;
        default:
            fail("unexpected download error", QString::number(code));
        }
    }

    ScratchArea area;
    DeviceNetConnection connection; // never connected: requests go nowhere
    QMutex mutex;
    ZVFileList list;
    int option = 0;
    QString current; // name of the file being received
    qint64 currentSize = 0;
    qint64 progress = 0;
    QByteArray accepted;
    bool refusing = false; // canceled: packets must be ignored
    int pauses = 1;
    QList<int> waiting;       // the targets as the queue should still hold them
    PacketFacts facts;        // of the packet being delivered
    bool packetPhase = false; // inside saveDownloadData, before the file completed
    QString finishedName;     // completed in the last packet, to compare
    QByteArray finishedBytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    Reader in(data, size);
    Harness().run(in);
    return 0;
}
