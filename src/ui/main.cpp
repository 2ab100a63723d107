#include <QApplication>
#include <QIcon>

#include "base/logging.h"
#include "ui/mainwindow.h"
#include "ui/startoptions.h"
#include "ui/translationloader.h"

namespace {
// The desktop entry the program is installed under (its icon and name in
// the desktop's task bar and notifications).
const QString DesktopFileName = QStringLiteral("org.zvtransfer.ZVFileTransfer");

QStringList argumentList(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}
} // namespace

int main(int argc, char *argv[])
{
    setupMessageLog();
    switch (StartOptions::read(argumentList(argc, argv))) {
    case StartOptions::Run:
        break;
    case StartOptions::Done:
        return 0;
    case StartOptions::UsageError:
        return StartOptions::UsageExitCode;
    }

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Pictures drawn at twice the size are used on a 2x screen (always so
    // in Qt 6).
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    QApplication app(argc, argv);
    TranslationLoader::install(app, QLocale::system());
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));
    QGuiApplication::setDesktopFileName(DesktopFileName);

    MainWindow window;
    window.show();
    return app.exec();
}
