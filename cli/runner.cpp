#include "runner.h"

#include "auditlog.h"
#include "devicethread.h"
#include "messages.h"
#include "progressboard.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QSysInfo>
#include <QTimer>

namespace {

// Often enough to look alive, seldom enough to cost nothing.
constexpr int BoardRedrawMs = 200;

} // namespace

JobRunner::JobRunner(const CliOptions &options, const ImageSource &source, AuditLog &log, StoreAccess *store)
    : options(options), source(source), log(log), store(store), many(ManyDevices(options)),
      human(options.json ? stderr : stdout), last(options.ports.size())
{
}

JobRunner::~JobRunner()
{
    qDeleteAll(threads);
}

int JobRunner::Exec()
{
    const ProgressObserver::Mode mode = ProgressObserver::ModeFor(options.quiet, many);
    if (mode == ProgressObserver::Board)
        board = std::make_unique<ProgressBoard>(options.ports);
    QEventLoop loop;
    int running = options.ports.size();
    for (int row = 0; row < options.ports.size(); ++row) {
        // The thread waits for its report to be kept: a station does not
        // take the next board before the last one's log line is on the disk.
        auto *thread = new DeviceThread(options, row, source, mode, board.get(), store, [this, row](const DeviceReport &report) {
            DeviceReport recorded;
            QMetaObject::invokeMethod(this, [&] { recorded = OnReport(row, report); }, Qt::BlockingQueuedConnection);
            return recorded;
        });
        threads.append(thread);
        // Queued behind the thread's last report, so no report is left out.
        connect(thread, &QThread::finished, &loop, [&loop, &running] {
            if (--running == 0)
                loop.quit();
        });
        thread->start();
    }
    QTimer redraw;
    if (board) {
        connect(&redraw, &QTimer::timeout, this, [this] { board->Draw(); });
        redraw.start(BoardRedrawMs);
    }
    loop.exec();
    for (DeviceThread *thread : qAsConst(threads))
        thread->wait();
    Conclude();
    return CombinedStatus(statuses);
}

// Nothing is said about a job before its record is kept: the store has it
// already (the session records it), the log line goes out next, and only
// then the JSON line, the message and the table, each with the class the
// job finally came to.
DeviceReport JobRunner::OnReport(int row, DeviceReport report)
{
    if (log.IsOpen() && !log.Append(LogRecord(report, QDateTime::currentDateTimeUtc(), QSysInfo::machineHostName(),
                                              options.station, QStringLiteral(TAMRIVO_VERSION))))
        RecordFailed(&report, QStringLiteral("log"),
                     QStringLiteral("the log failed: cannot append to %1: %2").arg(options.log, log.ErrorString()));
    last[row] = report;
    statuses.append(report.status);
    if (options.json) {
        std::fprintf(stdout, "%s\n", QJsonDocument(ReportJson(report)).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }
    const bool ok = report.status == ExitDone;
    if (!many)
        Say(ok ? human : stderr, ok ? report.message : QStringLiteral("tamrivo-cli: ") + report.message);
    else if (!ok)
        Tell(stderr, QStringLiteral("tamrivo-cli: %1: %2").arg(report.port, report.message));
    else if (options.wait)
        Tell(human, QStringLiteral("%1: %2").arg(report.port, QString(report.message).replace('\n', QStringLiteral(", "))));
    return report;
}

// A message goes above the board, never into it.
void JobRunner::Tell(FILE *stream, const QString &text)
{
    if (board)
        board->Clear();
    Say(stream, text);
    if (board)
        board->Draw();
}

void JobRunner::Conclude()
{
    if (board)
        board->Clear();
    if (options.wait)
        Say(human, StationSummary(statuses));
    else if (many)
        Say(human, SummaryTable(last).join('\n'));
}
