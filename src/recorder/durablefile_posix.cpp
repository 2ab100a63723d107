#include "recorder/durablefile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}
} // namespace

namespace DurableFile {

// A name with other names (hard links) is not ours either: writing it would
// change a file elsewhere.
Open openForWriting(QFile *file, const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = -1;
    struct stat status = {};
    if (::lstat(native.constData(), &status) == 0) {
        if (!S_ISREG(status.st_mode) || status.st_nlink != 1)
            return Open::Taken;
        fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == ELOOP))
            return Open::Taken;
    } else if (errno == ENOENT) {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            return Open::Taken;
    }
    if (fd < 0) {
        *error = path + QLatin1String(": ") + systemError();
        return Open::Failed;
    }
    if (!file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = path + QLatin1String(": ") + file->errorString();
        return Open::Failed;
    }
    return Open::Opened;
}

void keepPermissions(QFile *file, const QString &replacedPath)
{
    struct stat replaced = {};
    if (::lstat(QFile::encodeName(replacedPath).constData(), &replaced) == 0 && S_ISREG(replaced.st_mode))
        ::fchmod(file->handle(), replaced.st_mode & 07777);
}

void startWriteback(QFile *file, qint64 waitFrom, qint64 startFrom, qint64 startTo)
{
#ifdef Q_OS_LINUX
    const int fd = file->handle();
    if (startFrom > waitFrom)
        ::sync_file_range(fd, waitFrom, startFrom - waitFrom,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::sync_file_range(fd, startFrom, startTo - startFrom, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(file)
    Q_UNUSED(waitFrom)
    Q_UNUSED(startFrom)
    Q_UNUSED(startTo)
#endif
}

bool flushToDisk(QFile *file, QString *error)
{
    if (::fsync(file->handle()) == 0)
        return true;
    *error = systemError();
    return false;
}

bool replace(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *error = to + QLatin1String(": ") + systemError();
    return false;
}

bool syncFolder(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    // Some file systems cannot sync a folder; their renames are as safe as they get.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    if (!synced)
        *error = systemError();
    ::close(fd);
    return synced;
}

} // namespace DurableFile
