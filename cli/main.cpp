#include "commands.h"
#include "interrupt.h"
#include "options.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamrivo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMRIVO_VERSION));
    InstallInterruptHandler();

    const ParseResult parsed = ParseArguments(QCoreApplication::arguments());
    if (!parsed.run) {
        std::fputs(parsed.message.toLocal8Bit().constData(), parsed.status == ExitDone ? stdout : stderr);
        return parsed.status;
    }
    return RunCommand(parsed.options);
}
