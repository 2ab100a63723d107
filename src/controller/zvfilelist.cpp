#include "controller/zvfilelist.h"

#include "app/mutexlocker.h"

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

// The separator that ends a name starting at `nameStart`. Names are UTF-16,
// so the separator is looked for on code-unit boundaries first: a letter
// whose low byte is 00 followed by one whose low byte is 0D (as in "Večer",
// 65 00 0D 01) holds the pair at an odd offset and is not the end. Only a
// name with an odd byte count, which has no aligned separator at all, falls
// back to the first pair at any offset.
int ZVFileList::findNameEnd(ZVCommand *command, const QByteArray &nameSeparator, int nameStart)
{
    const int first = command->payloadIndexOf(nameSeparator, nameStart);
    for (int at = first; at >= 0; at = command->payloadIndexOf(nameSeparator, at + 1)) {
        if ((at - nameStart) % 2 == 0)
            return at;
    }
    return first;
}

void ZVFileList::parseFileList(ZVCommand *command, const QByteArray &nameSeparator, QMutex *mutex)
{
    const int payloadSize = command->payloadSize();
    int pos = 0;
    while (pos < payloadSize) {
        const quint16 index = command->payloadWord(pos + ENTRY_INDEX_OFFSET);
        const int date = command->payloadWord(pos + ENTRY_DATE_OFFSET);
        const int time = command->payloadWord(pos + ENTRY_TIME_OFFSET);
        const quint32 size = command->payloadLong(pos + ENTRY_SIZE_OFFSET);
        const int nameStart = pos + ENTRY_NAME_OFFSET;
        const int nameEnd = findNameEnd(command, nameSeparator, nameStart);
        if (nameEnd < 0)
            return;

        auto *info = new DownloadFileInfo;
        info->index = static_cast<qint16>(index);
        info->isFolder = (index & FOLDER_INDEX_BIT) != 0;
        info->dateTime = makeDateTime(date, time);
        info->size = size;
        info->name = command->payloadString(nameStart, nameEnd - nameStart);
        pos = nameEnd + nameSeparator.size();

        MutexLocker locker(mutex);
        append(info);
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
