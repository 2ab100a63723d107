#ifndef PARTFILE_H
#define PARTFILE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>

class QFile;

// The file a recording is written to while it arrives: "NAME.part" beside
// its final name, opened without following links (the file-system steps are
// DurableFile's). Verified payloads are
// gathered into larger writes and handed to the disk in steps while the file
// arrives. A complete file takes the recording's time, is synced and renamed
// over its final name; an unfinished one keeps what was verified under its
// ".part" name.
class PartFile
{
public:
    // Why the last append or finish failed, with the two parameters the
    // write error carries.
    struct Failure
    {
        QString what;
        int param = 0;
        int param2 = 0;
    };

    PartFile();
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // Opens the ".part" file for a recording whose final name is
    // `finalPath`; `recordedAt` is the time the finished file carries.
    bool open(const QString &finalPath, const QDateTime &recordedAt);
    bool isOpen() const { return file != nullptr; }
    // Why the last open failed (empty when it did not).
    const QString &openError() const { return lastOpenError; }

    // Takes the next verified payload.
    bool append(const char *data, int length);
    // Hands what was written so far to the disk once a step's worth arrived.
    void startWritebackIfDue();
    // Makes the complete file durable under its final name; closes it.
    bool finish();
    // Closes an unfinished file, keeping everything appended so far.
    void close();

    const QString &path() const { return partPath; }
    const Failure &failure() const { return lastFailure; }

    // The name a download of `fileName` is written under until it is
    // complete: "NAME.part", or "NAME(count).part" (count > 0) when that is
    // taken by something that is not ours.
    static QString partFileName(const QString &fileName, int count);

private:
    bool openFreePartName(const QString &folder, const QString &fileName);
    bool fail(const QString &what, int param, int param2);
    bool flushGathered();
    void startWriteback();
    void keepRecordingTime();

    std::unique_ptr<QFile> file;
    QString partPath;
    QString finalPath;
    QDateTime recordedAt;
    // Verified payloads of small packets waiting for one larger write.
    QByteArray gathered;
    qint64 appended = 0; // bytes taken, gathered ones included
    // The bytes before writebackFrom are on their way to the disk; those
    // before previousWriteback are on it.
    qint64 writebackFrom = 0;
    qint64 previousWriteback = 0;
    QString lastOpenError;
    Failure lastFailure;
};

#endif // PARTFILE_H
