#include "ui/mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaType>
#include <QPixmap>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "base/appconstants.h"
#include "base/appsettings.h"
#include "base/detailtext.h"
#include "base/downloadfileinfo.h"
#include "base/samenameoption.h"
#include "base/threadjoin.h"
#include "recorder/controllerhost.h"
#include "recorder/zvcontroller.h"
#include "ui/checkboxdelegate.h"
#include "ui/connectoffwidget.h"
#include "ui/desktopnotifier.h"
#include "ui/downloadfilemodel.h"
#include "ui/filetypepicture.h"
#include "ui/focusmarkstyle.h"
#include "ui/hidpipicture.h"
#include "ui/progresstext.h"
#include "ui/settingdialog.h"
#include "ui/translationloader.h"
#include "ui_mainwindow.h"

const QString MainWindow::MusicMtrModelPrefix = QStringLiteral("ZV-61KT");

namespace {
const QString SettingIconNormal = QStringLiteral(":/images/resource/ZV_05_02_2.png");
const QString SettingIconPressed = QStringLiteral(":/images/resource/ZV_05_02_3.png");
const QString DownloadIconNormal = QStringLiteral(":/images/resource/ZV_05_01_2.png");
const QString DownloadIconPressed = QStringLiteral(":/images/resource/ZV_05_01_3.png");
const QString ReturnIconNormal = QStringLiteral(":/images/resource/ZV_02_02_2.png");
const QString ReturnIconPressed = QStringLiteral(":/images/resource/ZV_02_02_3.png");
const QString LogoPicture = QStringLiteral(":/images/resource/ZV_01_logo.png");

bool isDetailError(AppErrorCode code)
{
    return code == FileDetailIllegalPacketSize || code == FileDetailUnknownFileFormat;
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , controls(ui)
{
    setupForm();

    settings = new AppSettings(this);
    model = new DownloadFileModel;
    // Nothing stored on a first run: the form's own size.
    restoreGeometry(settings->getWindowGeometry());
    notifier = new DesktopNotifier(ApplicationName, this);

    connectOffWidget = new ConnectOffWidget(this);
    connectOffWidget->setHidden(true);
    connectOffWidget->keepClearOf(ui->labelTypeIcon);
    connectOffWidget->keepClearOf(ui->frame_2);

    ui->cancelButton->setEnabled(false);

    uiTimer = new QTimer(this);
    uiTimer->setInterval(WatchdogMs);
    uiTimer->setSingleShot(true);

    setupTable();
    setupKeys();

    // The controller on its thread (a child of the window), its byte counts
    // paced to redraw the progress at a bounded rate.
    controllerHost = new ControllerHost(ProgressRedrawMs, this);
    controller = controllerHost->controller();
    controllerThread = controllerHost->thread();

    qRegisterMetaType<ZVFileFormat>("ZVFileFormat");
    qRegisterMetaType<ZVRecordMode>("ZVRecordMode");
    qRegisterMetaType<AppErrorCode>("AppErrorCode");

    connectController();
    connectFolderView();
    setupMarks();

    controller->setSSID(settings->getSSID());
    controller->setSameOption(settings->getSameOption());
    saveDirectory = settings->getSaveDirectory();

    controllerHost->start();
}

void MainWindow::setupForm()
{
    ui->setupUi(this);
    setWindowTitle(ApplicationName + QLatin1Char(' ') + ApplicationVersion);
    // The detail panel's five rows fit its 120 pixels in the font the form
    // was drawn with; a larger system font needs more, or the rows are cut.
    const int detailHeight = ui->frame_2->sizeHint().height();
    if (detailHeight > ui->frame_2->maximumHeight())
        ui->frame_2->setFixedHeight(detailHeight);
    // Texts are shown as they are, never read as markup. (The labels that
    // show the recorder's names and the error lines are ElidingLabels, plain
    // by themselves.)
    for (QLabel *label :
         {ui->labelStatus, ui->labelDetailDate, ui->labelDetailSize, ui->labelDetailFormat, ui->labelDetailMusicLength})
        label->setTextFormat(Qt::PlainText);
    // Names keep their beginning and their ending when cut; the advice line
    // its beginning.
    ui->labelDetail->setElideMode(Qt::ElideRight);
    ui->label_2->setPixmap(HiDpiPicture::pixmap(LogoPicture));
}

void MainWindow::setupTable()
{
    ui->filelistTableView->setModel(model);
    ui->filelistTableView->setFocusPolicy(Qt::NoFocus);
    ui->filelistTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->filelistTableView->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->filelistTableView->setItemDelegateForColumn(DownloadFileModel::ColumnCheck,
                                                    new CheckBoxDelegate(ui->filelistTableView));
    ui->filelistTableView->resizeColumnsToContents();
}

// The thread's start runs the controller's doWork (the host connects it);
// the controller paces its byte counts (at most one per ProgressRedrawMs) and
// sends a file's last count ahead of the signal that follows it.
void MainWindow::connectController()
{
    connect(model, &QAbstractItemModel::layoutChanged, this, &MainWindow::changing_tableLayout);
    connect(controller, &ZVController::networkConnected, this, &MainWindow::networkConnected);
    connect(controller, &ZVController::networkClosed, this, &MainWindow::networkClosed);
    connect(controller, &ZVController::getFileListFinished, this, &MainWindow::setFileList);
    connect(controller, &ZVController::getFileDetailFinished, this, &MainWindow::getFileDetailFinished);
    connect(controller, &ZVController::downloadStarted, this, &MainWindow::downloadStarted);
    connect(controller, &ZVController::downloadProgress, this, &MainWindow::downloadProgress);
    connect(controller, &ZVController::downloadFinished, this, &MainWindow::downloadFinished);
    connect(controller, &ZVController::downloadCanceled, this, &MainWindow::downloadCanceled);
    connect(controller, &ZVController::renewalRecodeMode, this, &MainWindow::setRecodeMode);
    connect(controller, &ZVController::discardFileList, this, &MainWindow::discardFileList);
    connect(controller, &ZVController::error, this, &MainWindow::sequenceError);
    connect(uiTimer, &QTimer::timeout, this, &MainWindow::uiTimeout);
    connect(this, &MainWindow::cancelDownload, controller, &ZVController::cancelDownload);
    connect(this, &MainWindow::requestDownloadFiles, controller, &ZVController::requestDownloadFiles);
    connect(this, &MainWindow::requestFileList, controller, &ZVController::requestNewFileList);
    connect(this, &MainWindow::requestFileDetail, controller, &ZVController::requestFileDetail);
    connect(this, &MainWindow::requestChnageRecodeMode, controller, &ZVController::requestChangeRecordMode);
    connect(this, &MainWindow::requestMoveFolder, controller, &ZVController::requestMoveFolder);
    connect(this, &MainWindow::requestDisconnect, controller, &ZVController::requestDisconnect);
}

MainWindow::~MainWindow()
{
    // End the link, then give the worker a short while to finish. A worker
    // still busy after that (stuck in a long pause or call) must not keep the
    // window from closing: the host leaves it behind, to end by itself.
    controllerHost->stop(ThreadJoin::ExitBoundMs);
    delete ui;
    delete model;
    delete settings;
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    placeConnectOffWidget();
}

// The overlay covers the window from the top of the button bar down.
void MainWindow::placeConnectOffWidget()
{
    const int top = ui->frameButtonBar->mapTo(this, QPoint(0, 0)).y();
    connectOffWidget->setGeometry(0, top, width(), height() - top);
}

void MainWindow::enableControls(ControlStates::State state)
{
    controls.enable(state, isMusicMtrModel());
}

bool MainWindow::isMusicMtrModel() const
{
    return settings->getSSID().startsWith(MusicMtrModelPrefix, Qt::CaseSensitive);
}

void MainWindow::searchingState()
{
    enableControls(ControlStates::Searching);
    ui->labelDetailName->setText(QString());
    ui->labelDetailDate->setText(QString());
    ui->labelDetailSize->setText(QString());
    ui->labelDetailFormat->setText(QString());
    ui->labelDetailMusicLength->setText(QString());
    ui->labelTarget->setText(tr("Searching..."));
    ui->labelInfo->setText(interruptedLine());
    ui->labelDetail->setText(QString());
    ui->labelStatus->setText(QString());
    ui->progressBar->setValue(0);
    placeConnectOffWidget();
    connectOffWidget->setEnabled(true);
    connectOffWidget->show();
    uiTimer->stop();
    listingAwaited = false;
    detailAwaited = false;
}

void MainWindow::standbyState()
{
    enableControls(ControlStates::Standby);
    if (!isMusicMtrModel()) {
        ui->pushButtonMusic->setChecked(false);
        ui->pushButtonMTR->setChecked(false);
    }
    ui->labelStatus->setText(QString());
    ui->labelDetail->setText(QString());
    // An awaited listing keeps its watchdog running.
    if (!listingAwaited)
        uiTimer->stop();
}

void MainWindow::communicatingState()
{
    enableControls(ControlStates::Communicating);
    ui->labelStatus->setText(tr("Communicating..."));
    uiTimer->start();
}

void MainWindow::downloadingState()
{
    enableControls(ControlStates::Downloading);
}

void MainWindow::standbyMessage()
{
    run.forgetLostLink();
    ui->progressBar->setValue(0);
    ui->labelInfo->setText(tr("Standby."));
}

// Standby, with the error's two lines left readable.
void MainWindow::standbyKeepingError()
{
    const QString detail = ui->labelDetail->text();
    standbyState();
    ui->labelDetail->setText(detail);
}

void MainWindow::clearModel()
{
    model->clear();
    qDeleteAll(findChildren<DownloadFileInfo *>(QString(), Qt::FindDirectChildrenOnly));
}

// The row check boxes are drawn from the entries' checked flags (the check
// column's check state), so they follow the entries through any new order.
void MainWindow::changing_tableLayout()
{
    ui->filelistTableView->viewport()->update();
}

// A click in the check column: the box has toggled its entry's flag already.
void MainWindow::tableCheckBox_clicked()
{
    standbyMessage();
}

void MainWindow::networkConnected()
{
    connectOffWidget->hide();
    // The controller asks for the listing now: a recorder that never answers
    // is dropped by the watchdog like any other silent exchange.
    listingAwaited = true;
    standbyState();
    ui->labelTarget->setText(settings->getSSID());
    // A download the old link ended is not taken up again: say so once more.
    ui->labelInfo->setText(run.linkWasLost() ? interruptedLine() : tr("Standby."));
    run.forgetLostLink();
    uiTimer->start();
}

void MainWindow::networkClosed()
{
    if (connectOffWidget->property("visible").toBool())
        return;
    // The link went with the download: what it last showed is the outcome.
    if (run.isRunning())
        downloadEnded(ui->labelInfo->text());
    clearModel();
    emit model->layoutChanged();
    searchingState();
}

void MainWindow::sequenceError(AppErrorCode code, int param1, int param2)
{
    // An error that ends the download is followed by its cancel, which must
    // not hide why; a lost link is told again through the searching and the
    // reconnection that follow.
    run.errorReported(code, param1, param2);
    ui->labelInfo->setText(ProgressText::errorText(code, param1, param2));
    ui->labelDetail->setText(ProgressText::adviceText());
    // The recorder will not send the details asked for: nothing more is
    // coming, so the window is usable again.
    if (detailAwaited && isDetailError(code)) {
        detailAwaited = false;
        standbyKeepingError();
    }
}

void MainWindow::setFileList()
{
    clearModel();
    const int count = controller->getFileCount();
    for (int row = 0; row < count; ++row) {
        auto *entry = new DownloadFileInfo(this);
        if (!controller->getFileInfo(row, entry)) {
            // The list was replaced meanwhile; its own signal follows.
            delete entry;
            break;
        }
        model->append(entry);
    }
    emit model->layoutChanged();
    refreshMarks();
    // The locale's date-time can be wider than the column's default width;
    // never narrower than the header asks for.
    ui->filelistTableView->resizeColumnToContents(DownloadFileModel::ColumnDate);
    listingAwaited = false;
    // A download interrupted by a relist goes on with the new listing; its
    // controls and texts stay.
    if (run.isRunning())
        return;
    standbyState();
}

void MainWindow::discardFileList()
{
    clearModel();
    emit model->layoutChanged();
    listingAwaited = true;
    if (run.isRunning()) {
        uiTimer->start();
        return;
    }
    communicatingState();
}

void MainWindow::getFileDetailFinished(ZVFileFormat format, uint sampleRate, uint bitrate, uint fs)
{
    const bool known = format == FormatMP3 || format == FormatWAV || format == FormatBWF;
    ui->labelDetailFormat->setText(known ? DetailText::formatText(format, sampleRate, bitrate) : tr("unknown"));
    ui->labelDetailMusicLength->setText(DetailText::lengthText(fs, sampleRate));
    detailAwaited = false;
    standbyState();
}

void MainWindow::downloadStarted(QString name, qulonglong size)
{
    uiTimer->start();
    settleDownloadedFile();
    const DownloadFileInfo *entry = model->fileNamed(name);
    ledger.fileStarted(name, qint64(size), entry ? entry->dateTime : QDateTime());
    run.fileStarted();
    ui->labelStatus->setText(ProgressText::filesText(run.filesStarted(), run.fileCount()));
    ui->labelInfo->setText(ProgressText::fileText(name, size));
}

void MainWindow::downloadProgress(qulonglong downloadBytes)
{
    uiTimer->start();
    run.fileProgress(downloadBytes);
    ledger.fileProgress(downloadBytes);
    ui->labelDetail->setText(ProgressText::bytesText(run.doneBytes(), run.totalBytes()));
    // Nothing to count when every checked file is empty: the bar fills at the end.
    if (run.totalBytes() > 0)
        ui->progressBar->setValue(run.barValue(ProgressScale));
}

void MainWindow::downloadFinished()
{
    standbyState();
    settleDownloadedFile();
    // Files written, kept by the same-name rule and not downloaded; the ones
    // no longer listed or refused are named with their code in the line below.
    const int kept = ledger.keptFiles();
    ui->labelInfo->setText(ProgressText::endText(run.completedFiles() - kept, kept, run.lost().files));
    QStringList details;
    if (run.lost().files > 0)
        details << ProgressText::lostText(run.lost());
    if (foldersLeftOut > 0)
        details << ProgressText::foldersLeftOutText(foldersLeftOut);
    if (!details.isEmpty())
        ui->labelDetail->setText(details.join(QLatin1Char(' ')));
    if (run.totalBytes() == 0)
        ui->progressBar->setValue(ProgressScale);
    downloadEnded(ui->labelInfo->text());
}

void MainWindow::downloadCanceled()
{
    // The recorder's confirmation of a cancel already shown, arriving in
    // whatever state the window is in now.
    if (!run.isRunning())
        return;
    if (run.hasFailed()) {
        // Cancelled because of an error: keep the error's two lines.
        standbyKeepingError();
    } else {
        standbyState();
        ui->labelInfo->setText(ProgressText::canceledText());
    }
    ui->progressBar->setValue(0);
    downloadEnded(ui->labelInfo->text());
}

// Every end of a download passes here. A long download that ends while the
// user looks elsewhere is announced with the line the window shows about
// its end.
void MainWindow::downloadEnded(const QString &outcome)
{
    if (run.isRunning())
        showDownloadEnd();
    if (run.isRunning() && run.elapsedMs() >= longDownloadMs && !isActiveWindow())
        notifyDesktop(outcome);
    run.end();
}

// The line about a download that the lost link ended.
QString MainWindow::interruptedLine() const
{
    return run.linkWasLost() ? ProgressText::lostText(run.lostWithLink()) : QString();
}

void MainWindow::notifyDesktop(const QString &body)
{
    notifier->notify(windowTitle(), body);
}

bool MainWindow::confirmStopDownload()
{
    return QMessageBox::question(this, windowTitle(), tr("A download is running. Stop it and quit?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (run.isRunning()) {
        if (!confirmStopDownload()) {
            event->ignore();
            return;
        }
        // The worker closes the file as it stands, under its ".part" name.
        emit cancelDownload();
    }
    settings->setWindowGeometry(saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::setRecodeMode(ZVRecordMode mode)
{
    const bool music = mode == RecordModeMusic;
    ui->pushButtonMTR->setChecked(!music);
    ui->pushButtonMusic->setChecked(music);
    standbyState();
}

void MainWindow::setWatchdogMs(int milliseconds)
{
    uiTimer->setInterval(milliseconds);
}

void MainWindow::uiTimeout()
{
    emit requestDisconnect();
}

QString MainWindow::chooseSaveDirectory(const QString &startDirectory)
{
    return QFileDialog::getExistingDirectory(this, tr("Save directory"), startDirectory, QFileDialog::ShowDirsOnly);
}

void MainWindow::on_downloadButton_clicked()
{
    QList<int> indexes;
    model->checkedFileIndexes(indexes);
    if (indexes.isEmpty()) {
        ui->labelInfo->setText(ProgressText::nothingCheckedText(model->checkedFolderCount()));
        return;
    }
    const QString directory = chooseSaveDirectory(saveDirectory);
    if (directory.isEmpty())
        return;
    lastDownloadFolder = directory;
    foldersLeftOut = model->checkedFolderCount();
    ledger.begin(directory, settings->getSameOption(), folderPath.recordTree(), folderPath.recordFolder());
    openFolderButton->hide();

    run.start(indexes.size(), quint64(model->checkedTotalSize()));
    downloadingState();
    controller->setDownloadFiles(directory, indexes);
    emit requestDownloadFiles();
    ui->cancelButton->setEnabled(true);
}

void MainWindow::on_settingButton_clicked()
{
    SettingDialog dialog(this);
    dialog.setSSID(settings->getSSID());
    dialog.setSaveDirectory(settings->getSaveDirectory());
    dialog.setSameFileOption(settings->getSameOption());
    if (dialog.exec() != QDialog::Accepted)
        return;

    settings->setSSID(dialog.getSSID());
    settings->setSaveDirectory(dialog.getSaveDirectory());
    settings->setSameOption(dialog.getSameFileOption());
    controller->setSSID(dialog.getSSID());
    saveDirectory = dialog.getSaveDirectory();
    controller->setSameOption(dialog.getSameFileOption());
    refreshMarks();
}

void MainWindow::on_pushButtonReturn_clicked()
{
    standbyMessage();
    communicatingState();
    emit requestMoveFolder(ZVController::ParentFolderIndex);
}

void MainWindow::on_pushButtonMusic_clicked()
{
    standbyMessage();
    communicatingState();
    emit requestChnageRecodeMode(RecordModeMusic);
}

void MainWindow::on_pushButtonMTR_clicked()
{
    standbyMessage();
    communicatingState();
    emit requestChnageRecodeMode(RecordModeMTR);
}

void MainWindow::on_checkBoxAll_clicked(bool checked)
{
    standbyMessage();
    model->setAllChecked(checked);
}

void MainWindow::on_cancelButton_clicked()
{
    // The user's own cancel is always reported as such, whatever came before.
    run.cancelledByUser();
    emit cancelDownload();
}

void MainWindow::on_filelistTableView_clicked(QModelIndex index)
{
    if (index.column() == DownloadFileModel::ColumnCheck) {
        tableCheckBox_clicked();
        return;
    }
    standbyMessage();
    if (model->isFolder(index))
        return;

    const QString name = model->fileName(index);
    ui->labelDetailName->setText(name);
    ui->labelTypeIcon->setPixmap(FileTypePicture::detailPicture(name));
    ui->labelDetailDate->setText(DetailText::dateText(model->fileDateTime(index)));
    ui->labelDetailSize->setText(tr("%1 bytes").arg(TranslationLoader::sizeLocale().toString(model->fileSize(index))));
    ui->labelDetailFormat->setText(QString());
    ui->labelDetailMusicLength->setText(QString());
    emit requestFileDetail(model->fileIndex(index));
    detailAwaited = true;
    communicatingState();
}

void MainWindow::on_filelistTableView_doubleClicked(QModelIndex index)
{
    // Two clicks on a check box, not a request to open the row.
    if (index.column() == DownloadFileModel::ColumnCheck)
        return;
    standbyMessage();
    if (model->isFolder(index)) {
        emit requestMoveFolder(model->fileIndex(index));
    }
}

void MainWindow::on_settingButton_pressed()
{
    ui->settingButton->setIcon(QIcon(HiDpiPicture::pixmap(SettingIconPressed)));
}

void MainWindow::on_settingButton_released()
{
    ui->settingButton->setIcon(QIcon(HiDpiPicture::pixmap(SettingIconNormal)));
}

void MainWindow::on_downloadButton_pressed()
{
    ui->downloadButton->setIcon(QIcon(HiDpiPicture::pixmap(DownloadIconPressed)));
}

void MainWindow::on_downloadButton_released()
{
    ui->downloadButton->setIcon(QIcon(HiDpiPicture::pixmap(DownloadIconNormal)));
}

void MainWindow::on_pushButtonReturn_pressed()
{
    ui->pushButtonReturn->setIcon(QIcon(HiDpiPicture::pixmap(ReturnIconPressed)));
}

void MainWindow::on_pushButtonReturn_released()
{
    ui->pushButtonReturn->setIcon(QIcon(HiDpiPicture::pixmap(ReturnIconNormal)));
}

// The table never takes the focus, so the window takes its keys. The moves
// and the window's own keys act wherever the focus is; a move also takes the
// keyboard back from a button reached by Tab.
void MainWindow::setupKeys()
{
    const auto bind = [this](const QKeySequence &keys, auto action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    };
    for (const int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown})
        bind(QKeySequence(key), [this, key] { moveCurrentRow(key); });
    bind(QKeySequence(Qt::Key_Backspace), [this] {
        if (ui->pushButtonReturn->isEnabled())
            on_pushButtonReturn_clicked();
    });
    bind(QKeySequence::SelectAll, [this] { checkAllRows(); });
    bind(QKeySequence(Qt::Key_Escape), [this] {
        if (ui->cancelButton->isEnabled())
            on_cancelButton_clicked();
    });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });

    // Buttons are reached by Tab only, and marked then: a click leaves the
    // keyboard where it was. The window itself holds it at first, not the
    // first button.
    auto *focusMark = new FocusMarkStyle(this);
    for (QAbstractButton *button : ui->centralWidget->findChildren<QAbstractButton *>()) {
        button->setFocusPolicy(Qt::TabFocus);
        button->setStyle(focusMark);
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocus();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (qobject_cast<QAbstractButton *>(focusWidget())) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        toggleCurrentRow();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        openCurrentRow();
        break;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

void MainWindow::moveCurrentRow(int key)
{
    QTableView *table = ui->filelistTableView;
    setFocus();
    const int rows = model->rowCount();
    if (!table->isEnabled() || rows == 0)
        return;
    const int current = table->currentIndex().isValid() ? table->currentIndex().row() : -1;
    const int page = qMax(1, table->viewport()->height() / qMax(1, table->verticalHeader()->defaultSectionSize()) - 1);
    int row = 0;
    switch (key) {
    case Qt::Key_Up:
        row = current - 1;
        break;
    case Qt::Key_Down:
        row = current + 1;
        break;
    case Qt::Key_PageUp:
        row = current - page;
        break;
    case Qt::Key_PageDown:
        row = current < 0 ? page : current + page;
        break;
    case Qt::Key_End:
        row = rows - 1;
        break;
    default: // Home
        break;
    }
    const QModelIndex index = model->index(qBound(0, row, rows - 1), DownloadFileModel::ColumnName);
    table->setCurrentIndex(index);
    table->scrollTo(index);
}

// As a click in the row's check column.
void MainWindow::toggleCurrentRow()
{
    const QModelIndex current = ui->filelistTableView->currentIndex();
    if (!ui->filelistTableView->isEnabled() || !current.isValid())
        return;
    model->setChecked(current.row(), !model->isChecked(current.row()));
    tableCheckBox_clicked();
}

// As a double click on a folder and a click on a file: the one moves into the
// folder, the other asks for the file's details.
void MainWindow::openCurrentRow()
{
    const QModelIndex current = ui->filelistTableView->currentIndex();
    if (!ui->filelistTableView->isEnabled() || !current.isValid())
        return;
    const QModelIndex name = current.siblingAtColumn(DownloadFileModel::ColumnName);
    if (model->isFolder(name))
        on_filelistTableView_doubleClicked(name);
    else
        on_filelistTableView_clicked(name);
}

void MainWindow::checkAllRows()
{
    if (!ui->checkBoxAll->isEnabled())
        return;
    ui->checkBoxAll->setChecked(true);
    on_checkBoxAll_clicked(true);
}

// The folder path and the detail panel follow the listing shown.
void MainWindow::connectFolderView()
{
    connect(this, &MainWindow::requestMoveFolder, this, &MainWindow::folderRequested);
    connect(this, &MainWindow::requestChnageRecodeMode, this, [this](ZVRecordMode mode) { folderPath.startAt(mode); });
    connect(controller, &ZVController::renewalRecodeMode, this,
            [this](ZVRecordMode mode) { folderPath.startAt(mode); });
    // A new link starts at the top of the tree the window last showed.
    connect(controller, &ZVController::networkConnected, this,
            [this] { folderPath.startAt(ui->pushButtonMTR->isChecked() ? RecordModeMTR : RecordModeMusic); });
    connect(controller, &ZVController::getFileListFinished, this, [this] {
        folderPath.listed();
        showFolderPath();
        // Details and a current row of entries that may not be listed any more.
        clearDetailPanel();
        ui->filelistTableView->setCurrentIndex(QModelIndex());
        ui->filelistTableView->clearSelection();
    });
    connect(controller, &ZVController::networkClosed, this, [this] {
        folderPath.clear();
        showFolderPath();
    });
}

// The name of the folder asked for, while its row is still listed.
void MainWindow::folderRequested(int index)
{
    if (index == ZVController::ParentFolderIndex) {
        folderPath.up();
        return;
    }
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex name = model->index(row, DownloadFileModel::ColumnName);
        if (model->isFolder(name) && model->fileIndex(name) == index) {
            folderPath.enter(model->fileName(name));
            return;
        }
    }
}

void MainWindow::showFolderPath()
{
    ui->labelFolderPath->setText(folderPath.text());
}

void MainWindow::clearDetailPanel()
{
    for (QLabel *label : {static_cast<QLabel *>(ui->labelDetailName), ui->labelDetailDate, ui->labelDetailSize,
                          ui->labelDetailFormat, ui->labelDetailMusicLength})
        label->clear();
    ui->labelTypeIcon->setPixmap(QPixmap());
}

// The "check new" action (Ctrl+N) beside the check-all box and in the
// table's context menu, and the button that opens the folder a download
// went to, shown beside the line that tells how it ended.
void MainWindow::setupMarks()
{
    checkNewAction = new QAction(tr("Check new"), this);
    checkNewAction->setObjectName(QStringLiteral("actionCheckNew"));
    checkNewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    checkNewAction->setShortcutContext(Qt::WindowShortcut);
    checkNewAction->setToolTip(tr("Check the recordings not yet on this computer"));
    connect(checkNewAction, &QAction::triggered, this, &MainWindow::checkNewFiles);
    addAction(checkNewAction);
    for (QWidget *widget : {static_cast<QWidget *>(ui->filelistTableView), static_cast<QWidget *>(ui->checkBoxAll)}) {
        widget->addAction(checkNewAction);
        widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    openFolderButton = new QToolButton(this);
    openFolderButton->setObjectName(QStringLiteral("openFolderButton"));
    // An icon beside the end message, which needs the line's width.
    openFolderButton->setText(tr("Open folder"));
    openFolderButton->setAccessibleName(tr("Open folder"));
    openFolderButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    openFolderButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    openFolderButton->setAutoRaise(true);
    openFolderButton->hide();
    ui->horizontalLayout_4->addWidget(openFolderButton);
    connect(openFolderButton, &QToolButton::clicked, this, &MainWindow::openDownloadFolder);

    connect(controller, &ZVController::fileSkipped, this, &MainWindow::fileSkipped);
}

// Once per listing (and after a download or a new save folder): the folder
// last downloaded into and the stored save folder are each read once.
void MainWindow::refreshMarks()
{
    localCopies.scan({lastDownloadFolder, saveDirectory});
    QHash<const DownloadFileInfo *, QString> marks;
    for (int row = 0; row < model->rowCount(); ++row) {
        const DownloadFileInfo *entry = model->entry(row);
        const QString tip = LocalCopies::tipText(localCopies.find(*entry));
        if (!tip.isEmpty())
            marks.insert(entry, tip);
    }
    model->setMarks(marks);
}

void MainWindow::checkNewFiles()
{
    if (!ui->filelistTableView->isEnabled())
        return;
    standbyMessage();
    const int checked = model->checkUnmarked();
    ui->labelInfo->setText(tr("%n new recordings checked.", nullptr, checked));
}

void MainWindow::fileSkipped(QString name)
{
    ledger.fileKept(name);
}

// The file reported last is noted as taken and its row unchecked when it
// arrived whole (or was kept): pressing download again retries the rest.
void MainWindow::settleDownloadedFile()
{
    QString name;
    if (ledger.settle(&name))
        model->uncheckFile(name);
}

void MainWindow::showDownloadEnd()
{
    settleDownloadedFile();
    openFolderButton->setToolTip(tr("Open %1").arg(QDir::toNativeSeparators(ledger.folder())));
    openFolderButton->show();
    refreshMarks();
}

void MainWindow::openDownloadFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(ledger.folder()));
}
