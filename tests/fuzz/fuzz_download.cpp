// The download engine against hostile listings and data packets: entries
// (names included) come from a listing payload in the input, some of them
// already exist in the download folder, and data packets, starts and cancels
// follow in the input's order. Checked: nothing is written outside the
// folder, no unsafe name is written and no safe one refused, every written
// packet passed every check and every refused one failed one, and a skip
// happens only for an existing file under a rule that skips. Which error
// names which fault, the order of the targets and the bytes of a completed
// file are the engine tests' to check.
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

// A data packet read from the input (DataFields in fuzzinputs.h); the
// fields not given are the right ones at `offset`.
QByteArray dataPacket(Reader &in, quint32 offset)
{
    const quint8 flags = in.u8();
    offset = (flags & DataOwnOffset) ? in.u32() : offset;
    const quint16 check = (flags & DataOwnCheck) ? in.u16() : 0;
    const quint16 length = (flags & DataOwnLength) ? in.u16() : 0;
    const QByteArray payload = in.bytes(in.u16());
    return header(KIND_COMMAND, CODE_DOWNLOAD_DATA, 0, offset,
                  (flags & DataOwnCheck) ? check : quint16(byteSumComplement(payload)),
                  (flags & DataOwnLength) ? length : quint16(payload.size()))
        + payload;
}

// A name the program may write in a folder: 1 to 255 UTF-16 units, no
// leading dot, no control character (C0, DEL, C1), no bidirectional control,
// no slash or backslash.
bool harmlessName(const QString &name)
{
    if (name.isEmpty() || name.size() > 255 || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069)
            || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return false;
    }
    return true;
}

class Harness : public QObject
{
public:
    void run(Reader &in)
    {
        option = in.u8() % 4;
        const QByteArray listingPacket = commandPacket(CODE_FILE_LIST, in.bytes(in.u16()));
        const quint8 existing = in.u8();
        const quint8 sameSize = in.u8();

        ZVCommand listed;
        listed.parse(&listingPacket);
        list.parseFileList(&listed, QByteArray::fromHex("000d"), nullptr);

        QList<int> targets;
        for (int n = in.u8() % 9; n > 0; --n) {
            const quint8 row = in.u8();
            targets << (list.count() > 0 ? list.at(row % list.count())->index : row);
        }
        // Existing files of the listed size or of one byte, under safe names.
        for (int row = 0; row < qMin(8, list.count()); ++row) {
            const DownloadFileInfo *entry = list.at(row);
            QFile file(area.filePath(entry->name));
            if ((existing & (1 << row)) && harmlessName(entry->name) && file.open(QIODevice::WriteOnly)
                && !((sameSize & (1 << row)) ? file.resize(entry->size) : file.write("x", 1) == 1))
                fail("cannot prepare an existing file", entry->name);
        }

        ZVDownloadQueue queue(&connection, &list, mutex);
        connect(&queue, &ZVDownloadQueue::downloadStarted, this, &Harness::started);
        connect(&queue, &ZVDownloadQueue::downloadProgress, this, &Harness::progressed);
        connect(&queue, &ZVDownloadQueue::error, this, &Harness::failed);
        connect(&queue, &ZVDownloadQueue::fileSkipped, this, [this](const QString &name) {
            check((option == SaveNewer || option == SaveNoWrite) && QFile::exists(area.filePath(name)),
                  "a skip of a file that is not there, or under a rule that does not skip", name);
        });
        queue.setDirectory(area.path());
        queue.setSameOption(SameNameOption(option));
        for (int index : targets)
            queue.addTarget(index);
        queue.startDownload();
        while (!in.atEnd()) {
            const quint8 op = in.u8() % 8;
            if (op == DownloadStart) {
                refusing = false;
                queue.startDownload();
            } else if (op == DownloadCancel) {
                queue.cancel();
                refusing = true;
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
    void deliver(ZVDownloadQueue &queue, const QByteArray &packet)
    {
        ZVCommand command;
        if (!command.parse(&packet))
            return;
        payload = command.payload();
        const quint16 length = qFromBigEndian<quint16>(packet.constData() + LENGTH_OFFSET);
        end = qint64(qFromBigEndian<quint32>(packet.constData() + DATA_OFFSET_OFFSET)) + length;
        sound = length == payload.size() && end - length == progress && end <= currentSize
            && qFromBigEndian<quint16>(packet.constData() + CHECK_OFFSET) == quint16(byteSumComplement(payload));
        // A completed file costs a 200 ms pause when more targets follow:
        // one completed file per input.
        if (!current.isNull() && !refusing && sound && end == currentSize && completions++ > 0)
            return;
        packetPhase = true;
        queue.saveDownloadData(&command);
        packetPhase = false;
    }

    void started(const QString &name, qulonglong size)
    {
        check(harmlessName(name), "a download under an unsafe name", name);
        check(!packetPhase, "a new file started before the last one was complete");
        current = name;
        currentSize = qint64(size);
        progress = 0;
    }

    void progressed(qulonglong bytes)
    {
        if (!packetPhase) {
            // Skipped or empty files count as received in full.
            check(qint64(bytes) == currentSize, "progress of a skipped or empty file");
            progress = currentSize;
            return;
        }
        check(!refusing, "a packet was taken after the download was canceled");
        check(sound, "a defective packet was written");
        check(qint64(bytes) == end, "progress is not the end of the packet");
        progress = end;
        if (progress == currentSize)
            packetPhase = false; // what follows is the next file's start
    }

    void failed(AppErrorCode code, int param)
    {
        if (!packetPhase) {
            // A refused name fails that target alone, lost targets are
            // reported at the end; anything else ends the download.
            if (code == DownloadIllegalFileName)
                check(!harmlessName(list.findByIndex(param)->name), "a safe name refused");
            else if (code != DownloadTargetLost)
                refusing = true;
            return;
        }
        check(!refusing, "a packet was checked after the download was canceled");
        check(code == DownloadFileNotOpen || !sound, "a sound packet refused", QString::number(code));
        refusing = true;
    }

    ScratchArea area;
    DeviceNetConnection connection; // never connected: requests go nowhere
    QMutex mutex;
    ZVFileList list;
    int option = 0;
    QString current; // name of the file being received
    qint64 currentSize = 0;
    qint64 progress = 0;
    bool refusing = false; // canceled: packets must be ignored
    int completions = 0;
    // The packet being delivered: its payload, where it ends, whether it
    // passes every check.
    QByteArray payload;
    qint64 end = 0;
    bool sound = false;
    bool packetPhase = false; // inside saveDownloadData, before the file completed
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    Reader in(data, size);
    Harness().run(in);
    return 0;
}
