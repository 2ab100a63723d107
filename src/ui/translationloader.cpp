#include "ui/translationloader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
const QString ProgramCatalogue = QStringLiteral("zv-file-transfer_");
const QString QtCatalogue = QStringLiteral("qtbase_");
const QString ProgramDirectory = QStringLiteral(":/i18n");
// Names the translators this loader installed, so the next call finds them.
const QString TranslatorName = QStringLiteral("zv-translator");

QString qtTranslationsDirectory()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

void removeInstalled(QCoreApplication &app)
{
    const auto translators = app.findChildren<QTranslator *>(TranslatorName, Qt::FindDirectChildrenOnly);
    for (QTranslator *translator : translators) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

bool installCatalogue(QCoreApplication &app, const QString &catalogue, const QString &language,
                      const QString &directory)
{
    // The exact file only: the caller decides which languages to try.
    const QString path = directory + QLatin1Char('/') + catalogue + language + QStringLiteral(".qm");
    if (!QFileInfo::exists(path))
        return false;
    auto *translator = new QTranslator(&app);
    translator->setObjectName(TranslatorName);
    if (!translator->load(path)) {
        qWarning("translation: %s cannot be read", qUtf8Printable(path));
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

// "de-AT" gives de_AT, then de.
QStringList candidates(const QString &uiLanguage)
{
    QStringList names;
    QString name = uiLanguage;
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    while (!name.isEmpty()) {
        if (!names.contains(name))
            names.append(name);
        const int cut = name.lastIndexOf(QLatin1Char('_'));
        name = cut > 0 ? name.left(cut) : QString();
    }
    return names;
}
} // namespace

// The .qm files are in a static library: this makes the linker keep them.
static void initTranslationResources()
{
    Q_INIT_RESOURCE(zv_translations);
}

QString TranslationLoader::install(QCoreApplication &app, const QLocale &locale)
{
    initTranslationResources();
    removeInstalled(app);
    const QStringList uiLanguages = locale.uiLanguages();
    for (const QString &uiLanguage : uiLanguages) {
        // A user who prefers English before a language we have gets English.
        if (QLocale(uiLanguage).language() == QLocale::English)
            return QString();
        for (const QString &name : candidates(uiLanguage)) {
            if (!installCatalogue(app, ProgramCatalogue, name, ProgramDirectory))
                continue;
            // Qt's own dialogs and buttons in the same language, when installed.
            if (!installCatalogue(app, QtCatalogue, name, qtTranslationsDirectory()))
                qDebug("translation: Qt's own texts in %s are not installed", qUtf8Printable(name));
            return name;
        }
    }
    return QString();
}

QLocale TranslationLoader::sizeLocale()
{
    //: The locale (e.g. de_DE) whose thousands separator the sizes use.
    return QLocale(QCoreApplication::translate("TranslationLoader", "en_US"));
}
