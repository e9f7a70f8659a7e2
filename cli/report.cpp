#include "report.h"

#include "fingerprint.h"
#include "messages.h"
#include "progress.h"

#include <algorithm>

namespace {

void AddGeometry(QJsonObject &json, const Geometry &geometry)
{
    json["start"] = Hex(geometry.start);
    json["end"] = Hex(geometry.end);
    json["pageSize"] = qint64(geometry.pageSize);
}

void AddFailure(QJsonObject &json, const DeviceReport &report)
{
    json["pass"] = FailedPass(report);
    json["reason"] = report.message;
    if (report.outcome && report.outcome->status != JobOutcome::Done)
        json["address"] = Hex(report.outcome->address);
}

void AddPlan(QJsonObject &json, const DeviceReport &report)
{
    const JobPlan &plan = *report.plan;
    QJsonObject object;
    object["pages"] = plan.pages.size();
    object["pagesToErase"] = plan.erase.size();
    object["pagesSkipped"] = plan.pagesSkipped;
    object["firstPagesKept"] = plan.firstPagesKept;
    object["blocksToWrite"] = plan.writeFrames.size();
    object["bytesToWrite"] = plan.bytesToWrite;
    object["blocksBlank"] = plan.blocksBlank;
    object["blocksToVerify"] = plan.verifyFrames.size();
    object["compareReads"] = plan.compareReads.size();
    object["turnaroundMs"] = qRound(report.turnaroundMs * 100) / 100.0;
    object["estimatedSeconds"] = report.estimateMs / 1000.0;
    json["dryRun"] = true;
    json["plan"] = object;
}

QString Detail(const DeviceReport &report)
{
    if (report.status != ExitDone)
        return report.message;
    QStringList details;
    if (report.serial >= 0)
        details << QStringLiteral("serial %1%2").arg(report.serial).arg(report.rework ? QStringLiteral(" (rework)") : QString());
    else if (report.command == CliCommand::Info)
        details << QString(report.message).replace('\n', QStringLiteral(", "));
    if (report.record == QLatin1String("pending"))
        details << QStringLiteral("record pending");
    return details.join(QStringLiteral(", "));
}

} // namespace

void RecordFailed(DeviceReport *report, const QString &stage, const QString &trouble)
{
    if (report->status != ExitDone) {
        report->message += QStringLiteral("; and %1").arg(trouble);
        return;
    }
    report->status = ExitStore;
    report->stage = stage;
    report->message = QStringLiteral("the job succeeded, but %1").arg(trouble);
}

// The words a failure is found by: an engine pass, or the step before.
QString FailedPass(const DeviceReport &report)
{
    if (report.status == ExitDone)
        return QString();
    if (report.outcome && report.outcome->status != JobOutcome::Done)
        return ProgressObserver::PassName(report.outcome->pass);
    return report.stage;
}

QString StatusName(int status)
{
    if (status == ExitDone)
        return QStringLiteral("ok");
    return status == ExitInterrupted ? QStringLiteral("cancelled") : QStringLiteral("failed");
}

QString CommandName(CliCommand command)
{
    switch (command) {
    case CliCommand::Info: return QStringLiteral("info");
    case CliCommand::Write: return QStringLiteral("write");
    case CliCommand::Verify: return QStringLiteral("verify");
    case CliCommand::Read: return QStringLiteral("read");
    default: return QString();
    }
}

QJsonObject ReportJson(const DeviceReport &report)
{
    QJsonObject json;
    json["port"] = report.port;
    json["command"] = CommandName(report.command);
    json["status"] = StatusName(report.status);
    json["class"] = ClassName(report.status);
    json["seconds"] = qRound(report.seconds * 100) / 100.0;
    if (!report.file.isEmpty()) {
        json["image"] = report.file;
        json["sha256"] = QString::fromLatin1(report.sha256);
        if (report.crc32)
            json["crc32"] = Crc32Text(*report.crc32);
        json["format"] = report.format;
        json["bytes"] = report.bytes;
    }
    if (report.geometry)
        AddGeometry(json, *report.geometry);
    if (report.outcome) {
        json["pages"] = report.outcome->pagesErased;
        if (report.command == CliCommand::Write) {
            json["written"] = report.outcome->bytesWritten;
            json["pagesWritten"] = report.outcome->pagesWritten;
            json["pagesSkipped"] = report.outcome->pagesSkipped;
        }
    }
    if (report.plan)
        AddPlan(json, report);
    if (report.serial >= 0) {
        json["pool"] = report.pool;
        json["serial"] = report.serial;
        json["rework"] = report.rework;
        if (report.replaced >= 0)
            json["replaced"] = report.replaced;
        json["serialState"] = report.serialFate;
    }
    if (!report.record.isEmpty())
        json["record"] = report.record;
    if (report.status != ExitDone)
        AddFailure(json, report);
    return json;
}

QJsonObject LogRecord(const DeviceReport &report, const QDateTime &time, const QString &host,
                      const QString &station, const QString &version)
{
    QJsonObject json = ReportJson(report);
    json["time"] = time.toUTC().toString(Qt::ISODateWithMs);
    json["host"] = host;
    json["station"] = station;
    json["exit"] = report.status;
    json["version"] = version;
    return json;
}

int CombinedStatus(const QVector<int> &statuses)
{
    if (statuses.contains(ExitInterrupted))
        return ExitInterrupted;
    if (statuses.isEmpty())
        return ExitDone;
    return statuses.count(statuses.first()) == statuses.size() ? statuses.first() : int(ExitMixed);
}

QStringList SummaryTable(const QVector<DeviceReport> &reports)
{
    int portWidth = 4;
    for (const DeviceReport &report : reports)
        portWidth = std::max(portWidth, int(report.port.size()));
    QStringList rows{QStringLiteral("%1  result     bytes     time  details").arg(QStringLiteral("port"), -portWidth)};
    for (const DeviceReport &report : reports) {
        const QString row = QStringLiteral("%1  %2 %3 %4 s  %5")
                                .arg(report.port, -portWidth)
                                .arg(StatusName(report.status), -9)
                                .arg(report.bytes, 6)
                                .arg(report.seconds, 6, 'f', 2)
                                .arg(Detail(report));
        rows.append(row.trimmed());
    }
    return rows;
}

QString StationSummary(const QVector<int> &statuses)
{
    const int ok = statuses.count(ExitDone);
    const int interrupted = statuses.count(ExitInterrupted);
    QString text = QStringLiteral("%1 %2 succeeded, %3 failed")
                       .arg(ok).arg(ok == 1 ? QStringLiteral("device") : QStringLiteral("devices"))
                       .arg(statuses.size() - ok - interrupted);
    if (interrupted > 0)
        text += QStringLiteral(", %1 interrupted").arg(interrupted);
    return text;
}
