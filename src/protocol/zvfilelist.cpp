#include "protocol/zvfilelist.h"

#include <QVector>
#include <cstring>
#include <memory>

#include "base/mutexlocker.h"

#include "protocol/zvcommand.h"

ZVFileList::ZVFileList(QObject *parent)
    : QObject(parent)
{
}

ZVFileList::~ZVFileList()
{
    clear();
}

void ZVFileList::append(DownloadFileInfo *info)
{
    rowByIndex.insert(info->index, fileInfoList.size());
    fileInfoList.append(info);
}

DownloadFileInfo *ZVFileList::findByIndex(int index) const
{
    return fileInfoList.at(rowByIndex.value(index, 0));
}

void ZVFileList::clear()
{
    for (int row = fileInfoList.size() - 1; row >= 0; --row)
        delete fileInfoList.at(row);
    fileInfoList.clear();
    rowByIndex.clear();
}

namespace {
// Where each name of a packet ends. A name is UTF-16, so its separator 00 0D
// normally sits on a code-unit boundary, but the pair also occurs inside names
// ("Večer" is 56 00 65 00 0D 01 ...) and in the next entry's header (a size
// of 0x00000D00), and a name of an odd byte count has its separator off the
// grid. Of the separators that leave the rest of the payload decodable into
// whole entries, the first one on the code-unit grid wins, else the first one
// off it; a payload that cannot be decoded to its end at all takes the first
// separator on the grid, else the first at any offset. One pass from the end,
// so the cost is linear in the payload size (used only when the first
// separator on the grid of every name does not decode the payload).
class NameEnds
{
public:
    NameEnds(const char *data, int size, const QByteArray &separator)
        : sepSize(separator.size())
        , decodes(size + 1, false)
    {
        for (auto &column : firstDecodable)
            column.fill(-1, size + 2);
        for (auto &column : firstAny)
            column.fill(-1, size + 2);
        decodes[size] = true;
        for (int at = size - 1; at >= 0; --at) {
            const int nameStart = at + ENTRY_NAME_OFFSET;
            if (nameStart <= size)
                decodes[at] = firstDecodable[0][nameStart] >= 0 || firstDecodable[1][nameStart] >= 0;
            const int parity = at % 2;
            firstDecodable[1 - parity][at] = firstDecodable[1 - parity][at + 1];
            firstAny[1 - parity][at] = firstAny[1 - parity][at + 1];
            const bool isSeparator = sepSize > 0 && at + sepSize <= size
                && std::memcmp(data + at, separator.constData(), size_t(sepSize)) == 0;
            firstAny[parity][at] = isSeparator ? at : firstAny[parity][at + 1];
            firstDecodable[parity][at] = isSeparator && decodes[at + sepSize] ? at : firstDecodable[parity][at + 1];
        }
    }

    // The separator after the name that starts at `nameStart`, or -1.
    int after(int nameStart) const
    {
        if (nameStart >= decodes.size())
            return -1;
        const int grid = nameStart % 2;
        for (const QVector<int> *choice :
             {&firstDecodable[grid], &firstDecodable[1 - grid], &firstAny[grid], &firstAny[1 - grid]}) {
            if (choice->at(nameStart) >= 0)
                return choice->at(nameStart);
        }
        return -1;
    }

private:
    const int sepSize;
    // decodes[p]: the payload from p on decodes into whole entries.
    QVector<bool> decodes;
    // [parity][p]: the first separator at or after p at an even or odd
    // offset, of those after which the payload decodes, and of all.
    QVector<int> firstDecodable[2];
    QVector<int> firstAny[2];
};

// The ends of the names when each takes the first separator on its grid, as
// almost every payload has it; empty when that choice does not decode the
// payload to its end.
QVector<int> gridNameEnds(const char *data, int size, const QByteArray &separator)
{
    QVector<int> ends;
    const QByteArray bytes = QByteArray::fromRawData(data, size);
    int pos = 0;
    while (pos < size) {
        const int nameStart = pos + ENTRY_NAME_OFFSET;
        int at = nameStart > size ? -1 : bytes.indexOf(separator, nameStart);
        while (at >= 0 && (at - nameStart) % 2 != 0)
            at = bytes.indexOf(separator, at + 1);
        if (at < 0)
            return {};
        ends.append(at);
        pos = at + separator.size();
    }
    return ends;
}
} // namespace

QString ZVFileList::displayName(ZVCommand *command, int nameStart, int nameBytes)
{
    if (nameBytes / 2 <= MaxNameUnits)
        return command->payloadString(nameStart, nameBytes);
    return command->payloadString(nameStart, 2 * MaxNameUnits) + QChar(LongNameMark);
}

void ZVFileList::parseFileList(ZVCommand *command, const QByteArray &nameSeparator, QMutex *mutex)
{
    const int payloadSize = command->payloadSize();
    if (payloadSize == 0 || nameSeparator.isEmpty())
        return;
    const QVector<int> gridEnds = gridNameEnds(command->payloadData(), payloadSize, nameSeparator);
    std::unique_ptr<NameEnds> nameEnds;
    if (gridEnds.isEmpty())
        nameEnds.reset(new NameEnds(command->payloadData(), payloadSize, nameSeparator));
    int pos = 0;
    for (int entry = 0; pos < payloadSize; ++entry) {
        const quint16 index = command->payloadWord(pos + ENTRY_INDEX_OFFSET);
        const int date = command->payloadWord(pos + ENTRY_DATE_OFFSET);
        const int time = command->payloadWord(pos + ENTRY_TIME_OFFSET);
        const quint32 size = command->payloadLong(pos + ENTRY_SIZE_OFFSET);
        const int nameStart = pos + ENTRY_NAME_OFFSET;
        const int nameEnd = nameEnds ? nameEnds->after(nameStart) : gridEnds.at(entry);
        if (nameEnd < 0)
            return;

        auto *info = new DownloadFileInfo;
        info->index = static_cast<qint16>(index);
        info->isFolder = (index & FOLDER_INDEX_BIT) != 0;
        info->dateTime = makeDateTime(date, time);
        info->size = size;
        info->name = displayName(command, nameStart, nameEnd - nameStart);
        pos = nameEnd + nameSeparator.size();

        if (mutex) {
            MutexLocker locker(*mutex);
            append(info);
        } else {
            append(info);
        }
    }
}

QDateTime ZVFileList::makeDateTime(int date, int time)
{
    const QDate day((date >> 9) + 1980, (date >> 5) & 0x0F, date & 0x1F);
    const QTime clock(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2, 0);
    // QDateTime would turn an invalid time on a valid day into midnight.
    if (!day.isValid() || !clock.isValid())
        return QDateTime();
    return QDateTime(day, clock, Qt::LocalTime);
}
