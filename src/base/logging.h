#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// One category per layer, so a user can switch layers on and off with
// QT_LOGGING_RULES (e.g. "zv.net.debug=true"). The message texts carry the
// layer prefix themselves ("net: ...").
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcCommand)
Q_DECLARE_LOGGING_CATEGORY(lcController)
Q_DECLARE_LOGGING_CATEGORY(lcDownload)

// The message log of a program: called first in every main. Lines print as
// the message alone, so each begins with its layer's prefix (unless
// QT_MESSAGE_PATTERN asks for another form); the per-packet debug lines of
// the zv.* categories are off unless QT_LOGGING_RULES turns them on; and a
// run of identical lines prints as the first one followed by
// "… repeated N times" (N more of them) when the run ends or the program
// exits, so a flood costs neither memory nor output.
void setupMessageLog();

// Ends the current run of identical lines now (prints its count).
void flushMessageLog();

#endif // LOGGING_H
