#include "storereport.h"

#include "messages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace {

using Row = QVector<QPair<QString, QVariant>>;     // column name and value, in order

QString Time(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

Row JobRow(const JobRecord &job)
{
    return {{"time", Time(job.time)}, {"station", job.station}, {"port", job.port}, {"portPath", job.portPath},
            {"command", job.command}, {"class", job.resultClass}, {"exitCode", job.exitCode},
            {"pool", job.pool}, {"serial", job.serial >= 0 ? QVariant(job.serial) : QVariant()},
            {"rework", job.rework}, {"replaced", job.replaced >= 0 ? QVariant(job.replaced) : QVariant()}, {"pass", job.pass},
            {"address", job.address ? QVariant(Hex(*job.address)) : QVariant()},
            {"seconds", job.seconds}, {"written", job.bytesWritten}, {"pagesErased", job.pagesErased},
            {"pagesWritten", job.pagesWritten}, {"pagesSkipped", job.pagesSkipped},
            {"image", job.image}, {"sha256", job.sha256}, {"crc32", job.crc32}, {"version", job.version}};
}

// Reserved with no job running means the job never ended.
QString Shown(SerialState state)
{
    return state == SerialState::Reserved ? QStringLiteral("in doubt") : SerialStateName(state);
}

Row EntryRow(const SerialEntry &entry)
{
    return {{"pool", entry.pool}, {"serial", entry.serial}, {"state", Shown(entry.state)}, {"station", entry.station},
            {"port", entry.port}, {"since", Time(entry.changed)}};
}

Row SettlementRow(const Settlement &settlement)
{
    return {{"time", Time(settlement.time)}, {"pool", settlement.pool}, {"serial", settlement.serial},
            {"from", Shown(settlement.from)}, {"to", Shown(settlement.to)}, {"by", settlement.who},
            {"station", settlement.station}, {"why", settlement.why}};
}

QString Text(const QVariant &value)
{
    if (value.isNull())
        return QString();
    if (value.userType() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    if (value.userType() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', 2);
    return value.toString();
}

// RFC 4180: a field with a comma, a quote or a line break is quoted.
QString CsvField(const QString &text)
{
    if (!text.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// columns: those a table shows, the rest being for CSV and JSON.
QStringList Lay(const QVector<Row> &rows, const QStringList &header, const QStringList &columns,
                const CliOptions &options)
{
    QStringList lines;
    if (options.json) {
        for (const Row &row : rows) {
            QJsonObject json;
            for (const auto &cell : row) {
                if (!cell.second.isNull())
                    json[cell.first] = QJsonValue::fromVariant(cell.second);
            }
            lines.append(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
        }
        return lines;
    }
    // RFC 4180 ends every line, the last one too, in CRLF; the LF is the
    // one every line is said with.
    if (options.csv) {
        lines.append(header.join(QLatin1Char(',')) + QLatin1Char('\r'));
        for (const Row &row : rows) {
            QStringList fields;
            for (const auto &cell : row)
                fields.append(CsvField(Text(cell.second)));
            lines.append(fields.join(QLatin1Char(',')) + QLatin1Char('\r'));
        }
        return lines;
    }
    QVector<QStringList> cells{columns};
    for (const Row &row : rows) {
        QStringList line;
        for (const QString &column : columns) {
            const auto found = std::find_if(row.begin(), row.end(), [&](const auto &cell) { return cell.first == column; });
            line.append(found == row.end() ? QString() : Text(found->second));
        }
        cells.append(line);
    }
    QVector<int> widths(columns.size(), 0);
    for (const QStringList &line : cells)
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], int(line.at(i).size()));
    for (const QStringList &line : cells) {
        QString text;
        for (int i = 0; i < line.size(); ++i)
            text += QStringLiteral("%1  ").arg(line.at(i), -widths[i]);
        lines.append(text.trimmed());
    }
    return lines;
}

QStringList Names(const Row &row)
{
    QStringList names;
    for (const auto &cell : row)
        names.append(cell.first);
    return names;
}

JobFilter Filter(const CliOptions &options)
{
    JobFilter filter;
    filter.pool = options.serialPool;
    filter.serial = options.serial;
    filter.day = options.day;
    filter.station = options.station;
    return filter;
}

int Print(const QStringList &lines)
{
    for (const QString &line : lines)
        Say(stdout, line);
    return ExitDone;
}

} // namespace

QStringList JobLines(const QVector<JobRecord> &jobs, const CliOptions &options)
{
    QVector<Row> rows;
    for (const JobRecord &job : jobs)
        rows.append(JobRow(job));
    return Lay(rows, Names(JobRow(JobRecord())),
               {"time", "station", "port", "command", "class", "pool", "serial", "rework", "replaced", "pass", "address",
                "seconds"},
               options);
}

QStringList CountLines(const QVector<QPair<QString, int>> &counts, const CliOptions &options)
{
    QVector<Row> rows;
    for (const auto &count : counts)
        rows.append({{"class", count.first}, {"jobs", count.second}});
    return Lay(rows, {"class", "jobs"}, {"class", "jobs"}, options);
}

QStringList UnsettledLines(const QVector<SerialEntry> &entries, const CliOptions &options)
{
    QVector<Row> rows;
    for (const SerialEntry &entry : entries)
        rows.append(EntryRow(entry));
    const QStringList columns = Names(EntryRow(SerialEntry()));
    return Lay(rows, columns, columns, options);
}

QStringList SettlementLines(const QVector<Settlement> &settlements, const CliOptions &options)
{
    QVector<Row> rows;
    for (const Settlement &settlement : settlements)
        rows.append(SettlementRow(settlement));
    const QStringList columns = Names(SettlementRow(Settlement()));
    return Lay(rows, columns, columns, options);
}

int OpenStore(RecordStore &store, const QString &db, StoreMode mode)
{
    const StoreResult<bool> opened = store.Open(ParseStoreAddress(db).value, mode);
    return opened.Ok() ? int(ExitDone) : Fail(ExitStore, StoreFailure(opened.error));
}

int RunReport(const CliOptions &options)
{
    RecordStore store;
    if (OpenStore(store, options.db, StoreMode::ReadOnly) != ExitDone)
        return ExitStore;
    if (options.inDoubt) {
        const StoreResult<QVector<SerialEntry>> entries = store.Unsettled(Filter(options));
        return entries.Ok() ? Print(UnsettledLines(entries.value, options)) : Fail(ExitStore, StoreFailure(entries.error));
    }
    if (options.settlements) {
        const StoreResult<QVector<Settlement>> settled = store.Settlements(Filter(options));
        return settled.Ok() ? Print(SettlementLines(settled.value, options)) : Fail(ExitStore, StoreFailure(settled.error));
    }
    if (options.counts) {
        const StoreResult<QVector<QPair<QString, int>>> counts = store.CountByClass(Filter(options));
        return counts.Ok() ? Print(CountLines(counts.value, options)) : Fail(ExitStore, StoreFailure(counts.error));
    }
    const StoreResult<QVector<JobRecord>> jobs = store.Jobs(Filter(options));
    return jobs.Ok() ? Print(JobLines(jobs.value, options)) : Fail(ExitStore, StoreFailure(jobs.error));
}

int RunSettle(const CliOptions &options)
{
    RecordStore store;
    if (OpenStore(store, options.db, StoreMode::Existing) != ExitDone)
        return ExitStore;
    Settlement settlement;
    settlement.pool = options.serialPool;
    settlement.serial = *options.serial;
    settlement.to = *options.settleTo;
    settlement.who = options.by;
    settlement.why = options.why;
    settlement.station = options.station;
    const StoreResult<SerialState> settled = store.Settle(settlement);
    if (!settled.Ok())
        return settled.refused ? Fail(ExitUsage, settled.error) : Fail(ExitStore, StoreFailure(settled.error));
    Say(stdout, QStringLiteral("number %1 of pool %2 was %3, now %4 (settled by %5: %6)")
                    .arg(settlement.serial)
                    .arg(settlement.pool, Shown(settled.value), Shown(settlement.to), settlement.who, settlement.why));
    return ExitDone;
}
