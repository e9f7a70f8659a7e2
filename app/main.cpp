#include "language.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The icons live in a static library; register them before any window.
    Q_INIT_RESOURCE(resources);

    QApplication app(argc, argv);
    InstallTranslations(UiLanguage(QCoreApplication::arguments(), qEnvironmentVariable("LANGUAGE"),
                                   QLocale::system()));
    MainWindow window;
    window.show();
    return app.exec();
}
