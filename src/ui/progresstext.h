#ifndef PROGRESSTEXT_H
#define PROGRESSTEXT_H

#include <QCoreApplication>
#include <QString>

#include "base/apperrorcode.h"

// The lines the window shows about a download and about errors, from the
// window's counters. Translated in the window's context.
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
    // done / total on a bar from 0 to `scale`; `scale` when nothing is to
    // be counted (total 0).
    static int barValue(quint64 done, quint64 total, int scale);
    // "3 files completed.": the files of the download that the recorder
    // still listed (the others were not downloaded).
    static QString completedText(int fileCount, int targetsLost);
    // "2 files not downloaded.(code : E...)", with the code of the error
    // that told of the last of them.
    static QString lostText(int targetsLost, AppErrorCode code, int param1, int param2);
    // "An error has occurred.(code : E...)".
    static QString errorText(AppErrorCode code, int param1, int param2);
    static QString adviceText();
    static QString canceledText();

private:
    ProgressText() = delete;
};

#endif // PROGRESSTEXT_H
