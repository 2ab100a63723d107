// The stored settings and the settings dialog: first-run defaults, the range
// limit of the same-name rule, and what the dialog writes on OK and on every
// way of cancelling it. Runs on a scratch XDG_CONFIG_HOME.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "app/appsettings.h"
#include "ui/mainwindow.h"
#include "ui/settingdialog.h"

namespace {
const QString RadioNames[] = {
    QStringLiteral("radioButtonSaveNewer"),
    QStringLiteral("radioButtonSaveOverwrite"),
    QStringLiteral("radioButtonSaveRename"),
    QStringLiteral("radioButtonSaveNoWrite"),
};

QSettings *openStore()
{
    return new QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("PALVEN"),
                         QStringLiteral("ZV_FILE_TRANSFER"));
}

void clearStore()
{
    QScopedPointer<QSettings> store(openStore());
    store->clear();
    store->sync();
}

// Calls `action` with the first visible top-level widget of type T as soon as
// one shows up (a modal dialog is answered from inside its own event loop).
template<typename T>
void whenShown(std::function<void(T *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            T *found = qobject_cast<T *>(widget);
            if (found && found->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(found);
                return;
            }
        }
    });
    timer->start();
}

// Picks `directory` in an open folder chooser, or cancels it when empty.
void answerFolderChooser(QFileDialog *chooser, const QString &directory)
{
    if (directory.isEmpty()) {
        chooser->reject();
        return;
    }
    chooser->setDirectory(directory);
    static_cast<QDialog *>(chooser)->accept();   // QFileDialog::accept checks the choice
}
} // namespace

class tst_AppSettings : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void firstRunReadsDefaults();
    void sameOptionIsRangeLimited_data();
    void sameOptionIsRangeLimited();
    void valuesAreKeptAsTyped();
    void dialogShowsTheStoredRule_data();
    void dialogShowsTheStoredRule();
    void dialogRejectsAnIllegalRule_data();
    void dialogRejectsAnIllegalRule();
    void dialogVersionText();
    void dialogFolderChooser_data();
    void dialogFolderChooser();
    void windowWritesOnlyAnAcceptedDialog_data();
    void windowWritesOnlyAnAcceptedDialog();
};

void tst_AppSettings::init()
{
    clearStore();
}

void tst_AppSettings::firstRunReadsDefaults()
{
    AppSettings settings;
    QCOMPARE(settings.getSSID(), QString());
    QCOMPARE(settings.getSaveDirectory(), QString());
    QCOMPARE(int(settings.getSameOption()), int(SaveNewer));
}

void tst_AppSettings::sameOptionIsRangeLimited_data()
{
    QTest::addColumn<QVariant>("stored");   // invalid: key missing
    QTest::addColumn<int>("expected");
    QTest::addRow("missing-key-is-newer") << QVariant() << 0;
    QTest::addRow("overwrite-kept") << QVariant(QStringLiteral("1")) << 1;
    QTest::addRow("last-rule-3-kept") << QVariant(QStringLiteral("3")) << 3;
    QTest::addRow("one-past-the-rules-is-newer") << QVariant(QStringLiteral("4")) << 0;
    QTest::addRow("far-past-the-rules-is-newer") << QVariant(QStringLiteral("7")) << 0;
    QTest::addRow("text-is-newer") << QVariant(QStringLiteral("rename")) << 0;
    QTest::addRow("empty-text-is-newer") << QVariant(QString()) << 0;
    QTest::addRow("negative-passes-the-signed-limit") << QVariant(QStringLiteral("-1")) << -1;
}

void tst_AppSettings::sameOptionIsRangeLimited()
{
    QFETCH(QVariant, stored);
    QFETCH(int, expected);
    if (stored.isValid()) {
        QScopedPointer<QSettings> store(openStore());
        store->setValue(QStringLiteral("main/sameoption"), stored);
    }
    AppSettings settings;
    QCOMPARE(int(settings.getSameOption()), expected);
}

