#include "app/logging.h"

Q_LOGGING_CATEGORY(lcNet, "zv.net")
Q_LOGGING_CATEGORY(lcCommand, "zv.command")
Q_LOGGING_CATEGORY(lcController, "zv.controller")
Q_LOGGING_CATEGORY(lcDownload, "zv.download")
