#include "recorder/controllerhost.h"

#include <QThread>

#include "recorder/zvcontroller.h"

ControllerHost::ControllerHost(int progressIntervalMs, QObject *parent)
    : QObject(parent)
    , worker(new ZVController)
    , workerThread(new QThread(parent ? parent : this))
{
    worker->setProgressInterval(progressIntervalMs);
    worker->moveToThread(workerThread);
    connect(workerThread, &QThread::started, worker, &ZVController::doWork);
    connect(workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &ControllerHost::endLink, worker, &ZVController::requestDisconnect);
    watchThreadEnd(workerThread);
}

ControllerHost::~ControllerHost()
{
    stop();
}

void ControllerHost::start()
{
    workerThread->start(QThread::InheritPriority);
}

bool ControllerHost::stop(unsigned long boundMs)
{
    if (stopped)
        return joined;
    stopped = true;
    if (!workerThread->isRunning() && !workerThread->isFinished()) {
        // Never started: the controller has not run anywhere and goes now.
        delete worker;
        joined = true;
        return true;
    }
    // End the link first, so that nothing more arrives for the worker to
    // handle, then let its event loop end.
    emit endLink();
    joined = stopThread(workerThread, boundMs);
    if (!joined)
        leaveBehind();
    return joined;
}

// A QThread destroyed while it runs aborts the process, so the thread object
// outlives the worker.
void ControllerHost::leaveBehind()
{
    workerThread->setParent(nullptr);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);
}
