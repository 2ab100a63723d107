#include "sim/recordertree.h"

#include <QDir>
#include <QDirIterator>
#include <algorithm>

#include "sim/folderlisting.h"
#include "sim/simlogging.h"
#include "sim/wavwriter.h"

namespace {
bool listsBefore(const TreeEntry &a, const TreeEntry &b)
{
    if (a.isFolder != b.isFolder)
        return a.isFolder;
    const int folded = a.name.compare(b.name, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a.name < b.name;
}

// Each hostile file is a short 8 kHz tone, so details and downloads work.
QByteArray tinyWav(int seed)
{
    constexpr int Frames = 32;
    WavWriter::Format format;
    format.sampleRate = 8000;
    format.channels = 1;
    return WavWriter::file(format, Frames, 400.0 + 100.0 * seed);
}
} // namespace

QVector<TreeEntry> RecorderTree::list(const QString &directory, bool withHostileEntries) const
{
    QVector<TreeEntry> entries;
    if (withHostileEntries)
        entries = hostileEntries();
    if (directory.isEmpty() || !QDir(directory).exists()) {
        qCWarning(lcSim) << "sim: folder" << directory << "does not exist; listed without its files";
        std::sort(entries.begin(), entries.end(), listsBefore);
        return entries;
    }
    // Hidden entries too: a card that was in a Mac holds its "._NAME" files.
    QDirIterator it(directory, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        TreeEntry entry;
        entry.name = info.fileName();
        entry.isFolder = info.isDir();
        entry.size = entry.isFolder ? 0 : info.size();
        entry.modified = info.lastModified();
        entry.filePath = info.absoluteFilePath();
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), listsBefore);
    if (entries.size() > FolderListing::MaxEntries) {
        qCWarning(lcSim) << "sim: folder" << directory << "holds" << entries.size() << "entries; listing the first"
                         << FolderListing::MaxEntries;
        entries.resize(FolderListing::MaxEntries);
    }
    return entries;
}

QVector<TreeEntry> RecorderTree::hostileEntries()
{
    static const QString names[] = {
        QStringLiteral("../evil.wav"),
        QStringLiteral("..\\evil.wav"),
        QStringLiteral("/tmp/abs.wav"),
        QStringLiteral("C:\\abs.wav"),
        QString(),
        QStringLiteral("."),
        QStringLiteral(".."),
        QStringLiteral("a/b.wav"),
        QStringLiteral("ctl\x01\x07\x1b\x7f.wav"),
        QStringLiteral("line\nbreak.wav"),
        // U+0D00 is the byte pair 00 0D in UTF-16LE: the client's name
        // separator inside the name.
        QString::fromUtf16(u"cut\u0D00here.wav"),
    };
    const QDateTime when(QDate(2024, 1, 2), QTime(3, 4, 6), Qt::LocalTime);
    QVector<TreeEntry> entries;
    int seed = 0;
    for (const QString &name : names) {
        TreeEntry entry;
        entry.name = name;
        entry.content = tinyWav(++seed);
        entry.size = entry.content.size();
        entry.modified = when;
        entries.append(entry);
    }
    TreeEntry folder;
    folder.name = QStringLiteral("../up");
    folder.isFolder = true;
    folder.modified = when;
    entries.prepend(folder);
    return entries;
}
