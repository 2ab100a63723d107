#ifndef ZVFILELIST_H
#define ZVFILELIST_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>

#include "base/downloadfileinfo.h"

class QMutex;
class ZVCommand;

// The entries of the recorder's current folder, in order of arrival, with a
// lookup by the recorder's entry index.
class ZVFileList : public QObject
{
    Q_OBJECT
public:
    // Longest name kept as sent, in UTF-16 code units. A longer one is kept
    // as its first MaxNameUnits units followed by LongNameMark: it can be
    // shown, and the download refuses it, as no file system takes it.
    static constexpr int MaxNameUnits = 255;
    static constexpr ushort LongNameMark = 0x2026; // "…"

    explicit ZVFileList(QObject *parent = nullptr);
    ~ZVFileList() override;

    void append(DownloadFileInfo *info);
    int count() const { return fileInfoList.size(); }
    DownloadFileInfo *at(int row) const { return fileInfoList.at(row); }
    DownloadFileInfo *findByIndex(int index) const;
    bool containsIndex(int index) const { return rowByIndex.contains(index); }
    void clear();

    // Decodes the entries of one file-list packet and appends them, taking
    // `mutex` (when given) around each append. An entry without its name
    // separator ends the decoding of this packet. Cost linear in the payload.
    void parseFileList(ZVCommand *command, const QByteArray &nameSeparator, QMutex *mutex);

    // FAT (MS-DOS) date and time words to a local date-time; invalid when the
    // fields form no valid date or time.
    static QDateTime makeDateTime(int date, int time);

private:
    static QString displayName(ZVCommand *command, int nameStart, int nameBytes);

    QList<DownloadFileInfo *> fileInfoList;
    QHash<int, int> rowByIndex;
};

#endif // ZVFILELIST_H
