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
    return QStringLiteral(" %1 / %2 files").arg(filesStarted).arg(fileCount);
}

QString ProgressText::fileText(const QString &name, qulonglong size)
{
    return name + QStringLiteral(" - ") + QString::number(size) + QStringLiteral(" bytes");
}

QString ProgressText::bytesText(quint64 done, quint64 total)
{
    return QStringLiteral("download %1 / %2").arg(done).arg(total);
}

int ProgressText::barValue(quint64 done, quint64 total, int scale)
{
    if (total == 0)
        return scale;
    return int(qMin<quint64>(done * quint64(scale) / total, quint64(scale)));
}

QString ProgressText::completedText(int fileCount, int targetsLost)
{
    return QString::number(qMax(0, fileCount - targetsLost)) + tr(" files completed.");
}

QString ProgressText::lostText(int targetsLost)
{
    return QString::number(targetsLost) + tr(" files not downloaded.") + codeText(DownloadTargetLost, targetsLost, 0);
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
