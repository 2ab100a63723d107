#ifndef LISTCOMMAND_H
#define LISTCOMMAND_H

#include <QString>

class RecorderSession;

// "list": the entries of a folder, as a table or as JSON.
class ListCommand
{
public:
    struct Options
    {
        QString path; // the folder, "/"-separated; empty: the current one
        bool json = false;
        bool bytes = false; // sizes in bytes
    };

    ListCommand(RecorderSession &session, const Options &options);

    // Runs on an opened session; the exit code.
    int run();

private:
    void printJson();

    RecorderSession &session;
    const Options options;
};

#endif // LISTCOMMAND_H
