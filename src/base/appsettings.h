#ifndef APPSETTINGS_H
#define APPSETTINGS_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include "base/samenameoption.h"

class QSettings;

// The user's three settings (network name, default save folder, same-name
// rule), kept in the per-user INI file between runs. The one place that
// knows the file's name and keys: the window, zv-transfer and the tests all
// read and write the settings through it. GUI thread only.
class AppSettings : public QObject
{
    Q_OBJECT
public:
    enum class Key { SSID, SaveDirectory, SameOption };

    explicit AppSettings(QObject *parent = nullptr);
    ~AppSettings() override;

    QString getSSID() const;
    QString getSaveDirectory() const;
    // The stored rule; a number of 4 or more (or a non-number) reads as
    // SaveNewer, a negative number is returned as it stands.
    SameNameOption getSameOption() const;

    void setSSID(const QString &ssid);
    void setSaveDirectory(const QString &directory);
    void setSameOption(SameNameOption option);

    // The window's place and size as QWidget::saveGeometry() gives them, in
    // a group of its own beside the user's settings; empty on a first run.
    QByteArray getWindowGeometry() const;
    void setWindowGeometry(const QByteArray &geometry);

    // Stores `value` as it stands, past the setters' types (a rule of 7, a
    // word): what another program or an older version may have left.
    void setStoredValue(Key key, const QVariant &value);
    // Forgets every setting, as on a first run.
    void clear();

private:
    QSettings *settings;
};

#endif // APPSETTINGS_H
