#include "listcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/detailtext.h"
#include "console.h"
#include "exitcode.h"
#include "recordersession.h"
#include "sessionrun.h"

ListCommand::ListCommand(RecorderSession &session, const Options &options)
    : session(session)
    , options(options)
{
}

int ListCommand::run()
{
    if (const auto early = SessionRun::enterFolder(session, options.path))
        return *early;
    if (options.json) {
        printJson();
        return ExitDone;
    }
    const int sizeWidth = options.bytes ? 14 : 10;
    Console::out(
        QStringLiteral("%1  %2  %3  %4\n").arg("TYPE", -6).arg("DATE", -19).arg("SIZE", sizeWidth).arg("NAME"));
    for (const auto &e : session.entries()) {
        const QString size = e.isFolder ? QString()
            : options.bytes             ? QString::number(e.size)
                                        : Console::humanBytes(double(e.size));
        Console::out(QStringLiteral("%1  %2  %3  %4\n")
                         .arg(e.isFolder ? QStringLiteral("folder") : QStringLiteral("file"), -6)
                         .arg(e.dateTime.isValid() ? DetailText::dateText(e.dateTime) : QStringLiteral("-"), -19)
                         .arg(size, sizeWidth)
                         .arg(Console::visibleName(e.name)));
    }
    return ExitDone;
}

// The recorder's own row numbers stay out of the JSON: they change with
// every listing and no other command takes them.
void ListCommand::printJson()
{
    QJsonArray array;
    for (const auto &e : session.entries()) {
        array.append(QJsonObject{{"name", e.name},
                                 {"folder", e.isFolder},
                                 {"size", double(e.size)},
                                 {"date", Console::isoDate(e.dateTime)}});
    }
    Console::outJson(QJsonDocument(array));
}
