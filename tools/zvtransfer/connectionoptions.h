#ifndef CONNECTIONOPTIONS_H
#define CONNECTIONOPTIONS_H

#include <QString>
#include <optional>

#include "base/zvrecordmode.h"

// How a run reaches the recorder and what it expects of the link: the
// options every command shares.
struct ConnectionOptions
{
    static constexpr int DefaultTimeoutSeconds = 30;

    QString host;
    int timeoutSeconds = DefaultTimeoutSeconds;
    qint64 minRate = 0; // bytes a second, 0: no minimum
    int rateWindowSeconds = 0;
    // The tree named by --mtr or --music, switched to once connected; none:
    // the one the recorder is on.
    std::optional<ZVRecordMode> tree;
};

#endif // CONNECTIONOPTIONS_H