// Blanks, non-Latin text and path separators come back exactly, also after
// the store was destroyed (a normal exit).
void tst_AppSettings::valuesAreKeptAsTyped()
{
    const QString ssid = QStringLiteral("  ZV-61KT-0001 ");
    const QString directory = QStringLiteral(" /tmp/録音 ; [main]=x/ ");
    {
        AppSettings settings;
        settings.setSSID(ssid);
        settings.setSaveDirectory(directory);
        settings.setSameOption(SaveNoWrite);
    }
    AppSettings settings;
    QCOMPARE(settings.getSSID(), ssid);
    QCOMPARE(settings.getSaveDirectory(), directory);
    QCOMPARE(int(settings.getSameOption()), int(SaveNoWrite));
    QScopedPointer<QSettings> store(openStore());
    QCOMPARE(store->value(QStringLiteral("main/SSID")).toString(), ssid);
    QCOMPARE(store->value(QStringLiteral("main/sameoption")).toInt(), 3);
}

void tst_AppSettings::dialogShowsTheStoredRule_data()
{
    QTest::addColumn<int>("rule");
    QTest::addRow("newer") << 0;
    QTest::addRow("overwrite") << 1;
    QTest::addRow("rename") << 2;
    QTest::addRow("no-write") << 3;
}

void tst_AppSettings::dialogShowsTheStoredRule()
{
    QFETCH(int, rule);
    SettingDialog dialog;
    dialog.setSameFileOption(SameNameOption(rule));
    for (int button = 0; button < 4; ++button)
        QCOMPARE(dialog.findChild<QRadioButton *>(RadioNames[button])->isChecked(), button == rule);
    QCOMPARE(int(dialog.getSameFileOption()), rule);

    // The user's click is read back the same way.
    const int other = (rule + 1) % 4;
    dialog.findChild<QRadioButton *>(RadioNames[other])->click();
    QCOMPARE(int(dialog.getSameFileOption()), other);
}

void tst_AppSettings::dialogRejectsAnIllegalRule_data()
{
    QTest::addColumn<int>("rule");
    QTest::addRow("one-past-the-rules") << 4;
    QTest::addRow("negative-from-a-hand-edited-file") << -1;
}

void tst_AppSettings::dialogRejectsAnIllegalRule()
{
    QFETCH(int, rule);
    SettingDialog dialog;
    dialog.setSameFileOption(SaveRename);
    QTest::ignoreMessage(QtCriticalMsg, "settingDialog : Illegal parameter");
    dialog.setSameFileOption(SameNameOption(rule));
    QCOMPARE(int(dialog.getSameFileOption()), int(SaveRename));

    SettingDialog fresh;
    QTest::ignoreMessage(QtCriticalMsg, "settingDialog : Illegal parameter");
    fresh.setSameFileOption(SameNameOption(rule));
    QCOMPARE(int(fresh.getSameFileOption()), int(SaveNewer));
}

void tst_AppSettings::dialogVersionText()
{
    SettingDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("SETTINGS"));
    const QStringList lines = dialog.findChild<QLabel *>(QStringLiteral("labelVersion"))->text().split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QStringLiteral("PALVEN ZV FILE TRANSFER"));
    QCOMPARE(lines.at(1), QStringLiteral("Ver.1.00 build 13"));
    QCOMPARE(dialog.findChild<QRadioButton *>(RadioNames[2])->text(),
             QStringLiteral("Create a new filename with \"(XXX)\" suffix"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("labelSSIDBox"))->text(),
             QStringLiteral("\u25A0 Connection Settings"));
}

void tst_AppSettings::dialogFolderChooser_data()
{
    QTest::addColumn<bool>("choose");
    QTest::addRow("cancelled-chooser-keeps-the-field") << false;
    QTest::addRow("chosen-folder-replaces-the-field") << true;
}

