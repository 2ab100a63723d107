#include "sim/demotree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <iterator>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "sim/simlogging.h"
#include "sim/wavwriter.h"

namespace {
enum class Kind { Wav, Bwf, Mp3, Text };

struct DemoFile
{
    const char *path; // UTF-8, relative to the tree root
    Kind kind;
    int sampleRate;
    int bits;
    int channels;
    int millis;
    double frequency;
};

const DemoFile musicFiles[] = {
    {"ZV_0001.WAV", Kind::Wav, 48000, 16, 2, 2500, 440.0},
    {"ZV_0002.WAV", Kind::Wav, 48000, 24, 2, 4000, 523.25},
    {"ZV_0003_BWF.WAV", Kind::Bwf, 48000, 24, 2, 3000, 659.25},
    {"ZV_0004.MP3", Kind::Mp3, 44100, 0, 2, 5000, 0.0},
    {"README.TXT", Kind::Text, 0, 0, 0, 0, 0.0},
    {"FOLDER01/TAKE_44k16.WAV", Kind::Wav, 44100, 16, 2, 2000, 392.0},
    {"FOLDER01/TAKE_96k24.WAV", Kind::Wav, 96000, 24, 2, 1500, 880.0},
    {"Übung/Café_take.WAV", Kind::Wav, 48000, 24, 1, 3000, 329.63},
    {"Übung/Tonleiter.WAV", Kind::Wav, 44100, 16, 1, 1000, 293.66},
    {"録音/テイク1.WAV", Kind::Wav, 44100, 16, 1, 1000, 587.33},
    {"録音/ライブ_BWF.WAV", Kind::Bwf, 44100, 24, 1, 1200, 698.46},
    {"NESTED/DEEPER/DEEP.WAV", Kind::Wav, 96000, 16, 1, 500, 1000.0},
};
const char *const musicEmptyFolders[] = {"EMPTY"};

const DemoFile mtrFiles[] = {
    {"SONG0001/TRACK01.WAV", Kind::Wav, 48000, 24, 1, 2000, 110.0},
    {"SONG0001/TRACK02.WAV", Kind::Wav, 48000, 24, 1, 2000, 220.0},
    {"SONG0001/TRACK03.WAV", Kind::Wav, 48000, 24, 1, 2000, 277.18},
    {"SONG0001/TRACK04.WAV", Kind::Wav, 48000, 24, 1, 2000, 329.63},
    {"SONG0002/TRACK01.WAV", Kind::Bwf, 44100, 24, 1, 1000, 196.0},
    {"SONG0002/TRACK02.WAV", Kind::Bwf, 44100, 24, 1, 1000, 246.94},
};
const char *const mtrEmptyFolders[] = {"SONG0003"};

// Modification times: a fixed start, each file a few minutes after the last
// (an even number of seconds, which FAT times can hold).
const QDateTime firstTime(QDate(2024, 5, 17), QTime(9, 30, 0), Qt::LocalTime);
constexpr int SecondsBetweenFiles = 7 * 60 + 16;

constexpr int Mp3SamplesPerFrame = 1152;
constexpr int Mp3BitRate = 128000;

constexpr qint64 NoiseStride = 1024 * 1024;
constexpr qint64 NoiseOffset = 4096;
constexpr int NoiseBlock = 4096;

constexpr int ManyFrames = 8;

QByteArray id3Tag(const QByteArray &title)
{
    QByteArray frame("TIT2");
    char size[4];
    qToBigEndian<quint32>(quint32(title.size() + 1), size);
    frame.append(size, 4);
    frame.append(2, '\0'); // frame flags
    frame.append('\0');    // ISO-8859-1
    frame.append(title);
    QByteArray tag("ID3\x03\x00\x00", 6);
    const int n = frame.size(); // syncsafe size
    tag.append(char((n >> 21) & 0x7F))
        .append(char((n >> 14) & 0x7F))
        .append(char((n >> 7) & 0x7F))
        .append(char(n & 0x7F));
    return tag + frame;
}

// MPEG-1 layer III at 128 kbit/s and 44.1 kHz, joint stereo: frames of
// digital silence (zero side information), padded like an encoder does so
// the average rate is exact.
QByteArray mp3File(int millis)
{
    const int frames = int((qint64(millis) * 44100 / 1000 + Mp3SamplesPerFrame - 1) / Mp3SamplesPerFrame);
    const int perFrame = 144 * Mp3BitRate;
    QByteArray out = id3Tag("Morning take");
    int remainder = 0;
    for (int i = 0; i < frames; ++i) {
        remainder += perFrame % 44100;
        const bool padding = remainder >= 44100;
        if (padding)
            remainder -= 44100;
        const int length = perFrame / 44100 + (padding ? 1 : 0);
        QByteArray frame(length, '\0');
        frame[0] = '\xFF';
        frame[1] = '\xFB';                            // MPEG-1, layer III, no CRC
        frame[2] = char(0x90 | (padding ? 0x02 : 0)); // 128 kbit/s, 44.1 kHz
        frame[3] = '\x44';                            // joint stereo, original
        out += frame;
    }
    return out;
}

QByteArray readmeText()
{
    return QByteArrayLiteral("ZV recorder simulator demo tree.\r\n"
                             "This file is no recording: asking for its details gives format 0.\r\n");
}

QByteArray demoFileBytes(const DemoFile &file, const QDateTime &when)
{
    WavWriter::Format format;
    format.sampleRate = file.sampleRate;
    format.bits = file.bits;
    format.channels = file.channels;
    const int frames = int(qint64(file.sampleRate) * file.millis / 1000);
    switch (file.kind) {
    case Kind::Wav:
        return WavWriter::file(format, frames, file.frequency);
    case Kind::Bwf:
        return WavWriter::file(format, frames, file.frequency,
                               WavWriter::bextBody(format, QFileInfo(QString::fromUtf8(file.path)).baseName(), when));
    case Kind::Mp3:
        return mp3File(file.millis);
    case Kind::Text:
        return readmeText();
    }
    return QByteArray();
}

// Folders too get fixed times; Qt only sets them on open files.
void setFolderModified(const QString &path, const QDateTime &when)
{
#ifdef Q_OS_UNIX
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(when.toSecsSinceEpoch());
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
#else
    Q_UNUSED(path)
    Q_UNUSED(when)
#endif
}

bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &when)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        qCWarning(lcSim) << "sim: cannot write" << path << file.errorString();
        return false;
    }
    // Flushed first: a small file's bytes would otherwise reach the disk at
    // close and stamp it with the time of writing.
    file.flush();
    file.setFileTime(when, QFileDevice::FileModificationTime);
    return true;
}

