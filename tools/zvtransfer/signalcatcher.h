#ifndef SIGNALCATCHER_H
#define SIGNALCATCHER_H

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGINT and SIGTERM for the whole program, caught from the first line of
// main() on, so that no signal finds the default action or a handler without
// its pipe. The handler notes the signal at once (caught(), readable at any
// time, also after the last wait of a run) and writes it into a self-pipe
// that wakes the event loop; the one SignalCatcher object then hands it to
// whoever listens.
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
    void deliver();

    QSocketNotifier *notifier = nullptr;
    int delivered = 0;
};

#endif // SIGNALCATCHER_H
