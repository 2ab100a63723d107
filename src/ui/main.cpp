#include <QApplication>
#include <QIcon>

#include "base/logging.h"
#include "ui/mainwindow.h"

int main(int argc, char *argv[])
{
    setupMessageLog();
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/appicon.png")));

    MainWindow window;
    window.show();
    return app.exec();
}
