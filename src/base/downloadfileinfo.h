#ifndef DOWNLOADFILEINFO_H
#define DOWNLOADFILEINFO_H

#include <QDateTime>
#include <QObject>
#include <QString>

// One entry (folder or recording) of the recorder's current folder.
class DownloadFileInfo : public QObject
{
    Q_OBJECT
public:
    explicit DownloadFileInfo(QObject *parent = nullptr);

    bool isFolder = false;
    QString name;
    QDateTime dateTime; // local time; invalid when the recorder's date is
    qint64 size = 0;
    qint16 index = 0;     // recorder's index, bit 15 set for folders
    bool checked = false; // ticked for download in the table
};

#endif // DOWNLOADFILEINFO_H
