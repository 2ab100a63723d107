#ifndef INFOCOMMAND_H
#define INFOCOMMAND_H

#include <QString>

#include "recordersession.h"

// "info": the details of one recording (format, rate, length), as the
// window shows them or as JSON.
class InfoCommand
{
public:
    struct Options
    {
        QString path; // its folder, "/"-separated; empty: the current one
        QString name;
        bool json = false;
    };

    InfoCommand(RecorderSession &session, const Options &options);

    // Runs on an opened session; the exit code.
    int run();

private:
    int show(const RecorderSession::Entry &entry);

    RecorderSession &session;
    const Options options;
};

#endif // INFOCOMMAND_H
