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
};
Q_DECLARE_METATYPE(AppErrorCode)

// Errors after which the download queue gives up the download and cancels it.
inline bool endsDownload(AppErrorCode code)
{
    switch (code) {
    case DownloadFileNotOpen:
    case DownloadPacketLengthError:
    case DownloadIllegalOffset:
    case DownloadPacketCrcError:
    case DownloadIllegalFileName:
    case DownloadSizeExceeded:
    case DownloadFileWriteError:
    case DownloadNoSpace:
        return true;
    default:
        return false;
    }
}

#endif // APPERRORCODE_H
