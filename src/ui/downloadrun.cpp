#include "ui/downloadrun.h"

void DownloadRun::start(int fileCount, quint64 totalBytes)
{
    *this = DownloadRun();
    running = true;
    files = fileCount;
    total = totalBytes;
    clock.start();
}

void DownloadRun::end()
{
    running = false;
    failed = false;
    lostFiles = NotDownloaded();
}

void DownloadRun::fileStarted()
{
    completedBytes += currentFileBytes;
    ++started;
}

int DownloadRun::barValue(int scale) const
{
    if (total == 0)
        return scale;
    return int(qMin<quint64>(doneBytes() * quint64(scale) / total, quint64(scale)));
}

void DownloadRun::errorReported(AppErrorCode code, int param1, int param2)
{
    if (running) {
        // A framing warning leaves the download running.
        if (endsDownload(code))
            failed = true;
        if (code == DownloadTargetLost || code == DownloadIllegalFileName) {
            lostFiles.files += code == DownloadTargetLost ? qMax(0, param1) : 1;
            lostFiles.code = code;
            lostFiles.param1 = param1;
            lostFiles.param2 = param2;
        }
    }
    // The files lost before, and the ones the link took with it.
    if (code == DownloadLinkLost) {
        linkLost = true;
        lostWithTheLink = {lostFiles.files + qMax(0, param1), code, param1, param2};
    }
}
