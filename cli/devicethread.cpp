#include "devicethread.h"

#include "interrupt.h"
#include "messages.h"
#include "progressboard.h"

#include "ports.h"

namespace {

// A plugged-in adapter is seen within this time; between looks the
// thread sleeps, so a station waiting all day costs nothing.
constexpr unsigned long PollMs = 250;

// Waits until the port is there (or gone); false if Ctrl-C came first.
bool AwaitPort(const QString &port, bool present)
{
    while (PortPresent(port) != present) {
        if (InterruptRequested())
            return false;
        QThread::msleep(PollMs);
    }
    return !InterruptRequested();
}

} // namespace

DeviceThread::DeviceThread(const CliOptions &options, int row, const ImageSource &source,
                           ProgressObserver::Mode mode, ProgressBoard *board, StoreAccess *store, Reporter reporter)
    : options(options), row(row), port(options.ports.at(row)), source(source), mode(mode), board(board),
      store(store), reporter(std::move(reporter))
{
}

void DeviceThread::run()
{
    if (options.wait)
        Serve();
    else
        Settle(RunOnce());
}

DeviceReport DeviceThread::RunOnce()
{
    ProgressObserver progress(mode);
    progress.SetBoard(board, row);
    if (board)
        board->Set(row, QStringLiteral("connecting"));
    if (ManyDevices(options))
        progress.SetPrefix(port + QStringLiteral(": "));
    Session session(options, port, source, progress, store);
    return session.Run();
}

// The board says how the job went only once its record is kept, and with
// the class it finally came to: a job whose log line failed is no success.
DeviceReport DeviceThread::Settle(const DeviceReport &report)
{
    const DeviceReport recorded = reporter(report);
    if (board)
        board->Set(row, StatusName(recorded.status));
    return recorded;
}

// A device is served once per plugging in: after its job the station
// waits for it to go, so a board left in the socket is not flashed again.
void DeviceThread::Serve()
{
    while (Await(true, QStringLiteral("waiting for a device"))) {
        // The device file comes before the driver has the line ready.
        QThread::msleep(PollMs);
        const DeviceReport report = Settle(RunOnce());
        if (report.status == ExitInterrupted
            || !Await(false, StatusName(report.status) + QStringLiteral(": unplug the device")))
            return;
    }
}

// Plain lines say only that a device is awaited: the report of the one
// before, printed by the main thread, already says it is done.
bool DeviceThread::Await(bool present, const QString &state)
{
    if (board)
        board->Set(row, state);
    else if (present && mode == ProgressObserver::Plain)
        Say(stderr, QStringLiteral("%1: %2").arg(port, state));
    return AwaitPort(port, present);
}
