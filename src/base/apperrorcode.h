#ifndef APPERRORCODE_H
#define APPERRORCODE_H

#include <QMetaType>

// Failures shown to the user, each carried with two int parameters and shown
// as "code : E<code>-<param1>-<param2>". The numbers are what the user reads
// and reports, so they never change.
enum AppErrorCode {
    NetworkSocketError = 0,
    NetworkPacketTooShort = 1,
    NetworkPacketParseError = 2,
    DownloadFileNotOpen = 3,
    DownloadPacketLengthError = 4,
    DownloadIllegalOffset = 5,
    DownloadPacketCrcError = 6,
    // 7 is not used.
    FileDetailIllegalPacketSize = 8,
    FileDetailUnknownFileFormat = 9,
    DownloadIllegalFileName = 10,
    DownloadSizeExceeded = 11,
    DownloadFileWriteError = 12,
    DownloadNoSpace = 13,
    // param1: targets not downloaded because a new listing no longer held
    // their entry. Reported once, just before the download's end; it does not
    // cancel.
    DownloadTargetLost = 14,
    // param1: files of the download not downloaded. The recorder stopped the
    // download by itself (a cancel confirmation that answers no cancel of
    // ours); it ended here at once, the partial file kept.
    DownloadStoppedByRecorder = 15,
    // param1: files of the download not downloaded. The link to the recorder
    // went down during the download; it ended here, the partial file kept,
    // and is not taken up again on the next connection.
    DownloadLinkLost = 16,
};
Q_DECLARE_METATYPE(AppErrorCode)

// Errors after which the download queue gives up the whole download. A
// refused name (DownloadIllegalFileName) fails only its own file.
inline bool endsDownload(AppErrorCode code)
{
    switch (code) {
    case DownloadFileNotOpen:
    case DownloadPacketLengthError:
    case DownloadIllegalOffset:
    case DownloadPacketCrcError:
    case DownloadSizeExceeded:
    case DownloadFileWriteError:
    case DownloadNoSpace:
    case DownloadStoppedByRecorder:
    case DownloadLinkLost:
        return true;
    default:
        return false;
    }
}

#endif // APPERRORCODE_H
