#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "base/appsettings.h"

// The settings file is shared by the Qt 5 and the Qt 6 build of the program:
// a save folder outside ASCII must read back the same whichever build wrote
// it, and whichever build reads it.
class tst_AppSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir config;

    QString iniPath() const { return config.path() + QStringLiteral("/PALVEN/ZV_FILE_TRANSFER.ini"); }

private slots:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }
    void saveFolderOutsideAsciiSurvives_data();
    void saveFolderOutsideAsciiSurvives();
};

void tst_AppSettings::saveFolderOutsideAsciiSurvives_data()
{
    QTest::addColumn<QByteArray>("fileLine"); // as found in the file
    const QByteArray utf8 = QStringLiteral("/tmp/録音/テイク1").toUtf8();
    QTest::addRow("utf-8-as-qt6-or-an-editor-writes") << QByteArray("savedirectory=" + utf8);
    QTest::addRow("escaped-as-qt5-wrote-before")
        << QByteArray("savedirectory=/tmp/\\x9332\\x97f3/\\x30c6\\x30a4\\x30af\\x31");
}

void tst_AppSettings::saveFolderOutsideAsciiSurvives()
{
    QFETCH(QByteArray, fileLine);
    const QString folder = QStringLiteral("/tmp/録音/テイク1");
    QVERIFY(QDir().mkpath(config.path() + QStringLiteral("/PALVEN")));
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[main]\n" + fileLine + "\nSSID=ZV-61KT\n");
    file.close();

    {
        AppSettings settings;
        QCOMPARE(settings.getSaveDirectory(), folder);
        settings.setSaveDirectory(folder + QStringLiteral("/B"));
    }
    // Written as UTF-8 text by both builds, so either reads the other's file.
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY2(written.contains(QByteArray("savedirectory=" + (folder + QStringLiteral("/B")).toUtf8())),
             written.constData());
    AppSettings again;
    QCOMPARE(again.getSaveDirectory(), folder + QStringLiteral("/B"));
    QCOMPARE(again.getSSID(), QStringLiteral("ZV-61KT"));
}

QTEST_GUILESS_MAIN(tst_AppSettings)
#include "tst_appsettings.moc"
