#include "ui/progresstext.h"

#include "base/errortranslator.h"

namespace {
QString codeText(AppErrorCode code, int param1, int param2)
{
    return QStringLiteral("(%1)").arg(ErrorTranslator::getCodeText(code, param1, param2));
}
} // namespace

QString ProgressText::filesText(int filesStarted, int fileCount)
{
    return tr(" %1 / %n files", nullptr, fileCount).arg(filesStarted);
}

QString ProgressText::fileText(const QString &name, qulonglong size)
{
    // One pass over both: a "%2" inside the name stays as it is.
    return tr("%1 - %2 bytes").arg(name, QString::number(size));
}

QString ProgressText::bytesText(quint64 done, quint64 total)
{
    return tr("download %1 / %2").arg(QString::number(done), QString::number(total));
}

QString ProgressText::completedText(int completedFiles)
{
    return tr("%n files completed.", nullptr, completedFiles);
}

QString ProgressText::endText(int written, int kept, int failed)
{
    QString text = completedText(written);
    if (kept > 0)
        text += QLatin1Char(' ') + tr("%n already there, kept.", nullptr, kept);
    if (failed > 0)
        text += QLatin1Char(' ') + tr("%n failed.", nullptr, failed);
    return text;
}

QString ProgressText::foldersLeftOutText(int folders)
{
    return tr("%n folders left out: zv-transfer get -r copies them.", nullptr, folders);
}

QString ProgressText::nothingCheckedText(int checkedFolders)
{
    if (checkedFolders > 0)
        return tr("Folders are not downloaded here: check their recordings, or use zv-transfer get -r.");
    return tr("Nothing to download: check the recordings first.");
}

QString ProgressText::lostText(const DownloadRun::NotDownloaded &lost)
{
    return tr("%n files not downloaded.", nullptr, lost.files) + codeText(lost.code, lost.param1, lost.param2);
}

QString ProgressText::errorText(AppErrorCode code, int param1, int param2)
{
    return tr("An error has occurred.") + codeText(code, param1, param2);
}

QString ProgressText::adviceText()
{
    return tr("Please quit the Application and attempt to re-connect to the ZV.");
}

QString ProgressText::canceledText()
{
    return tr("download canceled.");
}
