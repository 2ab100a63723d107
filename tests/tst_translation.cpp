// The window in German and in English: the loader's choice of language, the
// German window against the recorder simulator, texts with counts and
// numbers in both languages, and every text of the sources having its German.
// Runs on a scratch XDG_CONFIG_HOME.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <functional>

#include "base/appsettings.h"
#include "base/errortranslator.h"
#include "sim/recordersimulator.h"
#include "ui/downloadfilemodel.h"
#include "ui/mainwindow.h"
#include "ui/progresstext.h"
#include "ui/settingdialog.h"
#include "ui/translationloader.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
constexpr int ConnectTimeoutMs = 5000;
constexpr int ExchangeTimeoutMs = 5000;

const QLocale German(QLocale::German, QLocale::Germany);

QString dialogText(const char *name)
{
    SettingDialog dialog;
    return dialog.findChild<QWidget *>(QLatin1String(name))->property("text").toString();
}

// Pictures of the German window for a look by eye, in screenshots/ beside
// this executable.
void shoot(QWidget *widget, const QString &name)
{
    const QDir output(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(output.mkpath(QStringLiteral(".")));
    QVERIFY(widget->grab().save(output.filePath(name + QStringLiteral(".png"))));
}

// The texts the rows below compare, each as the window makes it.
QString produce(const QString &key)
{
    static const QHash<QString, std::function<QString()>> texts = {
        {"completed-one", [] { return ProgressText::completedText(1, 0); }},
        {"completed-many", [] { return ProgressText::completedText(3, 1); }},
        {"files-started", [] { return ProgressText::filesText(1, 3); }},
        {"lost-one", [] { return ProgressText::lostText(1); }},
        {"name-with-percent", [] { return ProgressText::fileText(QStringLiteral("A%2%1.WAV"), 5); }},
        {"bytes", [] { return ProgressText::bytesText(1024, 4096); }},
        {"error", [] { return ProgressText::errorText(FileDetailIllegalPacketSize, 20, 0); }},
        {"table-size", [] { return DownloadFileModel::sizeText(123456789); }},
        {"table-header",
         [] { return DownloadFileModel().headerData(DownloadFileModel::ColumnDate, Qt::Horizontal).toString(); }},
        {"dialog-version", [] { return dialogText("labelVersion"); }},
        {"dialog-rename", [] { return dialogText("radioButtonSaveRename"); }},
    };
    return texts.value(key, [] { return QStringLiteral("<no such text>"); })();
}
} // namespace

class tst_Translation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void chosenLanguage_data();
    void chosenLanguage();
    void textsInBothLanguages_data();
    void textsInBothLanguages();
    void germanWindowAgainstTheRecorder();
    void everyTextHasItsGerman();
};

void tst_Translation::cleanup()
{
    TranslationLoader::install(*qApp, QLocale::c());
}

void tst_Translation::chosenLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("standby");
    QTest::addRow("german") << "de_DE"
                            << "de"
                            << "Bereit.";
    QTest::addRow("austrian-falls-back") << "de_AT"
                                         << "de"
                                         << "Bereit.";
    QTest::addRow("english") << "en_US"
                             << ""
                             << "Standby.";
    QTest::addRow("c-locale") << "C"
                              << ""
                              << "Standby.";
    QTest::addRow("no-french-yet") << "fr_FR"
                                   << ""
                                   << "Standby.";
}

void tst_Translation::chosenLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, language);
    QFETCH(QString, standby);
    // German first, so every row also proves the previous translation goes.
    TranslationLoader::install(*qApp, German);
    QCOMPARE(TranslationLoader::install(*qApp, QLocale(locale)), language);
    QCOMPARE(QCoreApplication::translate("MainWindow", "Standby."), standby);
}

void tst_Translation::textsInBothLanguages_data()
{
    QTest::addColumn<QString>("german");
    QTest::addColumn<QString>("english");
    const QString lostCode = ErrorTranslator::getCodeText(DownloadTargetLost, 1, 0);
    QTest::addRow("completed-one") << "1 Datei heruntergeladen."
                                   << "1 files completed.";
    QTest::addRow("completed-many") << "2 Dateien heruntergeladen."
                                    << "2 files completed.";
    QTest::addRow("files-started") << " 1 / 3 Dateien"
                                   << " 1 / 3 files";
    QTest::addRow("lost-one") << QString("1 Datei nicht heruntergeladen.(" + lostCode + ")")
                              << QString("1 files not downloaded.(" + lostCode + ")");
    QTest::addRow("name-with-percent") << "A%2%1.WAV - 5 Byte"
                                       << "A%2%1.WAV - 5 bytes";
    QTest::addRow("bytes") << "1024 / 4096 Byte heruntergeladen"
                           << "download 1024 / 4096";
    QTest::addRow("error") << "Ein Fehler ist aufgetreten.(code : E8-20-0)"
                           << "An error has occurred.(code : E8-20-0)";
    QTest::addRow("table-size") << "120.563 KB"
                                << "120,563 KB";
    QTest::addRow("table-header") << "Datum"
                                  << "Date";
    QTest::addRow("dialog-version")
        << "PALVEN ZV FILE TRANSFER\nVersion 1.00, Build 13\nCopyright (C) PALVEN Corporation.\nAlle Rechte "
           "vorbehalten."
        << "PALVEN ZV FILE TRANSFER\nVer.1.00 build 13\nCopyright (C) PALVEN Corporation.\nAll rights reserved.";
    QTest::addRow("dialog-rename") << "Neuen Dateinamen mit dem Zusatz „(XXX)“ anlegen"
                                   << "Create a new filename with \"(XXX)\" suffix";
}

