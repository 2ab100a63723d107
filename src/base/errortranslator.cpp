#include "base/errortranslator.h"

QString ErrorTranslator::getCodeText(AppErrorCode code, int param1, int param2)
{
    return QStringLiteral("code : E%1-%2-%3").arg(static_cast<int>(code)).arg(param1).arg(param2);
}
