#include "ui/controlstates.h"

#include "ui_mainwindow.h"

namespace {
struct Enabled
{
    bool setting;
    bool standby; // the folder buttons, download, check-all and the table
    bool cancel;
};
// By ControlStates::State.
constexpr Enabled Table[] = {
    {true, false, false},  // Searching
    {true, true, false},   // Standby
    {false, false, false}, // Communicating
    {false, false, true},  // Downloading
};
} // namespace

void ControlStates::enable(State state, bool musicMtr) const
{
    const Enabled &row = Table[state];
    ui->settingButton->setEnabled(row.setting);
    ui->pushButtonMusic->setEnabled(row.standby && musicMtr);
    ui->pushButtonMTR->setEnabled(row.standby && musicMtr);
    ui->pushButtonReturn->setEnabled(row.standby);
    ui->downloadButton->setEnabled(row.standby);
    ui->checkBoxAll->setEnabled(row.standby);
    ui->filelistTableView->setEnabled(row.standby);
    ui->cancelButton->setEnabled(row.cancel);
}
