#ifndef SIMLOGGING_H
#define SIMLOGGING_H

#include <QLoggingCategory>

// The simulator's own category ("zv.sim"); every message text starts with
// "sim: " so its lines stand out among the client's in a shared log.
Q_DECLARE_LOGGING_CATEGORY(lcSim)

#endif // SIMLOGGING_H