bool writeTree(const QString &root, const DemoFile *files, int count, const char *const *emptyFolders, int emptyCount,
               int *fileNumber)
{
    QDir dir(root);
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    for (int i = 0; i < emptyCount; ++i) {
        if (!dir.mkpath(QString::fromUtf8(emptyFolders[i])))
            return false;
    }
    for (int i = 0; i < count; ++i) {
        const QString relative = QString::fromUtf8(files[i].path);
        const QString path = dir.filePath(relative);
        if (!dir.mkpath(QFileInfo(relative).path()))
            return false;
        const QDateTime when = firstTime.addSecs(qint64(++*fileNumber) * SecondsBetweenFiles);
        if (!writeFile(path, demoFileBytes(files[i], when), when))
            return false;
    }
    return true;
}

// Deepest folders first, so setting a parent's time comes after its children.
void fixFolderTimes(const QString &root)
{
    QStringList folders;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders.append(it.next());
    std::sort(folders.begin(), folders.end(),
              [](const QString &a, const QString &b) { return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/')); });
    int n = 0;
    for (const QString &folder : qAsConst(folders))
        setFolderModified(folder, firstTime.addSecs(qint64(++n) * 60));
}

quint64 nextRandom(quint64 *state)
{
    // xorshift64*
    *state ^= *state >> 12;
    *state ^= *state << 25;
    *state ^= *state >> 27;
    return *state * 0x2545F4914F6CDD1DULL;
}
} // namespace

QString DemoTree::manyFileName(int number)
{
    return QStringLiteral("M%1.WAV").arg(number, 5, 10, QLatin1Char('0'));
}

bool DemoTree::generate(const QString &baseDirectory, const Options &options)
{
    const QDir base(baseDirectory);
    musicPath = base.absoluteFilePath(QStringLiteral("MUSIC"));
    mtrPath = base.absoluteFilePath(QStringLiteral("MTR"));
    int fileNumber = 0;
    if (!writeTree(musicPath, musicFiles, int(std::size(musicFiles)), musicEmptyFolders,
                   int(std::size(musicEmptyFolders)), &fileNumber)
        || !writeTree(mtrPath, mtrFiles, int(std::size(mtrFiles)), mtrEmptyFolders, int(std::size(mtrEmptyFolders)),
                      &fileNumber)) {
        qCWarning(lcSim) << "sim: cannot create the demo tree in" << baseDirectory;
        return false;
    }
    if (options.bigFileSize > 0
        && !writeBigFile(QDir(musicPath).filePath(bigFileName()), qMin(options.bigFileSize, MaxBigFileSize)))
        return false;
    if (options.manyFiles > 0
        && !writeManyFiles(QDir(musicPath).filePath(manyFolderName()), qMin(options.manyFiles, MaxManyFiles)))
        return false;
    fixFolderTimes(musicPath);
    fixFolderTimes(mtrPath);
    return true;
}

// A WAV header, then a sparse body: zeros (silence) with a block of
// deterministic noise every MiB, so a misplaced byte shows in a comparison.
bool DemoTree::writeBigFile(const QString &path, qint64 size)
{
    WavWriter::Format format;
    const QByteArray header = WavWriter::header(format, 0);
    size = qMax<qint64>(size, header.size());
    const QDateTime when = firstTime.addDays(1);
    if (QFileInfo(path).size() == size)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcSim) << "sim: cannot create" << path << file.errorString();
        return false;
    }
    const qint64 dataBytes = size - header.size();
    bool ok = file.write(WavWriter::header(format, dataBytes - dataBytes % format.blockAlign())) == header.size()
        && file.resize(size);
    QByteArray noise(NoiseBlock, Qt::Uninitialized);
    for (qint64 at = NoiseOffset; ok && at < size; at += NoiseStride) {
        quint64 state = quint64(at / NoiseStride + 1) * 0x9E3779B97F4A7C15ULL;
        for (int i = 0; i < NoiseBlock; i += 8)
            qToLittleEndian<quint64>(nextRandom(&state), noise.data() + i);
        const qint64 length = qMin<qint64>(NoiseBlock, size - at);
        ok = file.seek(at) && file.write(noise.constData(), length) == length;
    }
    ok = ok && file.setFileTime(when, QFileDevice::FileModificationTime);
    if (!ok)
        qCWarning(lcSim) << "sim: cannot write" << path << file.errorString();
    return ok;
}

bool DemoTree::writeManyFiles(const QString &folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    WavWriter::Format format;
    format.sampleRate = 8000;
    format.channels = 1;
    const int fileSize = WavWriter::header(format, 0).size() + ManyFrames * format.blockAlign();
    const QDateTime when = firstTime.addDays(2);
    for (int n = 1; n <= count; ++n) {
        const QString path = folder + QLatin1Char('/') + manyFileName(n);
        if (QFileInfo(path).size() == fileSize)
            continue;
        if (!writeFile(path, WavWriter::file(format, ManyFrames, 100.0 + n % 3000), when))
            return false;
    }
    return true;
}
