#include "base/appconstants.h"

#include "zvversion.h"

const QString ApplicationName = QStringLiteral("PALVEN ZV FILE TRANSFER");
const QString ApplicationVersion = QStringLiteral(ZV_VERSION_TEXT);
const QString ApplicationBuild = QStringLiteral(ZV_BUILD_TEXT);
