#ifndef ZVFILELIST_H
#define ZVFILELIST_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>

#include "controller/downloadfileinfo.h"

class QMutex;
class ZVCommand;

// The entries of the recorder's current folder, in order of arrival, with a
// lookup by the recorder's entry index.
class ZVFileList : public QObject
{
    Q_OBJECT
public:
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
    // separator ends the decoding of this packet.
    void parseFileList(ZVCommand *command, const QByteArray &nameSeparator, QMutex *mutex);

    // FAT (MS-DOS) date and time words to a local date-time; invalid when the
    // fields form no valid date or time.
    static QDateTime makeDateTime(int date, int time);

private:
    static int findNameEnd(ZVCommand *command, const QByteArray &nameSeparator, int nameStart);

    QList<DownloadFileInfo *> fileInfoList;
    QHash<int, int> rowByIndex;
};

#endif // ZVFILELIST_H
