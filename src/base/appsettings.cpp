#include "base/appsettings.h"

#include <QSettings>

namespace {
const QString OrganizationName = QStringLiteral("PALVEN");
const QString SettingsApplicationName = QStringLiteral("ZV_FILE_TRANSFER");
const QString KeySSID = QStringLiteral("main/SSID");
const QString KeySaveDirectory = QStringLiteral("main/savedirectory");
const QString KeySameOption = QStringLiteral("main/sameoption");
const QString KeyWindowGeometry = QStringLiteral("Window/geometry");
constexpr int SameOptionLimit = 4; // one past the last SameNameOption

QString keyName(AppSettings::Key key)
{
    switch (key) {
    case AppSettings::Key::SSID:
        return KeySSID;
    case AppSettings::Key::SaveDirectory:
        return KeySaveDirectory;
    case AppSettings::Key::SameOption:
        return KeySameOption;
    }
    return QString();
}
} // namespace

AppSettings::AppSettings(QObject *parent)
    : QObject(parent)
    , settings(
          new QSettings(QSettings::IniFormat, QSettings::UserScope, OrganizationName, SettingsApplicationName, this))
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 reads and writes the file as UTF-8 text; Qt 5 would read those
    // bytes as Latin-1 and turn a save folder outside ASCII into another
    // folder. Both builds share the file, so Qt 5 uses UTF-8 too (it still
    // reads the \x escapes it wrote before).
    settings->setIniCodec("UTF-8");
#endif
}

AppSettings::~AppSettings()
{
    delete settings;
}

QString AppSettings::getSSID() const
{
    return settings->value(KeySSID, QString()).toString();
}

QString AppSettings::getSaveDirectory() const
{
    return settings->value(KeySaveDirectory, QString()).toString();
}

SameNameOption AppSettings::getSameOption() const
{
    // toInt() gives 0 for text that is not a number.
    const int value = settings->value(KeySameOption, QStringLiteral("0")).toInt();
    return value < SameOptionLimit ? SameNameOption(value) : SaveNewer;
}

void AppSettings::setSSID(const QString &ssid)
{
    settings->setValue(KeySSID, ssid);
}

void AppSettings::setSaveDirectory(const QString &directory)
{
    settings->setValue(KeySaveDirectory, directory);
}

void AppSettings::setSameOption(SameNameOption option)
{
    settings->setValue(KeySameOption, int(option));
}

QByteArray AppSettings::getWindowGeometry() const
{
    return settings->value(KeyWindowGeometry).toByteArray();
}

void AppSettings::setWindowGeometry(const QByteArray &geometry)
{
    settings->setValue(KeyWindowGeometry, geometry);
}

void AppSettings::setStoredValue(Key key, const QVariant &value)
{
    settings->setValue(keyName(key), value);
}

void AppSettings::clear()
{
    settings->clear();
}
