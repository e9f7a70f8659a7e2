#ifndef DEVICETHREAD_H
#define DEVICETHREAD_H

#include "progress.h"
#include "report.h"
#include "session.h"

#include <QThread>

#include <functional>

class ProgressBoard;
class StoreAccess;

// Serves one port on a thread of its own, with its own serial port, link
// and event loop, so that a slow or silent device holds up nobody else:
// one job, or in station mode a job for every device plugged in, until
// Ctrl-C. Each report is handed to reporter on this thread, as it comes;
// reporter gives back what the job came to once its record is kept.
class DeviceThread : public QThread
{
public:
    using Reporter = std::function<DeviceReport(const DeviceReport &)>;

    DeviceThread(const CliOptions &options, int row, const ImageSource &source, ProgressObserver::Mode mode,
                 ProgressBoard *board, StoreAccess *store, Reporter reporter);

protected:
    void run() override;

private:
    DeviceReport RunOnce();
    DeviceReport Settle(const DeviceReport &report);
    void Serve();
    bool Await(bool present, const QString &state);

    const CliOptions &options;
    const int row;
    const QString port;
    const ImageSource &source;
    const ProgressObserver::Mode mode;
    ProgressBoard *board;
    StoreAccess *store;             // null: no store
    Reporter reporter;
};

#endif // DEVICETHREAD_H
