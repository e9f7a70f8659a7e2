#include "commandline.h"
#include "language.h"
#include "mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString text = WindowCommandLineText(arguments);
    if (!text.isEmpty()) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    // The icons live in a static library; register them before any window.
    Q_INIT_RESOURCE(resources);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMRIVO_VERSION));
    // Names the installed menu entry, whose icon Wayland desktops then show.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.ostrel.Tamrivo"));
    InstallTranslations(UiLanguage(QCoreApplication::arguments(), qEnvironmentVariable("LANGUAGE"),
                                   QLocale::system()));
    MainWindow window;
    window.show();
    return app.exec();
}
