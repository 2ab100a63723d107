#include "ui/settingdialog.h"

#include <QFileDialog>
#include <QtDebug>

#include "base/appconstants.h"
#include "ui_settingdialog.h"

SettingDialog::SettingDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::settingDialog)
{
    ui->setupUi(this);

    setWindowTitle(tr("SETTINGS"));
    ui->labelSSIDBox->setText(tr("\u25A0 Connection Settings"));
    ui->labelSSID->setText(tr("SSID"));
    ui->labelSaveToBox->setText(tr("\u25A0 Default Folder for Copies"));
    ui->labelSaveDir->setText(tr("Save To"));
    ui->labelSaveTypeBox->setText(tr("\u25A0 File Copy Settings"));
    ui->groupBoxSave->setTitle(tr("When the filename already exists"));
    ui->radioButtonSaveNewer->setText(tr("Overwrite if the size is different"));
    ui->radioButtonSaveOverwrite->setText(tr("Always overwrite"));
    ui->radioButtonSaveRename->setText(tr("Create a new filename with \"(XXX)\" suffix"));
    ui->radioButtonSaveNoWrite->setText(tr("Leave old file, do not overwrite"));
    ui->labelVersionBox->setText(tr("\u25A0 Version Information"));
    ui->labelVersion->setText(
        ApplicationName + QLatin1Char('\n') + tr("Ver.%1 build %2").arg(ApplicationVersion, ApplicationBuild)
        + QLatin1Char('\n') + tr("Copyright (C) PALVEN Corporation.") + QLatin1Char('\n') + tr("All rights reserved."));

    setSameFileOption(SaveNewer);
}

SettingDialog::~SettingDialog()
{
    delete ui;
}

void SettingDialog::setSSID(const QString &ssid)
{
    ui->lineEditSSID->setText(ssid);
}

void SettingDialog::setSaveDirectory(const QString &directory)
{
    ui->lineEditSaveDirectory->setText(directory);
}

void SettingDialog::setSameFileOption(SameNameOption option)
{
    switch (int(option)) {
    case SaveNewer:
        ui->radioButtonSaveNewer->setChecked(true);
        break;
    case SaveOverwrite:
        ui->radioButtonSaveOverwrite->setChecked(true);
        break;
    case SaveRename:
        ui->radioButtonSaveRename->setChecked(true);
        break;
    case SaveNoWrite:
        ui->radioButtonSaveNoWrite->setChecked(true);
        break;
    default:
        qCritical() << "settingDialog : Illegal parameter";
        break;
    }
}

QString SettingDialog::getSSID() const
{
    return ui->lineEditSSID->text();
}

QString SettingDialog::getSaveDirectory() const
{
    return ui->lineEditSaveDirectory->text();
}

SameNameOption SettingDialog::getSameFileOption() const
{
    if (ui->radioButtonSaveNewer->isChecked())
        return SaveNewer;
    if (ui->radioButtonSaveOverwrite->isChecked())
        return SaveOverwrite;
    if (ui->radioButtonSaveRename->isChecked())
        return SaveRename;
    return SaveNoWrite;
}

void SettingDialog::on_buttonBox_accepted()
{
    accept();
}

void SettingDialog::on_buttonBox_rejected()
{
    reject();
}

void SettingDialog::on_toolButtonSelectDirectory_clicked()
{
    const QString directory = QFileDialog::getExistingDirectory(
        this, tr("Save directory"), ui->lineEditSaveDirectory->text(), QFileDialog::ShowDirsOnly);
    if (!directory.isEmpty())
        ui->lineEditSaveDirectory->setText(directory);
}
