#include "sim/folderlisting.h"

#include <QtEndian>

#include "protocol/zvcommand.h"
#include "sim/replybuilder.h"

namespace {
constexpr int FatFirstYear = 1980;
constexpr int FatLastYear = 2107;
constexpr char NameSeparator[2] = {'\x00', '\x0D'};

QDateTime clampedLocal(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const QDateTime first(QDate(FatFirstYear, 1, 1), QTime(0, 0), Qt::LocalTime);
    const QDateTime last(QDate(FatLastYear, 12, 31), QTime(23, 59, 58), Qt::LocalTime);
    if (local < first)
        return first;
    if (local > last)
        return last;
    return local;
}
} // namespace

FolderListing::FolderListing(QVector<TreeEntry> entries)
    : items(std::move(entries))
{
    if (items.size() > MaxEntries)
        items.resize(MaxEntries);
    indexes.reserve(items.size());
    rowByIndex.reserve(items.size());
    int files = 0;
    int folders = 0;
    for (int row = 0; row < items.size(); ++row) {
        const quint16 index = items.at(row).isFolder ? quint16(FirstFolderIndex + folders++ % FolderIndexCount)
                                                     : quint16(files++ % FileIndexCount);
        indexes.append(index);
        rowByIndex.insert(index, row);
    }
}

const TreeEntry *FolderListing::find(quint16 index) const
{
    const auto it = rowByIndex.constFind(index);
    return it == rowByIndex.constEnd() ? nullptr : &items.at(it.value());
}

QByteArray FolderListing::packetFrom(int *row, int maxPayload, quint8 sequence, quint16 total, int nameUnits) const
{
    QByteArray payload;
    for (; *row < items.size(); ++*row) {
        const QByteArray entry = encodeEntry(items.at(*row), indexes.at(*row), nameUnits);
        if (!payload.isEmpty() && payload.size() + entry.size() > maxPayload)
            break;
        payload += entry;
    }
    return ReplyBuilder::listing(sequence, total, payload);
}

// A name lengthened to `units` code units: "_" repeated before its extension.
static QString lengthened(const QString &name, int units)
{
    if (name.size() >= units)
        return name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const int at = dot > 0 ? dot : name.size();
    return QString(name).insert(at, QString(units - name.size(), QLatin1Char('_')));
}

QByteArray FolderListing::encodeEntry(const TreeEntry &original, quint16 index, int nameUnits)
{
    TreeEntry entry = original;
    if (nameUnits > 0 && !entry.isFolder)
        entry.name = lengthened(entry.name, nameUnits);
    const int nameBytes = entry.name.size() * 2;
    QByteArray out(ENTRY_NAME_OFFSET + nameBytes + 2, Qt::Uninitialized);
    char *bytes = out.data();
    qToBigEndian<quint16>(index, bytes + ENTRY_INDEX_OFFSET);
    qToBigEndian<quint16>(fatDate(entry.modified), bytes + ENTRY_DATE_OFFSET);
    qToBigEndian<quint16>(fatTime(entry.modified), bytes + ENTRY_TIME_OFFSET);
    qToBigEndian<quint32>(quint32(qBound<qint64>(0, entry.size, 0xFFFFFFFF)), bytes + ENTRY_SIZE_OFFSET);
    const ushort *units = entry.name.utf16();
    for (int i = 0; i < entry.name.size(); ++i)
        qToLittleEndian<quint16>(units[i], bytes + ENTRY_NAME_OFFSET + 2 * i);
    bytes[ENTRY_NAME_OFFSET + nameBytes] = NameSeparator[0];
    bytes[ENTRY_NAME_OFFSET + nameBytes + 1] = NameSeparator[1];
    return out;
}

quint16 FolderListing::fatDate(const QDateTime &time)
{
    if (!time.isValid())
        return 0;
    const QDate day = clampedLocal(time).date();
    return quint16(((day.year() - FatFirstYear) << 9) | (day.month() << 5) | day.day());
}

quint16 FolderListing::fatTime(const QDateTime &time)
{
    if (!time.isValid())
        return 0;
    const QTime clock = clampedLocal(time).time();
    return quint16((clock.hour() << 11) | (clock.minute() << 5) | (clock.second() / 2));
}
