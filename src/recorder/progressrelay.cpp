#include "recorder/progressrelay.h"

#include <QMetaMethod>

ProgressRelay::ProgressRelay(QObject *sender, const char *progressSignal, int intervalMs, QObject *parent)
    : QObject(parent)
    , current(std::make_shared<Slot>())
{
    intervalTimer.setSingleShot(true);
    intervalTimer.setInterval(intervalMs);
    connect(&intervalTimer, &QTimer::timeout, this, &ProgressRelay::tick);

    const QMetaObject *senderMeta = sender->metaObject();
    const QMetaObject *relayMeta = metaObject();
    const int progressIndex = senderMeta->indexOfSignal(progressSignal);
    Q_ASSERT_X(progressIndex >= 0, "ProgressRelay", progressSignal);
    const QMetaMethod takeMethod = relayMeta->method(relayMeta->indexOfSlot("take(qulonglong)"));
    const QMetaMethod sealMethod = relayMeta->method(relayMeta->indexOfSlot("seal()"));

    // QObject's own signals (destroyed, objectNameChanged) are not part of
    // the sender's conversation and may come from any thread.
    for (int i = QObject::staticMetaObject.methodCount(); i < senderMeta->methodCount(); ++i) {
        const QMetaMethod method = senderMeta->method(i);
        if (method.methodType() != QMetaMethod::Signal)
            continue;
        connect(sender, method, this, i == progressIndex ? takeMethod : sealMethod, Qt::DirectConnection);
    }
}

void ProgressRelay::take(qulonglong bytes)
{
    const quint64 before = current->state.exchange(quint64(bytes) << 2 | Dirty | Owned, std::memory_order_acq_rel);
    if (before & Owned)
        return; // this thread's owner delivers it
    QMetaObject::invokeMethod(
        this, [this, slot = current] { arrived(slot); }, Qt::QueuedConnection);
}

void ProgressRelay::seal()
{
    if (!(current->state.load(std::memory_order_acquire) & Dirty))
        return;
    // The undelivered count goes out ahead of the signal being emitted; later
    // counts start a slot of their own.
    QMetaObject::invokeMethod(
        this, [this, slot = current] { flush(slot); }, Qt::QueuedConnection);
    current = std::make_shared<Slot>();
}

bool ProgressRelay::deliver(Slot &slot)
{
    const quint64 before = slot.state.fetch_and(~Dirty, std::memory_order_acq_rel);
    if (!(before & Dirty))
        return false;
    emit progress(qulonglong(before >> 2));
    return true;
}

void ProgressRelay::arrived(const std::shared_ptr<Slot> &slot)
{
    deliver(*slot);
    held = slot;
    intervalTimer.start();
}

void ProgressRelay::flush(const std::shared_ptr<Slot> &slot)
{
    deliver(*slot);
    if (held == slot) {
        held.reset();
        intervalTimer.stop();
    }
}

void ProgressRelay::tick()
{
    if (!held)
        return;
    quint64 state = held->state.load(std::memory_order_acquire);
    for (;;) {
        if (state & Dirty) {
            if (deliver(*held))
                intervalTimer.start();
            return;
        }
        // Nothing new within the interval: hand the slot back, so that the
        // next count is posted (and shown) at once.
        if (held->state.compare_exchange_weak(state, state & ~Owned, std::memory_order_acq_rel)) {
            held.reset();
            return;
        }
    }
}
