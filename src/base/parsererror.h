#ifndef PARSERERROR_H
#define PARSERERROR_H

#include <QString>
#include <QStringList>

class QCommandLineParser;

// What went wrong in QCommandLineParser::parse(`arguments`), with an unknown
// option named as it was typed ("--bogus", "-x"), where Qt's own text names
// it bare ("'bogus'"). The three programs say it the same way.
QString parserError(const QCommandLineParser &parser, const QStringList &arguments);

#endif // PARSERERROR_H
