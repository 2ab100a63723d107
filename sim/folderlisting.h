#ifndef FOLDERLISTING_H
#define FOLDERLISTING_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QVector>

#include "sim/treeentry.h"

// The entries of one folder as listed to the client, with the recorder's
// 16-bit index of each entry.
//
// Index scheme: files are numbered 0, 1, 2 ... in listing order, folders
// 0x8001, 0x8002 ... (bit 15 set; 0x8000 is the client's "parent folder").
// Files beyond 32768 wrap around (index & 0x7FFF), so in such a folder an
// index names the later of the entries that share it, as the client's own
// lookup does. The indexes hold as long as the listing does: a new listing
// numbers the folder's current contents afresh.
class FolderListing
{
public:
    // The entry count field is 16 bits: larger folders are cut to this many.
    static constexpr int MaxEntries = 0xFFFF;
    static constexpr quint16 FirstFolderIndex = 0x8001;
    static constexpr int FileIndexCount = 0x8000;
    static constexpr int FolderIndexCount = 0x7FFF;

    FolderListing() = default;
    // `entries` in listing order; cut to MaxEntries.
    explicit FolderListing(QVector<TreeEntry> entries);

    int count() const { return items.size(); }
    const TreeEntry &at(int row) const { return items.at(row); }
    quint16 indexAt(int row) const { return indexes.at(row); }
    // The entry the index names, or null.
    const TreeEntry *find(quint16 index) const;

    // One code 0x10 packet of this listing: whole entries from `*row` on, at
    // most `maxPayload` bytes of them (an entry longer than that goes alone),
    // announcing `total`; advances `*row` past them. An empty folder gives
    // one packet with an empty payload. Names shorter than `nameUnits` UTF-16
    // units of files are lengthened to that many.
    QByteArray packetFrom(int *row, int maxPayload, quint8 sequence, quint16 total, int nameUnits = 0) const;

    // One entry on the wire: index, FAT date, FAT time, size, UTF-16LE name
    // as it is (a name may itself hold the bytes 00 0D), then 00 0D.
    static QByteArray encodeEntry(const TreeEntry &entry, quint16 index, int nameUnits = 0);
    // FAT date and time words of a local time; clamped to 1980..2107, 0 for
    // an invalid time.
    static quint16 fatDate(const QDateTime &time);
    static quint16 fatTime(const QDateTime &time);

private:
    QVector<TreeEntry> items;
    QVector<quint16> indexes;
    QHash<quint16, int> rowByIndex;
};

#endif // FOLDERLISTING_H
