// The window's texts in German and in English: the choice of language, texts
// with counts and numbers, and a German text for every text of the sources
// (the German window itself is tried in the main window's suite). Scratch
// XDG_CONFIG_HOME.
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <functional>

#include "ui/downloadfilemodel.h"
#include "ui/progresstext.h"
#include "ui/settingdialog.h"
#include "ui/translationloader.h"

namespace {
const QLocale German(QLocale::German, QLocale::Germany);
} // namespace

class tst_Translation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { TranslationLoader::install(*qApp, QLocale::c()); }
    // An Austrian gets German from the German catalogue; then a French user,
    // for whom there is none, gets English: the German translation goes.
    void chosenLanguage()
    {
        TranslationLoader::install(*qApp, QLocale(QStringLiteral("de_AT")));
        QCOMPARE(QCoreApplication::translate("MainWindow", "Standby."), QLatin1String("Bereit."));
        TranslationLoader::install(*qApp, QLocale(QStringLiteral("fr_FR")));
        QCOMPARE(QCoreApplication::translate("MainWindow", "Standby."), QLatin1String("Standby."));
    }

    // German with the translation, and the English exactly as before without.
    void textsInBothLanguages()
    {
        struct Text
        {
            std::function<QString()> make;
            QString german, english;
        };
        const QList<Text> texts = {
            {[] { return ProgressText::completedText(1); }, "1 Datei heruntergeladen.", "1 files completed."},
            {[] { return ProgressText::completedText(2); }, "2 Dateien heruntergeladen.", "2 files completed."},
            {[] { return ProgressText::filesText(1, 3); }, " 1 / 3 Dateien", " 1 / 3 files"},
            {[] { return ProgressText::fileText("A%2%1.WAV", 5); }, "A%2%1.WAV - 5 Byte", "A%2%1.WAV - 5 bytes"},
            {[] { return DownloadFileModel::sizeText(123456789); }, "120.563 KB", "120,563 KB"},
            {[] { return SettingDialog().findChild<QLabel *>("labelVersion")->text(); },
             "PALVEN ZV FILE TRANSFER\nVersion 1.00, Build 13\nCopyright (C) PALVEN Corporation.\nAlle Rechte "
             "vorbehalten.",
             "PALVEN ZV FILE TRANSFER\nVer.1.00 build 13\nCopyright (C) PALVEN Corporation.\nAll rights reserved."},
        };
        for (const QLocale &locale : {German, QLocale::c()}) {
            TranslationLoader::install(*qApp, locale);
            for (const Text &text : texts)
                QCOMPARE(text.make(), locale == German ? text.german : text.english);
        }
    }

    // lupdate over the sources into a copy of each .ts: a text without its
    // German comes out unfinished (or empty).
    void everyTextHasItsGerman()
    {
        QTemporaryDir scratch;
        for (const QString &file : QStringLiteral(ZV_TRANSLATION_FILES).split(QLatin1Char(';'))) {
            const QString copy = scratch.filePath(QFileInfo(file).fileName());
            QVERIFY(QFile::copy(file, copy));
            QProcess lupdate;
            lupdate.start(ZV_LUPDATE_BIN,
                          {"-silent", "-no-obsolete", "-locations", "none", ZV_SOURCE_DIR, "-ts", copy});
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
                          && (!xml.attributes().value("type").isEmpty()
                              || (!numerus && xml.readElementText().isEmpty())))
                         || (name == QLatin1String("numerusform") && xml.readElementText().isEmpty()))
                    lacking << source;
            }
            QVERIFY2(!xml.hasError() && !source.isEmpty(), qPrintable(xml.errorString()));
            QVERIFY2(lacking.isEmpty(), qPrintable(file + " lacks: " + lacking.join(" | ")));
        }
    }
};

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
