// File-list decoding of hostile listing packets: every decoded entry must be
// read from where the previous one ended, its name must end at the first
// separator on a code-unit boundary (or, lacking one, at the first at all),
// decoding may stop only where no separator is left, and the lookups must
// find the last entry of each index.
#include <QHash>
#include <QMutex>
#include <QtEndian>

#include "controller/downloadfileinfo.h"
#include "controller/zvfilelist.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "protocol/zvcommand.h"

using namespace fuzz;

namespace {

// A field as the bounds-checked reads give it: 0 unless all bytes are there.
quint32 field(const QByteArray &payload, int at, int width)
{
    if (at + width > payload.size())
        return 0;
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | quint8(payload.at(at + i));
    return value;
}

QString utf16le(const QByteArray &bytes)
{
    QString text;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(qFromLittleEndian<quint16>(bytes.constData() + i));
    return text;
}

void checkEntries(const ZVFileList &list, int first, const QByteArray &payload, const QByteArray &separator)
{
    const int sepSize = separator.size();
    auto occursAt = [&](int at) { return at >= 0 && at + sepSize <= payload.size() && payload.mid(at, sepSize) == separator; };
    int pos = 0;
    for (int row = first; row < list.count(); ++row) {
        const DownloadFileInfo *info = list.at(row);
        const QString where = QStringLiteral("row %1 at %2").arg(row).arg(pos);
        check(pos < payload.size(), "an entry decoded past the payload", where);
        const quint16 index = quint16(field(payload, pos, 2));
        check(info->index == qint16(index) && info->isFolder == bool(index & FOLDER_INDEX_BIT), "index", where);
        check(info->size == qint64(field(payload, pos + 6, 4)), "size", where);
        const int date = int(field(payload, pos + 2, 2));
        const int time = int(field(payload, pos + 4, 2));
        const QDate day((date >> 9) + 1980, (date >> 5) & 0x0F, date & 0x1F);
        const QTime clock(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
        check(info->dateTime.isValid() == (day.isValid() && clock.isValid()), "date validity", where);
        check(!info->dateTime.isValid() || info->dateTime.date() == day, "date", where);

        const int start = pos + ENTRY_NAME_OFFSET;
        int end = start + 2 * info->name.size();
        if (!occursAt(end))
            ++end;
        check(occursAt(end), "no separator where the name ends", where);
        check(info->name == utf16le(payload.mid(start, end - start)), "name bytes", where);
        if ((end - start) % 2 == 0) {
            for (int at = start; at < end; at += 2)
                check(!occursAt(at), "the name runs past a separator on a boundary", where);
        } else {
            // No separator on a boundary at all: the first one ends the name.
            for (int at = start; at < end; ++at)
                check(!occursAt(at), "the name runs past the first separator", where);
            for (int at = start; at + sepSize <= payload.size(); at += 2)
                check(!occursAt(at), "an odd-length name although a boundary separator follows", where);
        }
        pos = end + sepSize;
    }
    // Decoding stops early only when no separator follows the next name start.
    if (pos < payload.size())
        check(payload.indexOf(separator, pos + ENTRY_NAME_OFFSET) < 0, "decoding stopped before the end",
              QStringLiteral("at %1 of %2").arg(pos).arg(payload.size()));
}

void checkLookups(const ZVFileList &list)
{
    QHash<int, int> lastRow;
    for (int row = 0; row < list.count(); ++row)
        lastRow.insert(list.at(row)->index, row);
    for (auto it = lastRow.cbegin(); it != lastRow.cend(); ++it) {
        check(list.containsIndex(it.key()), "index not found", QString::number(it.key()));
        check(list.findByIndex(it.key()) == list.at(it.value()), "lookup is not the last entry of its index",
              QString::number(it.key()));
    }
    check(!list.containsIndex(0x10000), "an index that cannot be listed is found");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    Reader in(data, size);
    const quint8 flags = in.u8();
    QByteArray separator = QByteArray::fromHex("000d");
    if ((flags & 3) == ListOwnSeparator)
        separator = in.bytes(1 + in.u8() % 3);
    const int packets = ((flags >> 3) & 3) + 1;
    QList<int> sizes;
    for (int i = 1; i < packets; ++i)
        sizes << in.u16();

    ZVFileList list;
    QMutex mutex;
    for (int i = 0; i < packets; ++i) {
        const QByteArray payload = i < sizes.size() ? in.bytes(sizes.at(i)) : in.rest().left(MAX_PAYLOAD_SIZE);
        ZVCommand command;
        const QByteArray packet = commandPacket(CODE_FILE_LIST, payload, quint8(i), 0);
        check(command.parse(&packet), "listing packet refused");
        const int before = list.count();
        list.parseFileList(&command, separator, (flags & ListNoMutex) ? nullptr : &mutex);
        check(mutex.tryLock(), "decoding left the mutex locked");
        mutex.unlock();
        checkEntries(list, before, payload, separator);
    }
    checkLookups(list);
    list.clear();
    check(list.count() == 0 && !list.containsIndex(0), "clear left entries");
    return 0;
}
