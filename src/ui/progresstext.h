#ifndef PROGRESSTEXT_H
#define PROGRESSTEXT_H

#include <QCoreApplication>
#include <QString>

#include "base/apperrorcode.h"
#include "ui/downloadrun.h"

// The lines the window shows about a download (DownloadRun) and about
// errors. Translated in the window's context.
class ProgressText
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)
public:
    // " 2 / 5 files" (with the leading blank).
    static QString filesText(int filesStarted, int fileCount);
    // "take.wav - 1234 bytes".
    static QString fileText(const QString &name, qulonglong size);
    // "download 1234 / 5678".
    static QString bytesText(quint64 done, quint64 total);
    // "3 files completed.".
    static QString completedText(int completedFiles);
    // "3 files completed. 2 already there, kept. 1 failed.": written files,
    // files the same-name rule kept, files not downloaded (each part only
    // when not zero, the first always).
    static QString endText(int written, int kept, int failed);
    // "2 folders left out: ...": checked folders a download does not take.
    static QString foldersLeftOutText(int folders);
    // The hint when the download button finds nothing to download.
    static QString nothingCheckedText(int checkedFolders);
    // "2 files not downloaded.(code : E...)", with the code of the error
    // that told of the last of them.
    static QString lostText(const DownloadRun::NotDownloaded &lost);
    // "An error has occurred.(code : E...)".
    static QString errorText(AppErrorCode code, int param1, int param2);
    static QString adviceText();
    static QString canceledText();

private:
    ProgressText() = delete;
};

#endif // PROGRESSTEXT_H
