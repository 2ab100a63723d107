#ifndef APPSETTINGS_H
#define APPSETTINGS_H

#include <QObject>
#include <QString>

#include "base/samenameoption.h"

class QSettings;

// The user's three settings (network name, default save folder, same-name
// rule), kept in the per-user INI file between runs. GUI thread only.
class AppSettings : public QObject
{
    Q_OBJECT
public:
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

private:
    QSettings *settings;
};

#endif // APPSETTINGS_H