void tst_AppSettings::dialogFolderChooser()
{
    QFETCH(bool, choose);
    QTemporaryDir start;
    QTemporaryDir target;
    QVERIFY(start.isValid() && target.isValid());

    SettingDialog dialog;
    dialog.setSaveDirectory(start.path());
    QString startedIn;
    whenShown<QFileDialog>([&](QFileDialog *chooser) {
        startedIn = chooser->directory().absolutePath();
        answerFolderChooser(chooser, choose ? target.path() : QString());
    });
    dialog.findChild<QToolButton *>(QStringLiteral("toolButtonSelectDirectory"))->click();

    QCOMPARE(startedIn, QDir(start.path()).absolutePath());
    QCOMPARE(QDir(dialog.getSaveDirectory()).absolutePath(),
             QDir(choose ? target.path() : start.path()).absolutePath());
}

void tst_AppSettings::windowWritesOnlyAnAcceptedDialog_data()
{
    QTest::addColumn<QString>("howClosed");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<bool>("written");
    QTest::addRow("ok-unchanged-still-writes-all-three") << "ok" << false << true;
    QTest::addRow("ok-writes-the-edits") << "ok" << true << true;
    QTest::addRow("cancel-writes-nothing") << "cancel" << true << false;
    QTest::addRow("escape-writes-nothing") << "escape" << true << false;
    QTest::addRow("close-button-writes-nothing") << "close" << true << false;
}

// Only the network name is stored beforehand, so a write of the two other
// keys shows even when it writes the values the dialog was given.
void tst_AppSettings::windowWritesOnlyAnAcceptedDialog()
{
    QFETCH(QString, howClosed);
    QFETCH(bool, edit);
    QFETCH(bool, written);

    // Loopback literals only: the controller connects to whatever is stored.
    const QString storedSsid = QStringLiteral(ZV_TEST_ADDRESS);
    const QString editedSsid = QStringLiteral("127.0.0.254");
    const QString editedDirectory = QStringLiteral("/tmp/zv copies");
    {
        QScopedPointer<QSettings> store(openStore());
        store->setValue(QStringLiteral("main/SSID"), storedSsid);
    }

    MainWindow window;
    QString shownSsid;
    int shownRule = -2;
    whenShown<SettingDialog>([&](SettingDialog *dialog) {
        shownSsid = dialog->getSSID();
        shownRule = dialog->getSameFileOption();
        if (edit) {
            dialog->findChild<QLineEdit *>(QStringLiteral("lineEditSSID"))->setText(editedSsid);
            dialog->findChild<QLineEdit *>(QStringLiteral("lineEditSaveDirectory"))->setText(editedDirectory);
            dialog->findChild<QRadioButton *>(RadioNames[SaveRename])->click();
        }
        if (howClosed == QLatin1String("ok"))
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        else if (howClosed == QLatin1String("cancel"))
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        else if (howClosed == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    window.findChild<QPushButton *>(QStringLiteral("settingButton"))->click();

    QCOMPARE(shownSsid, storedSsid);
    QCOMPARE(shownRule, int(SaveNewer));

    QScopedPointer<QSettings> store(openStore());
    QCOMPARE(store->contains(QStringLiteral("main/savedirectory")), written);
    QCOMPARE(store->contains(QStringLiteral("main/sameoption")), written);
    const bool edited = written && edit;
    QCOMPARE(store->value(QStringLiteral("main/SSID")).toString(), edited ? editedSsid : storedSsid);
    if (written) {
        QCOMPARE(store->value(QStringLiteral("main/savedirectory")).toString(),
                 edited ? editedDirectory : QString());
        QCOMPARE(store->value(QStringLiteral("main/sameoption")).toInt(), edited ? int(SaveRename) : int(SaveNewer));
    }
}

int main(int argc, char *argv[])
{
    // A private settings location, before Qt first looks for it.
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    tst_AppSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appsettings.moc"
