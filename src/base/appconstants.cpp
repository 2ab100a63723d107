#include "base/appconstants.h"

const QString ApplicationName = QStringLiteral("PALVEN ZV FILE TRANSFER");
const QString ApplicationVersion = QStringLiteral("1.00");
const QString ApplicationBuild = QStringLiteral("13");
