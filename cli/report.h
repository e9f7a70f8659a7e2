#ifndef REPORT_H
#define REPORT_H

#include "jobsetup.h"
#include "options.h"
#include "programmingjob.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What one device's job came to, for the messages, the summary table and
// the JSON records alike.
struct DeviceReport
{
    QString port;
    CliCommand command = CliCommand::None;
    int status = ExitDone;          // the exit status of this device's job alone
    QString message;                // the line a success prints, or the failure in words
    QString stage;                  // where a failure came before any pass: open, params, image, file
    QString file;                   // the image written or verified, or the backup saved
    QByteArray sha256;              // of that file's bytes, in hex
    std::optional<quint32> crc32;   // of the flash the image fills, gaps as 0xFF
    QString format;
    qint64 bytes = 0;               // image bytes, or bytes read
    std::optional<Geometry> geometry;
    std::optional<JobOutcome> outcome;
    // A dry run: what the job would do, and how long it would take.
    std::optional<JobPlan> plan;
    qint64 estimateMs = 0;
    double turnaroundMs = 0;
    double seconds = 0;
    // The serial number patched into the board, and what became of it.
    QString pool;
    qint64 serial = -1;             // -1: none
    bool rework = false;            // the board kept the number it held
    qint64 replaced = -1;           // the number the board carried when it got serial; -1: none
    QString serialFate;             // committed, free, void, held; empty while undecided
    QString record;                 // stored, or pending in the journal; empty without a store
};

// A job whose record (in the store or the log) could not be kept: a
// success becomes a failure of the store at that stage, a failure keeps
// its class; either way the message says what went wrong.
void RecordFailed(DeviceReport *report, const QString &stage, const QString &trouble);

// The pass or step a failure came in, empty on success.
QString FailedPass(const DeviceReport &report);

QString StatusName(int status);     // ok, failed or cancelled
QString CommandName(CliCommand command);

// The record printed with --json.
QJsonObject ReportJson(const DeviceReport &report);
// The record --log keeps: the same, with when, where (host and station),
// by which version and the job's exit status.
QJsonObject LogRecord(const DeviceReport &report, const QDateTime &time, const QString &host,
                      const QString &station, const QString &version);

// The status of a run over many devices: Ctrl-C on any job wins, then
// the status they all share, then a plain failure.
int CombinedStatus(const QVector<int> &statuses);

// Port, result, bytes, time and the failure in words, one row a device,
// columns aligned; info rows carry the geometry instead.
QStringList SummaryTable(const QVector<DeviceReport> &reports);
// The last word of a station: how many devices it served and how they went.
QString StationSummary(const QVector<int> &statuses);

#endif // REPORT_H
