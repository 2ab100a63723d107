#include "controller/zvfilelist.h"

#include <QMutexLocker>

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
        const int nameEnd = command->payloadIndexOf(nameSeparator, nameStart);
        if (nameEnd < 0)
            return;

        auto *info = new DownloadFileInfo;
        info->index = static_cast<qint16>(index);
        info->isFolder = (index & FOLDER_INDEX_BIT) != 0;
        info->dateTime = makeDateTime(date, time);
        info->size = size;
        info->name = command->payloadString(nameStart, nameEnd - nameStart);
        pos = nameEnd + nameSeparator.size();

        if (mutex) {
            QMutexLocker locker(mutex);
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
