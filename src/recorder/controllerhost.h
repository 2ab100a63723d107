#ifndef CONTROLLERHOST_H
#define CONTROLLERHOST_H

#include <QObject>

#include "base/threadjoin.h"

class ProgressRelay;
class QThread;
class ZVController;

// Runs a ZVController on a worker thread of its own: creates the controller,
// moves it to the thread, makes the progress relay, starts the thread and
// stops it again so that ThreadSanitizer sees the join. Used by the window,
// zv-transfer, the tests and the benchmarks; each makes its own connections
// to the controller, after the relay (see ProgressRelay).
//
// The thread and the relay are children of the host's parent (the window
// keeps its worker thread among its own children), or of the host when it
// has none. The controller goes with its thread: its socket is closed and an
// unfinished download file is flushed and closed on the worker thread.
class ControllerHost : public QObject
{
    Q_OBJECT
public:
    // No relay: the byte counts come only as the controller's own signal.
    static constexpr int NoRelay = 0;

    // A relay re-emits the controller's byte counts at most every
    // `progressIntervalMs` (none for NoRelay).
    explicit ControllerHost(int progressIntervalMs = NoRelay, QObject *parent = nullptr);
    // Stops the worker without a time limit, unless stop() ran already.
    ~ControllerHost() override;

    ZVController *controller() const { return worker; }
    QThread *thread() const { return workerThread; }
    // Null for NoRelay.
    ProgressRelay *progressRelay() const { return relay; }

    void start();
    // Ends the link, then lets the worker's event loop end and waits at most
    // `boundMs` for it. True when it ended (or never started). False when it
    // is still busy (stuck in a long pause or call): the thread, the
    // controller on it and the relay it feeds are then deliberately left
    // behind without a parent, to go once the thread ends by itself, or with
    // the process. Only the first call does anything; later ones repeat its
    // result.
    bool stop(unsigned long boundMs = ThreadJoin::Unbounded);

signals:
    // Queued onto the worker thread; a controller that is gone no longer
    // hears it.
    void endLink();

private:
    void leaveBehind();

    ZVController *worker;
    QThread *workerThread;
    ProgressRelay *relay = nullptr;
    bool stopped = false;
    bool joined = false;
};

#endif // CONTROLLERHOST_H
