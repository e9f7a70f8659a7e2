#ifndef RUNNER_H
#define RUNNER_H

#include "progress.h"
#include "report.h"

#include <QObject>
#include <QVector>

#include <memory>

class AuditLog;
class DeviceThread;
class ProgressBoard;
class StoreAccess;
struct ImageSource;

// Runs the command on every port at once, one thread each, and speaks for
// them all on the main thread: each report as it comes (a JSON line, a log
// line, a message), the board, and at the end the table or the station's
// count. One port alone says what the tool always said.
class JobRunner : public QObject
{
public:
    // store: null when no store keeps records.
    JobRunner(const CliOptions &options, const ImageSource &source, AuditLog &log, StoreAccess *store);
    ~JobRunner() override;

    // Returns once every thread is done, with the exit status of the run.
    int Exec();

private:
    DeviceReport OnReport(int row, DeviceReport report);
    void Tell(FILE *stream, const QString &text);
    void Conclude();

    const CliOptions &options;
    const ImageSource &source;
    AuditLog &log;
    StoreAccess *store;
    const bool many;
    FILE *const human;
    std::unique_ptr<ProgressBoard> board;
    QVector<DeviceThread *> threads;
    QVector<DeviceReport> last;     // each port's latest report, for the table
    QVector<int> statuses;          // of every job run, in the order they ended
};

#endif // RUNNER_H
