#ifndef TRANSLATIONLOADER_H
#define TRANSLATIONLOADER_H

#include <QLocale>
#include <QString>

class QCoreApplication;

// Puts the program's own translation and Qt's for a locale into the
// application: the first language the user prefers that the program speaks
// (English, the language of the sources, or one of the embedded .qm files).
class TranslationLoader
{
public:
    // Replaces the translations installed by an earlier call. Returns the
    // language installed ("de"), or an empty text when the English sources
    // show.
    static QString install(QCoreApplication &app, const QLocale &locale);

    // The locale whose digit grouping the window's sizes are written in:
    // English, or the one the installed translation names.
    static QLocale sizeLocale();

private:
    TranslationLoader() = delete;
};

#endif // TRANSLATIONLOADER_H
