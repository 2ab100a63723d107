#ifndef SIGNALCATCHER_H
#define SIGNALCATCHER_H

#include <QObject>
#include <functional>

// SIGINT and SIGTERM for the whole program, caught from the first line of
// main() on, so that no signal finds the default action or a handler that
// cannot wake anyone. The handler notes the signal at once (caught(),
// readable at any time, also after the last wait of a run) and wakes the
// main thread; the one SignalCatcher object then hands it to whoever
// listens.
//
// How the main thread is woken differs by build: a self-pipe watched by a
// QSocketNotifier wakes the event loop at once (signalcatcher_posix.cpp);
// with ZV_QT_ONLY, which has neither pipes nor sigaction, standard C++
// handlers note the signal and a short timer looks for it
// (signalcatcher_qt.cpp).
class SignalCatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; called first in main(), before any thread.
    static void install();
    // The first signal caught so far, 0 for none.
    static int caught();

    // One per program, once the application object exists.
    explicit SignalCatcher(QObject *parent = nullptr);
    ~SignalCatcher() override;

    // Calls `handler` with each signal from now on, on this thread, while
    // `context` lives; at once when signals came before it listened.
    void listen(QObject *context, const std::function<void(int)> &handler);

signals:
    void signalled(int signal);

private:
    // What the handler does besides waking the main thread; touches only
    // lock-free atomics.
    static void note(int signal);
    static void onSignal(int signal);
    // Makes deliver() run on this thread once a signal came.
    void startWaking();
    // Takes the wake-ups that came so far.
    static void drainWakeUps();
    void deliver();

    int delivered = 0;
};

#endif // SIGNALCATCHER_H
