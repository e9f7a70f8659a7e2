// tamrivo-loader-sim: serves the simulated loader on a pseudo-terminal or a
// serial device until SIGINT or SIGTERM.

#include "bootcheck.h"
#include "simcommandline.h"
#include "simulatedloader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
}

// Signals reach the event loop through a socket pair, so that shutdown
// (the dump, removing the link) runs as ordinary code, not in a handler.
void QuitOnSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool MakeLink(const QString &link, const QString &target, QString *error)
{
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        QFile::remove(link);
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(link);
        return false;
    }
    if (!QFile::link(target, link)) {
        *error = QStringLiteral("cannot make the link %1").arg(link);
        return false;
    }
    return true;
}

int Fail(const QString &message)
{
    fprintf(stderr, "tamrivo-loader-sim: %s\n", qPrintable(message));
    return 1;
}

// Run last, so that a failure still leaves the dump behind to look at.
bool PassesBootCheck(const FlashModel &flash, const QByteArray &image, const QString &file)
{
    const qint64 mismatch = image.isEmpty() ? -1 : BootMismatch(flash, image);
    if (mismatch < 0)
        return true;
    Fail(QStringLiteral("boot check failed: the application's first word is programmed but 0x%1 "
                        "differs from %2 (a half-written application would start)")
             .arg(mismatch, 8, 16, QLatin1Char('0'))
             .arg(file));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamrivo-loader-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMRIVO_VERSION));

    SimOptions options;
    QString error;
    if (!ParseSimOptions(app.arguments(), &options, &error))
        return Fail(error);

    SimulatedLoader loader(options.config);
    if (!options.image.isEmpty() && !loader.Flash().Load(options.image, &error))
        return Fail(QStringLiteral("%1: %2").arg(options.image, error));
    QByteArray bootImage;
    if (!options.bootCheck.isEmpty() && !ReadBootImage(options.bootCheck, loader.Flash(), &bootImage, &error))
        return Fail(QStringLiteral("--boot-check %1: %2").arg(options.bootCheck, error));
    const bool opened = options.device.isEmpty() ? loader.OpenPty(&error)
                                                 : loader.OpenDevice(options.device, &error);
    if (!opened)
        return Fail(error);
    if (!options.link.isEmpty() && !MakeLink(options.link, loader.SlavePath(), &error))
        return Fail(error);

    printf("%s\n", qPrintable(loader.SlavePath()));
    fflush(stdout);
    QuitOnSignals(&app);
    QObject::connect(&loader, &SimulatedLoader::Closed, &app, &QCoreApplication::quit);
    const int code = app.exec();

    loader.Close();
    if (!options.link.isEmpty())
        QFile::remove(options.link);
    if (!options.dump.isEmpty() && !loader.Flash().Save(options.dump, &error))
        return Fail(QStringLiteral("%1: %2").arg(options.dump, error));
    if (!PassesBootCheck(loader.Flash(), bootImage, options.bootCheck))
        return 3;
    return code;
}
