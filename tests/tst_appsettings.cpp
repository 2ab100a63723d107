#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "base/appsettings.h"

// The settings file is shared by the Qt 5 and the Qt 6 build of the program:
// a save folder outside ASCII, as UTF-8 text as Qt 6 (or an editor) writes it,
// must read back the same whichever build reads it, and be written so.
class tst_AppSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir config;

private slots:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }
    void saveFolderOutsideAsciiSurvives();
};

void tst_AppSettings::saveFolderOutsideAsciiSurvives()
{
    const QString folder = QStringLiteral("/tmp/録音/テイク1");
    QVERIFY(QDir().mkpath(config.path() + QStringLiteral("/PALVEN")));
    QFile file(config.path() + QStringLiteral("/PALVEN/ZV_FILE_TRANSFER.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[main]\nsavedirectory=" + folder.toUtf8() + "\nSSID=ZV-61KT\n");
    file.close();

    {
        AppSettings settings;
        QCOMPARE(settings.getSaveDirectory(), folder);
        QCOMPARE(settings.getSSID(), QStringLiteral("ZV-61KT"));
        settings.setSaveDirectory(folder + QStringLiteral("/B"));
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY2(written.contains(QByteArray("savedirectory=" + (folder + QStringLiteral("/B")).toUtf8())),
             written.constData());
}

QTEST_GUILESS_MAIN(tst_AppSettings)
#include "tst_appsettings.moc"
