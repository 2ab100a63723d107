#ifndef ZVFILEFORMAT_H
#define ZVFILEFORMAT_H

#include <QMetaType>

// A recording's format as the recorder reports it in a file-detail reply.
enum ZVFileFormat : quint8 {
    FormatMP3 = 1, // the detail's "bits" is the bit rate in bit/s
    FormatWAV = 2, // the detail's "bits" is bits per sample
    FormatBWF = 3,
};
Q_DECLARE_METATYPE(ZVFileFormat)

#endif // ZVFILEFORMAT_H
