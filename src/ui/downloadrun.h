#ifndef DOWNLOADRUN_H
#define DOWNLOADRUN_H

#include <QElapsedTimer>
#include <QtGlobal>

#include "base/apperrorcode.h"

// One download of the window, from the download button to its end: the
// counts and bytes its progress lines show, how it ended, and its clock.
// The controller reports each file as it starts (a file kept by the
// same-name rule too) and the bytes of the current file as they arrive.
class DownloadRun
{
public:
    // Files of the run that did not download, and the error that told of
    // the last of them.
    struct NotDownloaded
    {
        int files = 0;
        AppErrorCode code = DownloadTargetLost;
        int param1 = 0;
        int param2 = 0;
    };

    // A new run of `fileCount` files, `totalBytes` in all; nothing of the
    // run before is kept. Its clock starts.
    void start(int fileCount, quint64 totalBytes);
    // The run is over: completed, cancelled, or gone with the link. Its
    // counts stay for a report that comes late; its failure and lost files
    // go (a lost link's line stays, below).
    void end();
    bool isRunning() const { return running; }
    // Since the start, while running.
    qint64 elapsedMs() const { return clock.elapsed(); }

    // A file starts: the bytes last reported for the one before are done.
    void fileStarted();
    // `fileBytes` of the current file have arrived.
    void fileProgress(quint64 fileBytes) { currentFileBytes = fileBytes; }
    int filesStarted() const { return started; }
    int fileCount() const { return files; }
    quint64 doneBytes() const { return completedBytes + currentFileBytes; }
    quint64 totalBytes() const { return total; }
    // The done bytes on a bar from 0 to `scale`; full when there is nothing
    // to count (every file empty).
    int barValue(int scale) const;

    // An error the controller reported: one that ends the download fails
    // the run; a refused name (one file) and targets no longer listed count
    // as files not downloaded; a lost link is kept as the run's last word.
    void errorReported(AppErrorCode code, int param1, int param2);
    bool hasFailed() const { return failed; }
    // The user cancelled: the end is a cancel, whatever failed before.
    void cancelledByUser() { failed = false; }
    const NotDownloaded &lost() const { return lostFiles; }
    // The files that downloaded, or were kept by the same-name rule.
    int completedFiles() const { return qMax(0, files - lostFiles.files); }

    // The link went during the run: what did not download, told until the
    // user acts or the next run starts, through the run's end.
    bool linkWasLost() const { return linkLost; }
    const NotDownloaded &lostWithLink() const { return lostWithTheLink; }
    void forgetLostLink() { linkLost = false; }

private:
    bool running = false;
    bool failed = false;
    int files = 0;
    int started = 0;
    quint64 total = 0;
    quint64 completedBytes = 0;
    quint64 currentFileBytes = 0;
    NotDownloaded lostFiles;
    bool linkLost = false;
    NotDownloaded lostWithTheLink;
    QElapsedTimer clock;
};

#endif // DOWNLOADRUN_H
