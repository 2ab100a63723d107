// File-list decoding of hostile listing packets: every decoded entry must be
// read from where the previous one ended, its name must end at the separator
// that leaves whole entries after it (on its code-unit grid first), long
// names must be shortened, decoding may stop only where no separator is left,
// and the lookups must find the last entry of each index.
#include <QHash>
#include <QMutex>
#include <QtEndian>
#include <vector>

#include "base/downloadfileinfo.h"
#include "fuzzinputs.h"
#include "fuzzsupport.h"
#include "protocol/zvcommand.h"
#include "protocol/zvfilelist.h"

using namespace fuzz;

namespace {

// The separator that must end the name starting at `start`: of those after
// which the rest of the payload splits into whole entries, the first on the
// name's code-unit grid, else the first off it; when none leaves whole
// entries, the first on the grid, else the first at all; -1 when none follows.
class ExpectedEnds
{
public:
    ExpectedEnds(const QByteArray &payload, const QByteArray &separator)
        : separatorSize(separator.size())
        , isSeparator(size_t(payload.size()) + 1, 0)
        , decodes(size_t(payload.size()) + 1, 0)
    {
        const int size = payload.size();
        for (int at = 0; at + separatorSize <= size; ++at)
            isSeparator[size_t(at)] = payload.mid(at, separatorSize) == separator;
        // Backwards: whether whole entries follow from each position, and
        // whether a separator with whole entries after it lies at or after it.
        std::vector<char> wholeAfter(size_t(size) + 2, 0);
        decodes[size_t(size)] = 1;
        for (int at = size - 1; at >= 0; --at) {
            const int nameStart = at + ENTRY_NAME_OFFSET;
            decodes[size_t(at)] = nameStart <= size && wholeAfter[size_t(nameStart)];
            wholeAfter[size_t(at)]
                = wholeAfter[size_t(at) + 1] || (isSeparator[size_t(at)] && decodes[size_t(at + separatorSize)]);
        }
    }

    int nameEnd(int start) const
    {
        const int whole = firstEnd(start, true);
        return whole >= 0 ? whole : firstEnd(start, false);
    }

private:
    int firstEnd(int start, bool wholeEntriesAfter) const
    {
        const int last = int(decodes.size()) - 1 - separatorSize;
        for (int grid = 0; grid < 2; ++grid) {
            for (int at = start + grid; at <= last; at += 2) {
                if (isSeparator[size_t(at)] && (!wholeEntriesAfter || decodes[size_t(at + separatorSize)]))
                    return at;
            }
        }
        return -1;
    }

    const int separatorSize;
    std::vector<char> isSeparator;
    std::vector<char> decodes;
};

void checkEntries(const ZVFileList &list, int first, const QByteArray &payload, const QByteArray &separator)
{
    const ExpectedEnds ends(payload, separator);
    int pos = 0;
    for (int row = first; row < list.count(); ++row) {
        const DownloadFileInfo *info = list.at(row);
        const QString where = QStringLiteral("row %1 at %2").arg(row).arg(pos);
        check(pos < payload.size(), "an entry decoded past the payload", where);
        // A field as the bounds-checked reads give it: 0 unless all bytes are there.
        const auto field = [&](int at, int width) { return qMax<qint64>(0, bigEndianAt(payload, pos + at, width)); };
        const quint16 index = quint16(field(0, 2));
        check(info->index == qint16(index) && info->isFolder == bool(index & FOLDER_INDEX_BIT), "index", where);
        check(info->size == field(6, 4), "size", where);
        check(info->dateTime == ZVFileList::makeDateTime(int(field(2, 2)), int(field(4, 2))), "date", where);

        const int start = pos + ENTRY_NAME_OFFSET;
        const int end = ends.nameEnd(start);
        check(end >= 0, "an entry decoded without a separator", where);
        QString name = utf16le(payload.mid(start, end - start));
        if (name.size() > ZVFileList::MaxNameUnits)
            name = name.left(ZVFileList::MaxNameUnits) + QChar(ZVFileList::LongNameMark);
        check(info->name == name, "name", where);
        pos = end + separator.size();
    }
    // Decoding stops early only when no separator follows the next name start.
    if (pos < payload.size())
        check(ends.nameEnd(pos + ENTRY_NAME_OFFSET) < 0, "decoding stopped before the end",
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
        const QByteArray packet = commandPacket(CODE_FILE_LIST, payload, quint8(i));
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
