#include "controller/downloadfileinfo.h"

DownloadFileInfo::DownloadFileInfo(QObject *parent)
    : QObject(parent)
{
}