void tst_Translation::textsInBothLanguages()
{
    QFETCH(QString, german);
    QFETCH(QString, english);
    const QString key = QString::fromLatin1(QTest::currentDataTag());
    QCOMPARE(TranslationLoader::install(*qApp, German), QStringLiteral("de"));
    QCOMPARE(produce(key), german);
    QCOMPARE(TranslationLoader::install(*qApp, QLocale::c()), QString());
    QCOMPARE(produce(key), english);
}

void tst_Translation::germanWindowAgainstTheRecorder()
{
    QTemporaryDir scratch;
    RecorderSimulator simulator;
    QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
    QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
    {
        AppSettings settings;
        settings.clear();
        settings.setSSID(Address);
    }
    QCOMPARE(TranslationLoader::install(*qApp, German), QStringLiteral("de"));

    MainWindow window;
    window.show();
    auto text = [&](const char *name) { return window.findChild<QLabel *>(QLatin1String(name))->text(); };
    QTRY_COMPARE_WITH_TIMEOUT(text("labelTarget"), QStringLiteral("Suche läuft..."), ConnectTimeoutMs);
    auto *view = window.findChild<QTableView *>(QStringLiteral("filelistTableView"));
    QTRY_VERIFY_WITH_TIMEOUT(view->model()->rowCount() > 0 && text("labelTarget") == Address, ConnectTimeoutMs);
    QCOMPARE(text("labelInfo"), QStringLiteral("Bereit."));
    QCOMPARE(text("label_7"), QStringLiteral("Spieldauer"));
    QCOMPARE(view->model()->headerData(DownloadFileModel::ColumnSize, Qt::Horizontal).toString(),
             QStringLiteral("Größe"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("downloadButton"))->toolTip(),
             QStringLiteral("Markierte Aufnahmen herunterladen"));

    // A recording's details: its size grouped the German way.
    const QModelIndexList wavs = view->model()->match(view->model()->index(0, DownloadFileModel::ColumnName),
                                                      Qt::DisplayRole, QStringLiteral(".WAV"), 1, Qt::MatchEndsWith);
    QVERIFY(!wavs.isEmpty());
    auto *model = qobject_cast<DownloadFileModel *>(view->model());
    const qint64 size = model->fileSize(wavs.first());
    QVERIFY(size >= 1000);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(wavs.first()).center());
    QCOMPARE(text("labelStatus"), QStringLiteral("Kommunikation..."));
    QCOMPARE(text("labelDetailSize"), German.toString(size) + QStringLiteral(" Byte"));
    QTRY_VERIFY_WITH_TIMEOUT(!text("labelDetailFormat").isEmpty() && text("labelStatus").isEmpty(), ExchangeTimeoutMs);
    QVERIFY(text("labelDetailFormat").startsWith(QStringLiteral("WAV  ")));
    shoot(&window, QStringLiteral("german-window"));
    SettingDialog settings(&window);
    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    shoot(&settings, QStringLiteral("german-settings"));

    // Qt's own buttons speak German too where Qt's translation is installed.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    if (QFileInfo::exists(qtTranslations + QStringLiteral("/qtbase_de.qm"))) {
        SettingDialog dialog(&window);
        QCOMPARE(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text(),
                 QStringLiteral("&Abbrechen"));
    } else {
        qInfo("qtbase_de.qm is not installed: Qt's own buttons not checked");
    }
}

// lupdate over the sources into a copy of each .ts: a text without its
// German shows up unfinished (or empty).
void tst_Translation::everyTextHasItsGerman()
{
    QTemporaryDir scratch;
    const QStringList files = QStringLiteral(ZV_TRANSLATION_FILES).split(QLatin1Char(';'));
    for (const QString &file : files) {
        const QString copy = scratch.filePath(QFileInfo(file).fileName());
        QVERIFY(QFile::copy(file, copy));
        QProcess lupdate;
        lupdate.start(QStringLiteral(ZV_LUPDATE_BIN),
                      {QStringLiteral("-silent"), QStringLiteral("-no-obsolete"), QStringLiteral("-locations"),
                       QStringLiteral("none"), QStringLiteral(ZV_SOURCE_DIR), QStringLiteral("-ts"), copy});
        QVERIFY(lupdate.waitForFinished(60000));
        QCOMPARE(lupdate.exitCode(), 0);

        QFile ts(copy);
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString source;
        QStringList lacking;
        int messages = 0;
        bool numerus = false;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("message")) {
                numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
                ++messages;
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                // "unfinished", "vanished" and "obsolete" all mean not in use.
                const bool finished = xml.attributes().value(QLatin1String("type")).isEmpty();
                if (!finished || (!numerus && xml.readElementText().isEmpty()))
                    lacking << source;
            } else if (xml.name() == QLatin1String("numerusform") && xml.readElementText().isEmpty()) {
                lacking << source;
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(messages > 40);
        QVERIFY2(
            lacking.isEmpty(),
            qPrintable(QFileInfo(file).fileName() + QStringLiteral(" lacks: ") + lacking.join(QStringLiteral(" | "))));
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
    tst_Translation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
