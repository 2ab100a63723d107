// The window in German and in English: the choice of language, texts with
// counts and numbers, the German window against the recorder simulator, and
// a German text for every text of the sources. Scratch XDG_CONFIG_HOME.
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <functional>

#include "base/appsettings.h"
#include "datarows.h"
#include "sim/recordersimulator.h"
#include "ui/downloadfilemodel.h"
#include "ui/mainwindow.h"
#include "ui/progresstext.h"
#include "ui/settingdialog.h"
#include "ui/translationloader.h"

namespace {
const QLocale German(QLocale::German, QLocale::Germany);
constexpr int ExchangeTimeoutMs = 5000;
} // namespace

class tst_Translation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { TranslationLoader::install(*qApp, QLocale::c()); }
    void chosenLanguage_data();
    void chosenLanguage();
    void textsInBothLanguages();
    void germanWindowAgainstTheRecorder();
    void everyTextHasItsGerman();
};

void tst_Translation::chosenLanguage_data()
{
    addColumns<std::tuple<QString, bool>>(); // the locale, whether it gets German
    QTest::addRow("german") << "de_DE" << true;
    QTest::addRow("austrian-falls-back-to-german") << "de_AT" << true;
    QTest::addRow("english") << "en_US" << false;
    QTest::addRow("c") << "C" << false;
    QTest::addRow("french-not-there") << "fr_FR" << false;
}

void tst_Translation::chosenLanguage()
{
    const auto [locale, german] = fetchRow<std::tuple<QString, bool>>();
    // German first: each row also proves the earlier translation goes.
    TranslationLoader::install(*qApp, German);
    TranslationLoader::install(*qApp, QLocale(locale));
    QCOMPARE(QCoreApplication::translate("MainWindow", "Standby."), QLatin1String(german ? "Bereit." : "Standby."));
}

// German with the translation, and the English exactly as before without.
void tst_Translation::textsInBothLanguages()
{
    struct Text
    {
        std::function<QString()> make;
        QString german, english;
    };
    const QList<Text> texts = {
        {[] { return ProgressText::completedText(1, 0); }, "1 Datei heruntergeladen.", "1 files completed."},
        {[] { return ProgressText::completedText(3, 1); }, "2 Dateien heruntergeladen.", "2 files completed."},
        {[] { return ProgressText::filesText(1, 3); }, " 1 / 3 Dateien", " 1 / 3 files"},
        {[] { return ProgressText::fileText("A%2%1.WAV", 5); }, "A%2%1.WAV - 5 Byte", "A%2%1.WAV - 5 bytes"},
        {[] { return DownloadFileModel::sizeText(123456789); }, "120.563 KB", "120,563 KB"},
        {[] { return SettingDialog().findChild<QLabel *>("labelVersion")->text(); },
         "PALVEN ZV FILE TRANSFER\nVersion 1.00, Build 13\nCopyright (C) PALVEN Corporation.\nAlle Rechte vorbehalten.",
         "PALVEN ZV FILE TRANSFER\nVer.1.00 build 13\nCopyright (C) PALVEN Corporation.\nAll rights reserved."},
    };
    for (const QLocale &locale : {German, QLocale::c()}) {
        TranslationLoader::install(*qApp, locale);
        for (const Text &text : texts)
            QCOMPARE(text.make(), locale == German ? text.german : text.english);
    }
}

void tst_Translation::germanWindowAgainstTheRecorder()
{
    QTemporaryDir scratch;
    RecorderSimulator simulator;
    QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
    QVERIFY(simulator.listen(QHostAddress(QStringLiteral(ZV_TEST_ADDRESS)), RecorderSimulator::DefaultPort));
    AppSettings().setSSID(QStringLiteral(ZV_TEST_ADDRESS));
    TranslationLoader::install(*qApp, German);

    MainWindow window;
    window.show();
    auto text = [&](const char *name) { return window.findChild<QLabel *>(name)->text(); };
    QTRY_COMPARE_WITH_TIMEOUT(text("labelTarget"), QStringLiteral("Suche läuft..."), ExchangeTimeoutMs);
    auto *view = window.findChild<QTableView *>(QStringLiteral("filelistTableView"));
    QTRY_VERIFY_WITH_TIMEOUT(view->model()->rowCount() > 0 && text("labelInfo") == "Bereit.", ExchangeTimeoutMs);
    QCOMPARE(text("label_7"), QStringLiteral("Spieldauer"));
    QCOMPARE(view->model()->headerData(DownloadFileModel::ColumnSize, Qt::Horizontal).toString(), "Größe");
    QCOMPARE(window.findChild<QPushButton *>("downloadButton")->toolTip(), "Markierte Aufnahmen herunterladen");

    // A recording's details: its size grouped the German way.
    auto *model = qobject_cast<DownloadFileModel *>(view->model());
    const QModelIndex wav
        = model->match(model->index(0, DownloadFileModel::ColumnName), Qt::DisplayRole, ".WAV", 1, Qt::MatchEndsWith)
              .value(0);
    QVERIFY(wav.isValid() && model->fileSize(wav) >= 1000);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(wav).center());
    QCOMPARE(text("labelStatus"), QStringLiteral("Kommunikation..."));
    QCOMPARE(text("labelDetailSize"), German.toString(model->fileSize(wav)) + QStringLiteral(" Byte"));
    QTRY_VERIFY_WITH_TIMEOUT(text("labelStatus").isEmpty(), ExchangeTimeoutMs);
    // A picture for the eye, beside this executable.
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    window.grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots/german.png"));
}

// lupdate over the sources into a copy of each .ts: a text without its
// German comes out unfinished (or empty).
void tst_Translation::everyTextHasItsGerman()
{
    QTemporaryDir scratch;
    for (const QString &file : QStringLiteral(ZV_TRANSLATION_FILES).split(QLatin1Char(';'))) {
        const QString copy = scratch.filePath(QFileInfo(file).fileName());
        QVERIFY(QFile::copy(file, copy));
        QProcess lupdate;
        lupdate.start(ZV_LUPDATE_BIN, {"-silent", "-no-obsolete", "-locations", "none", ZV_SOURCE_DIR, "-ts", copy});
        QVERIFY(lupdate.waitForFinished(60000) && lupdate.exitCode() == 0);

        QFile ts(copy);
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&ts);
        QString source;
        QStringList lacking;
        bool numerus = false;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto name = xml.name();
            if (name == QLatin1String("message"))
                numerus = xml.attributes().value("numerus") == QLatin1String("yes");
            else if (name == QLatin1String("source"))
                source = xml.readElementText();
            else if ((name == QLatin1String("translation")
                      && (!xml.attributes().value("type").isEmpty() || (!numerus && xml.readElementText().isEmpty())))
                     || (name == QLatin1String("numerusform") && xml.readElementText().isEmpty()))
                lacking << source;
        }
        QVERIFY2(!xml.hasError() && !source.isEmpty(), qPrintable(xml.errorString()));
        QVERIFY2(lacking.isEmpty(), qPrintable(file + " lacks: " + lacking.join(" | ")));
    }
}

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    tst_Translation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_translation.moc"
