#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QModelIndex>
#include <QString>

#include "base/apperrorcode.h"
#include "base/zvfileformat.h"
#include "base/zvrecordmode.h"
#include "ui/controlstates.h"
#include "ui/downloadledger.h"
#include "ui/downloadrun.h"
#include "ui/folderpath.h"
#include "ui/localcopies.h"

class AppSettings;
class ConnectOffWidget;
class ControllerHost;
class DesktopNotifier;
class DownloadFileModel;
class QAction;
class QThread;
class QTimer;
class QToolButton;
class Ui_MainWindow;
class ZVController;

// The program's only window. It holds the recorder controller and its worker
// thread (through a ControllerHost), turns clicks into queued requests and the
// controller's results into texts (ProgressText), pictures and enabled
// controls. Its state is whatever the four state routines (searching,
// standby, communicating, downloading) last set (ControlStates).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The progress bar runs from 0 to this value.
    static constexpr int ProgressScale = 1000;
    // The progress texts and bar are redrawn at most this often during a
    // download (the controller reports every data packet).
    static constexpr int ProgressRedrawMs = 40;
    // An exchange unanswered for this long drops the connection.
    static constexpr int WatchdogMs = 30000;
    // Recorders whose network name begins with this offer the Music/MTR trees.
    static const QString MusicMtrModelPrefix;
    // A download that took at least this long and ends while the window is
    // not active is announced on the desktop.
    static constexpr int LongDownloadMs = 10000;

    void setLongDownloadMs(int milliseconds) { longDownloadMs = milliseconds; }
    // How long an exchange may stay unanswered; WatchdogMs unless set.
    void setWatchdogMs(int milliseconds);

signals:
    void cancelDownload();
    void requestFileDetail(int index);
    void requestDownloadFiles();
    void requestFileList();
    void requestMoveFolder(int index);
    void requestChnageRecodeMode(ZVRecordMode mode);
    void requestDisconnect();

public slots:
    void changing_tableLayout();
    void tableCheckBox_clicked();
    void networkConnected();
    void networkClosed();
    void sequenceError(AppErrorCode code, int param1 = 0, int param2 = 0);
    void setFileList();
    void getFileDetailFinished(ZVFileFormat format, uint sampleRate, uint bitrate, uint fs);
    void downloadStarted(QString name, qulonglong size);
    void downloadProgress(qulonglong downloadBytes);
    void downloadFinished();
    void downloadCanceled();
    void setRecodeMode(ZVRecordMode mode);
    void discardFileList();
    void uiTimeout();

private slots:
    void on_downloadButton_clicked();
    void on_settingButton_clicked();
    void on_pushButtonReturn_clicked();
    void on_pushButtonMusic_clicked();
    void on_pushButtonMTR_clicked();
    void on_checkBoxAll_clicked(bool checked);
    void on_cancelButton_clicked();
    void on_filelistTableView_clicked(QModelIndex index);
    void on_filelistTableView_doubleClicked(QModelIndex index);
    void on_settingButton_pressed();
    void on_settingButton_released();
    void on_downloadButton_pressed();
    void on_downloadButton_released();
    void on_pushButtonReturn_pressed();
    void on_pushButtonReturn_released();
    // Checks exactly the listed recordings not yet on this computer (Ctrl+N,
    // or the table's and the check-all box's context menu).
    void checkNewFiles();
    void fileSkipped(QString name);
    void openDownloadFolder();

protected:
    void resizeEvent(QResizeEvent *event) override;
    // Asks the user for the folder to download into, starting in
    // `startDirectory`; empty when the user cancels.
    virtual QString chooseSaveDirectory(const QString &startDirectory);
    // Asks whether to stop the running download and quit; true for yes.
    virtual bool confirmStopDownload();
    // Shows `body` on the desktop, outside the window.
    virtual void notifyDesktop(const QString &body);
    // Closing while a download runs asks first; the window's place and size
    // are kept for the next run.
    void closeEvent(QCloseEvent *event) override;
    // Space and Return for the table's current row, unless a button holds the
    // keyboard (reached by Tab).
    void keyPressEvent(QKeyEvent *event) override;

private:
    void searchingState();
    void standbyState();
    void communicatingState();
    void downloadingState();
    void standbyMessage();
    void standbyKeepingError();
    void setupForm();
    void setupTable();
    void connectController();
    void enableControls(ControlStates::State state);
    bool isMusicMtrModel() const;
    void placeConnectOffWidget();
    void clearModel();
    void downloadEnded(const QString &outcome);
    QString interruptedLine() const;
    void setupKeys();
    void moveCurrentRow(int key);
    void toggleCurrentRow();
    void openCurrentRow();
    void checkAllRows();
    void connectFolderView();
    void folderRequested(int index);
    void showFolderPath();
    void clearDetailPanel();
    void setupMarks();
    void refreshMarks();
    void settleDownloadedFile();
    void showDownloadEnd();

    Ui_MainWindow *ui;
    ControlStates controls;
    AppSettings *settings;
    QString saveDirectory;
    DownloadFileModel *model;
    ConnectOffWidget *connectOffWidget;
    ZVController *controller;
    QThread *controllerThread;
    ControllerHost *controllerHost;
    QTimer *uiTimer;
    // The download from the download button until its end (finished,
    // cancelled or the link lost), a relist in between included.
    DownloadRun run;
    // A listing is on its way (after connecting, or after the recorder
    // dropped the list): the watchdog runs until it has arrived.
    bool listingAwaited = false;
    // A file's details were requested and have not arrived.
    bool detailAwaited = false;
    int longDownloadMs = LongDownloadMs;
    DesktopNotifier *notifier;
    FolderPath folderPath;
    // What of the listing is already on this computer, and what a download
    // brings (noted in its folder's sync record).
    LocalCopies localCopies;
    DownloadLedger ledger;
    QString lastDownloadFolder;
    int foldersLeftOut = 0;
    QAction *checkNewAction = nullptr;
    QToolButton *openFolderButton = nullptr;
};

#endif // MAINWINDOW_H
