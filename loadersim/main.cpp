// tamrivo-loader-sim: serves the simulated loader on a pseudo-terminal or a
// serial device until SIGINT or SIGTERM.

#include "bootcheck.h"
#include "simcommandline.h"
#include "simulatedloader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>
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

// The devices of one run; each is its own board on its own line.
using Bench = std::vector<std::unique_ptr<SimulatedLoader>>;

bool MakeBench(const SimOptions &options, Bench &bench, QString *error)
{
    for (int i = 0; i < DeviceCount(options); ++i) {
        bench.push_back(std::make_unique<SimulatedLoader>(DeviceConfig(options, i)));
        if (!options.image.isEmpty() && !bench.back()->Flash().Load(options.image, error)) {
            *error = QStringLiteral("%1: %2").arg(options.image, *error);
            return false;
        }
    }
    return true;
}

void RemoveLinks(const SimOptions &options, int count)
{
    for (int i = 0; i < count; ++i)
        QFile::remove(options.links.at(i));
}

bool OpenBench(const SimOptions &options, Bench &bench, QString *error)
{
    for (size_t i = 0; i < bench.size(); ++i) {
        SimulatedLoader &loader = *bench[i];
        const bool opened = options.device.isEmpty() ? loader.OpenPty(error)
                                                     : loader.OpenDevice(options.device, error);
        if (!opened || (!options.links.isEmpty() && !MakeLink(options.links.at(int(i)), loader.SlavePath(), error))) {
            RemoveLinks(options, qMin(int(i), int(options.links.size())));
            return false;
        }
    }
    return true;
}

// A device whose line closes is unplugged: its link goes, as a USB
// adapter's device file does, and the others carry on. The program ends
// with the last one.
void ServeUntilClosed(QCoreApplication &app, const SimOptions &options, Bench &bench)
{
    for (size_t i = 0; i < bench.size(); ++i) {
        QObject::connect(bench[i].get(), &SimulatedLoader::Closed, &app, [&app, &options, &bench, i] {
            if (!options.links.isEmpty())
                QFile::remove(options.links.at(int(i)));
            if (std::none_of(bench.begin(), bench.end(), [](const auto &loader) { return loader->IsOpen(); }))
                app.quit();
        });
    }
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

    Bench bench;
    if (!MakeBench(options, bench, &error))
        return Fail(error);
    QByteArray bootImage;
    if (!options.bootCheck.isEmpty() && !ReadBootImage(options.bootCheck, bench.front()->Flash(), &bootImage, &error))
        return Fail(QStringLiteral("--boot-check %1: %2").arg(options.bootCheck, error));
    if (!OpenBench(options, bench, &error))
        return Fail(error);

    for (const auto &loader : bench)
        printf("%s\n", qPrintable(loader->SlavePath()));
    fflush(stdout);
    QuitOnSignals(&app);
    ServeUntilClosed(app, options, bench);
    const int code = app.exec();

    bool booted = true;
    for (size_t i = 0; i < bench.size(); ++i) {
        SimulatedLoader &loader = *bench[i];
        loader.Close();
        const QString dump = DumpPath(options, int(i));
        if (!dump.isEmpty() && !loader.Flash().Save(dump, &error))
            return Fail(QStringLiteral("%1: %2").arg(dump, error));
        booted = PassesBootCheck(loader.Flash(), bootImage, options.bootCheck) && booted;
    }
    return booted ? code : 3;
}
