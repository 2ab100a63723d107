#include <QApplication>
#include <QIcon>

#include "base/logging.h"
#include "ui/mainwindow.h"
#include "ui/translationloader.h"

int main(int argc, char *argv[])
{
    setupMessageLog();
    QApplication app(argc, argv);
    TranslationLoader::install(app, QLocale::system());
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));

    MainWindow window;
    window.show();
    return app.exec();
}
