#ifndef APPCONSTANTS_H
#define APPCONSTANTS_H

#include <QString>

// Display name, version and build of the program: the window title and the
// settings dialog's version line are made of these.
extern const QString ApplicationName;
extern const QString ApplicationVersion;
extern const QString ApplicationBuild;

#endif // APPCONSTANTS_H
