#ifndef CONTROLLERHOST_H
#define CONTROLLERHOST_H

#include <QObject>

#include "base/threadjoin.h"

class QThread;
class ZVController;

// Runs a ZVController on a worker thread of its own: creates the controller,
// sets its progress interval, moves it to the thread, starts the thread and
// stops it again so that ThreadSanitizer sees the join. Used by the window,
// zv-transfer, the tests and the benchmarks; each makes its own connections
// to the controller.
//
// The thread is a child of the host's parent (the window keeps its worker
// thread among its own children), or of the host when it has none. The
// controller goes with its thread: its socket is closed and an unfinished
// download file is flushed and closed on the worker thread.
class ControllerHost : public QObject
{
    Q_OBJECT
public:
    // Every byte count is sent, one signal per data packet.
    static constexpr int EveryCount = 0;

    // The controller sends byte counts at most every `progressIntervalMs`
    // (see ZVDownloadQueue).
    explicit ControllerHost(int progressIntervalMs = EveryCount, QObject *parent = nullptr);
    // Stops the worker without a time limit, unless stop() ran already.
    ~ControllerHost() override;

    ZVController *controller() const { return worker; }
    QThread *thread() const { return workerThread; }

    void start();
    // Ends the link, then lets the worker's event loop end and waits at most
    // `boundMs` for it. True when it ended (or never started). False when it
    // is still busy (stuck in a long pause or call): the thread and the
    // controller on it are then deliberately left behind without a parent, to
    // go once the thread ends by itself, or with the process. Only the first call does anything; later ones repeat its
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
    bool stopped = false;
    bool joined = false;
};

#endif // CONTROLLERHOST_H
