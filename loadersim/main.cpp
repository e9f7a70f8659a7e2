// tamrivo-loader-sim: serves the simulated loader on a pseudo-terminal or a
// serial device until SIGINT or SIGTERM. SIGUSR1 pulls the boards out of
// their sockets, SIGUSR2 seats new ones.

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
#include <functional>
#include <memory>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int number)
{
    const char byte = char(number);
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
}

// Signals reach the event loop through a socket pair, in the order they
// came, so that shutdown (the dump, removing the link) and the boards'
// comings and goings run as ordinary code, not in a handler.
void ServeSignals(QCoreApplication *app, const std::function<void(int)> &onBoardSignal)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, onBoardSignal] {
        char numbers[64];
        const ssize_t n = ::read(signalPipe[0], numbers, sizeof numbers);
        for (ssize_t i = 0; i < n; ++i) {
            if (numbers[i] == SIGUSR1 || numbers[i] == SIGUSR2)
                onBoardSignal(numbers[i]);
            else
                app->quit();
        }
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(number, &action, nullptr);
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
        if (options.pullUnlinks && !options.config.boardSeated)
            bench.back()->Unplug();
        if (!options.image.isEmpty() && bench.back()->Seated() && !bench.back()->Flash().Load(options.image, error)) {
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
        if (loader.Unplugged())
            continue;
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
            if (std::none_of(bench.begin(), bench.end(),
                             [](const auto &loader) { return loader->IsOpen() || loader->Unplugged(); }))
                app.quit();
        });
    }
}

// A board out of its socket leaves its flash behind, FILE.bN for the Nth
// board, and is checked as one that would now be started elsewhere.
bool PullBoards(const SimOptions &options, Bench &bench, const QByteArray &bootImage)
{
    bool booted = true;
    for (size_t i = 0; i < bench.size(); ++i) {
        SimulatedLoader &loader = *bench[i];
        if (!loader.Seated())
            continue;
        if (options.pullUnlinks) {
            loader.Unplug();
            QFile::remove(options.links.at(int(i)));
        } else {
            loader.Pull();
        }
        QString error;
        const QString dump = BoardDumpPath(options, int(i), loader.Boards());
        if (!dump.isEmpty() && !loader.Flash().Save(dump, &error))
            Fail(QStringLiteral("%1: %2").arg(dump, error));
        booted = PassesBootCheck(loader.Flash(), bootImage, options.bootCheck) && booted;
    }
    return booted;
}

void SeatBoards(const SimOptions &options, Bench &bench)
{
    for (size_t i = 0; i < bench.size(); ++i) {
        SimulatedLoader &loader = *bench[i];
        if (loader.Seated())
            continue;
        const bool wasUnplugged = loader.Unplugged();
        QString error;
        if (!loader.Seat(options.image, &error)
            || (wasUnplugged && !MakeLink(options.links.at(int(i)), loader.SlavePath(), &error)))
            Fail(error);
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

    // Signals are served before the paths go out: a script that reads them
    // may pull a board at once.
    bool booted = true;
    ServeSignals(&app, [&](int number) {
        if (number == SIGUSR1)
            booted = PullBoards(options, bench, bootImage) && booted;
        else
            SeatBoards(options, bench);
    });
    // A device still to be plugged in is known by its link alone.
    for (size_t i = 0; i < bench.size(); ++i)
        printf("%s\n", qPrintable(bench[i]->Unplugged() ? options.links.at(int(i)) : bench[i]->SlavePath()));
    fflush(stdout);
    ServeUntilClosed(app, options, bench);
    const int code = app.exec();

    for (size_t i = 0; i < bench.size(); ++i) {
        SimulatedLoader &loader = *bench[i];
        loader.Close();
        if (!loader.Seated())
            continue;
        const QString dump = DumpPath(options, int(i));
        if (!dump.isEmpty() && !loader.Flash().Save(dump, &error))
            return Fail(QStringLiteral("%1: %2").arg(dump, error));
        booted = PassesBootCheck(loader.Flash(), bootImage, options.bootCheck) && booted;
    }
    return booted ? code : 3;
}
