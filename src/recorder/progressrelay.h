#ifndef PROGRESSRELAY_H
#define PROGRESSRELAY_H

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

// Carries a byte-count signal that another thread emits once per data packet
// (ZVController::downloadProgress) to this object's thread, at a bounded rate.
//
// A queued connection posts one event per packet: at 1 KiB packets that is a
// million events per GiB, and the receiving thread, not the download, sets the
// pace. The relay instead takes each count on the sender's thread (a direct
// connection storing it in an atomic) and re-emits `progress` here: the first
// count at once, then at most one every `intervalMs` while counts keep coming.
//
// Order is kept with the sender's other signals: when the sender emits any
// other signal while a count is still undelivered, that count is posted ahead
// of it, so a receiver always sees the last count before the next file starts,
// the download finishes, is cancelled or fails. The last count is never lost.
//
// Create the relay before connecting the receiver to the sender's other
// signals (connections run in the order they were made), and destroy it only
// after the sender's thread has stopped.
class ProgressRelay : public QObject
{
    Q_OBJECT
public:
    // `progressSignal` is the normalized signature of a signal of `sender`
    // with one qulonglong argument, e.g. "downloadProgress(qulonglong)".
    ProgressRelay(QObject *sender, const char *progressSignal, int intervalMs, QObject *parent = nullptr);

signals:
    void progress(qulonglong bytes);

private slots:
    // Both run on the sender's thread.
    void take(qulonglong bytes);
    void seal();

private:
    // One count shared between the two threads: value << 2 | Dirty | Owned.
    // Dirty: not delivered yet. Owned: this thread will deliver it (an event
    // is posted or the interval timer runs); the sender posts again only
    // after this thread gave it back.
    struct Slot
    {
        std::atomic<quint64> state{0};
    };
    static constexpr quint64 Dirty = 1;
    static constexpr quint64 Owned = 2;

    void arrived(const std::shared_ptr<Slot> &slot);
    void flush(const std::shared_ptr<Slot> &slot);
    void tick();
    bool deliver(Slot &slot);

    std::shared_ptr<Slot> current; // sender's thread only
    std::shared_ptr<Slot> held;    // this thread only
    QTimer intervalTimer;
};

#endif // PROGRESSRELAY_H
