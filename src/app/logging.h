#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// One category per layer, so a user can switch layers on and off with
// QT_LOGGING_RULES (e.g. "zv.net.debug=false"). The message texts carry the
// layer prefix themselves ("net: ...").
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcCommand)
Q_DECLARE_LOGGING_CATEGORY(lcController)
Q_DECLARE_LOGGING_CATEGORY(lcDownload)

#endif // LOGGING_H
