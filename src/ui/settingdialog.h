#ifndef SETTINGDIALOG_H
#define SETTINGDIALOG_H

#include <QDialog>
#include <QString>

#include "base/samenameoption.h"

namespace Ui {
class settingDialog;
}

// Modal dialog editing the network name, the default save folder and the
// same-name rule; also shows the version. The caller fills it, runs it and
// reads it back only when it was accepted.
class SettingDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingDialog(QWidget *parent = nullptr);
    ~SettingDialog() override;

    void setSSID(const QString &ssid);
    void setSaveDirectory(const QString &directory);
    // Checks the rule's radio button; a value outside the rules is logged
    // and changes nothing.
    void setSameFileOption(SameNameOption option);

    QString getSSID() const;
    QString getSaveDirectory() const;
    SameNameOption getSameFileOption() const;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_toolButtonSelectDirectory_clicked();

private:
    Ui::settingDialog *ui;
};

#endif // SETTINGDIALOG_H
