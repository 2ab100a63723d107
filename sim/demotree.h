#ifndef DEMOTREE_H
#define DEMOTREE_H

#include <QString>
#include <QtGlobal>

// The built-in demo content: a music tree and a multitrack tree of short
// recordings, generated on disk so the simulator serves them like any other
// directory and tests can compare downloads with the source files.
//
// <base>/MUSIC
//   ZV_0001.WAV          48 kHz 16-bit stereo, 2.5 s
//   ZV_0002.WAV          48 kHz 24-bit stereo, 4 s
//   ZV_0003_BWF.WAV      48 kHz 24-bit stereo, 3 s, with a bext chunk
//   ZV_0004.MP3          MPEG-1 layer III 128 kbit/s 44.1 kHz, 192 frames of silence, ID3v2 tag
//   README.TXT           no audio
//   FOLDER01/TAKE_44k16.WAV   44.1 kHz 16-bit stereo, 2 s
//   FOLDER01/TAKE_96k24.WAV   96 kHz 24-bit stereo, 1.5 s
//   Übung/Café_take.WAV       48 kHz 24-bit mono, 3 s
//   Übung/Tonleiter.WAV       44.1 kHz 16-bit mono, 1 s
//   録音/テイク1.WAV            44.1 kHz 16-bit mono, 1 s
//   録音/ライブ_BWF.WAV         44.1 kHz 24-bit mono, 1.2 s, bext
//   NESTED/DEEPER/DEEP.WAV    96 kHz 16-bit mono, 0.5 s
//   EMPTY/                    no entries
//   BIG_FILE.WAV         only with a big-file size: 48 kHz 16-bit stereo header,
//                        sparse body with a 4 KiB noise block every MiB
//   MANY/M00001.WAV ...  only with a many-files count: 8 kHz 16-bit mono, 8 samples each
// <base>/MTR
//   SONG0001/TRACK01.WAV .. TRACK04.WAV   48 kHz 24-bit mono, 2 s
//   SONG0002/TRACK01.WAV, TRACK02.WAV     44.1 kHz 24-bit mono BWF, 1 s
//   SONG0003/                             no tracks yet
//
// Files get fixed modification times (from 2024-05-17 09:30 local time), so
// listings are the same on every run. Generation into an existing directory
// refreshes the small files and keeps a big file or many-files entry that
// already has the right size.
class DemoTree
{
public:
    struct Options
    {
        qint64 bigFileSize = 0; // 0: no big file; at most 0xFFFFFFFF
        int manyFiles = 0;      // 0: no MANY folder; at most 65535
    };

    static constexpr qint64 MaxBigFileSize = 0xFFFFFFFF;
    static constexpr int MaxManyFiles = 0xFFFF;

    bool generate(const QString &baseDirectory, const Options &options);

    QString musicRoot() const { return musicPath; }
    QString mtrRoot() const { return mtrPath; }

    static QString bigFileName() { return QStringLiteral("BIG_FILE.WAV"); }
    static QString manyFolderName() { return QStringLiteral("MANY"); }
    // Name of the n-th file (from 1) of the MANY folder.
    static QString manyFileName(int number);

private:
    bool writeBigFile(const QString &path, qint64 size);
    bool writeManyFiles(const QString &folder, int count);

    QString musicPath;
    QString mtrPath;
};

#endif // DEMOTREE_H
