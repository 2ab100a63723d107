#ifndef WATCHCOMMAND_H
#define WATCHCOMMAND_H

#include <QObject>
#include <QString>

#include "connectionoptions.h"
#include "treecommand.h"

class SignalCatcher;

// "sync --watch": waits for the recorder to appear on the network (checked
// as often as the window looks for it), syncs, lets the link go so that the
// window may have it, waits for the recorder to leave and to come back, and
// so on until SIGINT or SIGTERM. One dated line per event.
class WatchCommand : public QObject
{
    Q_OBJECT
public:
    // Overrides the interval between two looks for the recorder.
    static constexpr char PollEnvironment[] = "ZV_TRANSFER_POLL_MS";

    // `sync`: what each sync does, as a single sync would.
    WatchCommand(const ConnectionOptions &connection, const TreeCommand::Options &sync, SignalCatcher &catcher,
                 QObject *parent = nullptr);

    // The exit code: 0 for a signal between two syncs, 128 + its number for
    // one during a sync.
    int run();

private:
    // Whether the recorder takes a connection now; the connection is
    // closed at once.
    bool present();
    // Looks every poll interval until the recorder's presence is `wanted`;
    // false when a signal came first.
    bool waitUntilPresent(bool wanted);
    // One sync on a link of its own; false when it could not open the link.
    bool syncOnce(int *code);
    void event(const QString &text);
    // Whether a signal came; read from the catcher itself, so that one that
    // came while nothing waited counts too.
    static bool signalled();

    const ConnectionOptions connection;
    const TreeCommand::Options sync;
    SignalCatcher &catcher;
    int pollMs;
};

#endif // WATCHCOMMAND_H
