#ifndef ERRORTRANSLATOR_H
#define ERRORTRANSLATOR_H

#include <QObject>
#include <QString>

#include "base/apperrorcode.h"

class ErrorTranslator : public QObject
{
    Q_OBJECT
public:
    // "code : E<code>-<param1>-<param2>", every number in plain signed decimal.
    static QString getCodeText(AppErrorCode code, int param1, int param2);

private:
    ErrorTranslator() = delete;
};

#endif // ERRORTRANSLATOR_H
