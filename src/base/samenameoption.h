#ifndef SAMENAMEOPTION_H
#define SAMENAMEOPTION_H

#include <QMetaType>

// What a download does when a file of the target's name already exists.
enum SameNameOption {
    SaveNewer = 0,     // skip when the existing file has the listed size, else overwrite
    SaveOverwrite = 1, // always overwrite
    SaveRename = 2,    // write under the first free "name(N).ext"
    SaveNoWrite = 3,   // keep the old file, skip the recording
};
Q_DECLARE_METATYPE(SameNameOption)

#endif // SAMENAMEOPTION_H
