#ifndef DESKTOPNOTIFIER_H
#define DESKTOPNOTIFIER_H

#include <QObject>
#include <QString>

// Shows a short message on the desktop through the freedesktop
// notification service, on the session bus. Where no session bus is
// reachable, nothing is shown and nothing waits: the message is sent
// without waiting for an answer.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    // `applicationName` is what the desktop shows as the sender; the icon
    // comes from the program's desktop entry.
    explicit DesktopNotifier(const QString &applicationName, QObject *parent = nullptr);

    // True when the message was handed to the session bus.
    bool notify(const QString &summary, const QString &body);

    // A session bus is configured for this process (never starts one).
    static bool hasSessionBus();

private:
    QString applicationName;
};

#endif // DESKTOPNOTIFIER_H
