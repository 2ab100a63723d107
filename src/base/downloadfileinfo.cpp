#include "base/downloadfileinfo.h"

DownloadFileInfo::DownloadFileInfo(QObject *parent)
    : QObject(parent)
{
}
