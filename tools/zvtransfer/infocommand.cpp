#include "infocommand.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "base/detailtext.h"
#include "console.h"
#include "exitcode.h"
#include "sessionrun.h"

namespace {
// What the listing tells; a file without audio details has format null.
QJsonObject listingAsJson(const RecorderSession::Entry &e)
{
    return {
        {"name", e.name}, {"date", Console::isoDate(e.dateTime)}, {"size", double(e.size)}, {"format", QJsonValue()}};
}

QJsonObject detailAsJson(const RecorderSession::Entry &e, const RecorderSession::Detail &detail)
{
    QJsonObject object = listingAsJson(e);
    object.insert(QStringLiteral("format"),
                  detail.format == FormatMP3       ? "MP3"
                      : detail.format == FormatBWF ? "BWF"
                                                   : "WAV");
    object.insert(QStringLiteral("sampleRate"), double(detail.sampleRate));
    object.insert(QStringLiteral("samples"), double(detail.samples));
    // An MP3's "bits" is its bit rate.
    object.insert(detail.format == FormatMP3 ? QStringLiteral("bitRate") : QStringLiteral("bits"), double(detail.bits));
    object.insert(QStringLiteral("seconds"),
                  detail.sampleRate ? QJsonValue(double(detail.samples) / detail.sampleRate) : QJsonValue());
    return object;
}
} // namespace

InfoCommand::InfoCommand(RecorderSession &session, const Options &options)
    : session(session)
    , options(options)
{
}

int InfoCommand::run()
{
    if (const auto early = SessionRun::enterFolder(session, options.path))
        return *early;
    for (const auto &e : session.entries()) {
        if (!e.isFolder && e.name == options.name)
            return show(e);
    }
    Console::err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(Console::visibleName(options.name)));
    return ExitNothingMatched;
}

// The listing's lines come first: they stand even when the recorder does
// not answer the detail request.
int InfoCommand::show(const RecorderSession::Entry &e)
{
    RecorderSession::Detail detail;
    if (!options.json) {
        Console::out(
            QStringLiteral("%1\n%2\n%3\n")
                .arg(Console::visibleName(e.name), DetailText::dateText(e.dateTime), DetailText::sizeText(e.size)));
    }
    const auto result = session.fileDetail(e.index, &detail);
    const bool hadErrors = !session.errors().isEmpty();
    Console::printErrors(session.errors());
    switch (result) {
    case RecorderSession::DetailResult::Answered:
        break;
    case RecorderSession::DetailResult::NoAudioDetails:
        // A file that is not a recording (a text file beside them).
        if (options.json)
            Console::outJson(QJsonDocument(listingAsJson(e)));
        else
            Console::out(QStringLiteral("no audio details\n"));
        return ExitDone;
    case RecorderSession::DetailResult::Failed:
        if (!hadErrors && !session.interruption())
            Console::err(QStringLiteral("zv-transfer: the recorder did not answer the detail request"));
        return ExitSomeFailed;
    }
    if (options.json) {
        Console::outJson(QJsonDocument(detailAsJson(e, detail)));
        return ExitDone;
    }
    Console::out(QStringLiteral("%1\n%2\n")
                     .arg(DetailText::formatText(detail.format, detail.sampleRate, detail.bits),
                          DetailText::lengthText(detail.samples, detail.sampleRate)));
    return ExitDone;
}
