#ifndef ZVRECORDMODE_H
#define ZVRECORDMODE_H

#include <QMetaType>

// The recorder's folder tree being browsed.
enum ZVRecordMode : quint8 {
    RecordModeMusic = 0,
    RecordModeMTR = 1,
};
Q_DECLARE_METATYPE(ZVRecordMode)

#endif // ZVRECORDMODE_H
