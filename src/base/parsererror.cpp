#include "base/parsererror.h"

#include <QCommandLineParser>

namespace {

// The dashes `name` was typed with; a name Qt took out of a bundle of short
// options ("-xy") is shown with one.
QString typedName(const QString &name, const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        for (const QString &dashes : {QStringLiteral("--"), QStringLiteral("-")}) {
            const QString typed = dashes + name;
            if (argument == typed || argument.startsWith(typed + QLatin1Char('=')))
                return typed;
        }
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

} // namespace

QString parserError(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    QStringList typed;
    for (const QString &name : unknown)
        typed << QLatin1Char('\'') + typedName(name, arguments) + QLatin1Char('\'');
    return unknown.size() == 1 ? QStringLiteral("Unknown option %1.").arg(typed.first())
                               : QStringLiteral("Unknown options: %1.").arg(typed.join(QStringLiteral(", ")));
}
