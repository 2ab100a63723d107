#include "ui/desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString Method = QStringLiteral("Notify");
// The server's own default time on screen.
constexpr int DefaultExpiry = -1;
} // namespace

DesktopNotifier::DesktopNotifier(const QString &applicationName, QObject *parent)
    : QObject(parent)
    , applicationName(applicationName)
{
}

// Without an address the bus library may try to start a bus of its own
// (X11 autolaunch); the program never does that.
bool DesktopNotifier::hasSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!hasSessionBus())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, Method);
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints;
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    message << applicationName << uint(0) << desktopEntry << summary << body << QStringList() << hints << DefaultExpiry;
    // No reply is awaited: a bus without a notification server costs nothing.
    return bus.send(message);
}
