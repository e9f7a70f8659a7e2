#include "journal.h"

#include "filesync.h"
#include "jobrecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>


namespace {

const QString Suffix = QStringLiteral(".journal");

QJsonObject RecordJson(const JobRecord &record)
{
    QJsonObject json{{"time", record.time.toUTC().toString(Qt::ISODateWithMs)}, {"station", record.station},
                     {"port", record.port}, {"portPath", record.portPath}, {"version", record.version},
                     {"command", record.command}, {"image", record.image}, {"sha256", record.sha256},
                     {"crc32", record.crc32}, {"pool", record.pool}, {"serial", record.serial},
                     {"rework", record.rework}, {"replaced", record.replaced}, {"class", record.resultClass}, {"exitCode", record.exitCode},
                     {"pass", record.pass}, {"seconds", record.seconds}, {"bytesWritten", record.bytesWritten},
                     {"pagesErased", record.pagesErased}, {"pagesWritten", record.pagesWritten},
                     {"pagesSkipped", record.pagesSkipped}};
    if (record.address)
        json["address"] = qint64(*record.address);
    return json;
}

JobRecord RecordFrom(const QJsonObject &json, const QString &job)
{
    JobRecord record;
    record.jobId = job;
    record.time = QDateTime::fromString(json["time"].toString(), Qt::ISODateWithMs).toUTC();
    record.station = json["station"].toString();
    record.port = json["port"].toString();
    record.portPath = json["portPath"].toString();
    record.version = json["version"].toString();
    record.command = json["command"].toString();
    record.image = json["image"].toString();
    record.sha256 = json["sha256"].toString();
    record.crc32 = json["crc32"].toString();
    record.pool = json["pool"].toString();
    record.serial = json["serial"].toVariant().toLongLong();
    record.rework = json["rework"].toBool();
    record.replaced = json.contains("replaced") ? json["replaced"].toVariant().toLongLong() : -1;
    record.resultClass = json["class"].toString();
    record.exitCode = json["exitCode"].toInt();
    record.pass = json["pass"].toString();
    if (json.contains("address"))
        record.address = quint32(json["address"].toVariant().toLongLong());
    record.seconds = json["seconds"].toDouble();
    record.bytesWritten = json["bytesWritten"].toVariant().toLongLong();
    record.pagesErased = json["pagesErased"].toInt();
    record.pagesWritten = json["pagesWritten"].toInt();
    record.pagesSkipped = json["pagesSkipped"].toInt();
    return record;
}

QByteArray Line(const QJsonObject &entry)
{
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray DeliveredLine(const QString &job)
{
    return Line({{"entry", "delivered"}, {"job", job}});
}

// What a journal's lines still owe the store.
struct Owed
{
    QVector<JournalEntry> entries;      // for the store asked about, in the order their jobs ended
    int elsewhere = 0;                  // records for other stores
    bool torn = false;                  // the last line was cut short (its writer died in it)
};

// Jobs that never ended come after those that did, as killed: their
// process died at the end of its journal.
Owed Read(const QString &path, const QString &store)
{
    struct Job { std::optional<JobRecord> begun; std::optional<JournalEntry> ended; bool delivered = false; QString store; };
    QFile file(path);
    Owed owed;
    if (!file.open(QIODevice::ReadOnly))
        return owed;
    const QByteArray text = file.readAll();
    owed.torn = !text.isEmpty() && !text.endsWith('\n');
    QMap<QString, Job> jobs;
    QStringList order, begun;
    for (const QByteArray &line : text.split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString id = entry["job"].toString(), kind = entry["entry"].toString();
        if (id.isEmpty())
            continue;       // a line cut short, or not ours
        Job &job = jobs[id];
        if (kind == QLatin1String("begun")) {
            job.begun = RecordFrom(entry["record"].toObject(), id);
            job.store = entry["store"].toString();
            begun << id;
        } else if (kind == QLatin1String("ended") && !job.ended) {
            job.ended = JournalEntry{RecordFrom(entry["record"].toObject(), id), SerialStateNamed(entry["state"].toString())};
            job.store = entry["store"].toString();
            order << id;
        } else if (kind == QLatin1String("delivered")) {
            job.delivered = true;
        }
    }
    for (const QString &id : qAsConst(begun)) {
        if (!jobs[id].ended)
            order << id;
    }
    for (const QString &id : qAsConst(order)) {
        const Job &job = jobs[id];
        if (job.delivered)
            continue;
        if (job.store != store)
            ++owed.elsewhere;
        else
            owed.entries << (job.ended ? *job.ended : JournalEntry{KilledRecord(*job.begun), std::nullopt});
    }
    return owed;
}

QString Unwritten(const QString &path, const QString &why)
{
    return QStringLiteral("cannot write the journal %1: %2").arg(path, why);
}

// Calls visit(path) for each journal in folder whose process has ended,
// oldest first, holding its lock meanwhile; a journal whose process runs
// is that process's to deliver.
template <typename Visit>
void ForLeft(const QString &folder, Visit visit)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QLatin1Char('*') + Suffix}, QDir::Files, QDir::Name)) {
        QLockFile lock(dir.filePath(name) + QStringLiteral(".lock"));
        // Stale only when its process is gone, never by age: a station
        // runs for days.
        lock.setStaleLockTime(0);
        if (lock.tryLock(0))
            visit(dir.filePath(name));
    }
}

} // namespace

Journal::~Journal()
{
    if (!file.isOpen())
        return;
    const bool done = waiting.isEmpty() && running.isEmpty();
    file.close();
    if (done)
        file.remove();
}

QString Journal::Open(const QString &folder, const QString &store)
{
    this->folder = folder;
    this->store = store;
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the journal folder %1").arg(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("%1-%2%3")
        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
        .arg(QCoreApplication::applicationPid()).arg(Suffix));
    lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return QStringLiteral("cannot lock the journal %1").arg(path);
    file.setFileName(path);
    // Unbuffered: a line is on its way to the disk once written.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return Unwritten(path, file.errorString());
    return QString();
}

QString Journal::Append(const QByteArray &line, bool sync)
{
    if (file.write(line) != line.size())
        return Unwritten(Path(), file.errorString());
    const QString unsynced = sync ? SyncToDisk(file) : QString();
    return unsynced.isEmpty() ? QString() : Unwritten(Path(), unsynced);
}

QString Journal::Begin(const JobRecord &known)
{
    const QString trouble = Append(Line({{"entry", "begun"}, {"job", known.jobId}, {"store", store},
                                         {"record", RecordJson(known)}}), true);
    if (trouble.isEmpty())
        running << known.jobId;
    return trouble;
}

QString Journal::End(const JobRecord &record, std::optional<SerialState> state)
{
    QJsonObject entry{{"entry", "ended"}, {"job", record.jobId}, {"store", store}, {"record", RecordJson(record)}};
    if (state)
        entry["state"] = SerialStateName(*state);
    const QString trouble = Append(Line(entry), true);
    running.removeAll(record.jobId);
    if (trouble.isEmpty())
        waiting << JournalEntry{record, state};
    return trouble;
}

JournalDelivery Journal::Deliver(RecordStore &records)
{
    JournalDelivery delivery = DeliverLeft(folder, store, records);
    while (delivery.error.isEmpty() && !waiting.isEmpty()) {
        const JournalEntry &entry = waiting.first();
        const StoreResult<bool> finished = records.Finish(entry.record, entry.state);
        if (!finished.Ok()) {
            delivery.error = finished.error;
            break;
        }
        // Lost with a crash, the mark costs the store one more look: the
        // record is stored once whatever.
        Append(DeliveredLine(entry.record.jobId), false);
        delivery.delivered << entry.record.jobId;
        waiting.removeFirst();
    }
    if (!waiting.isEmpty() && delivery.file.isEmpty())
        delivery.file = Path();
    delivery.waiting += int(waiting.size());
    return delivery;
}

int LeftRecords(const QString &folder, const QString &store)
{
    int records = 0;
    ForLeft(folder, [&](const QString &path) { records += int(Read(path, store).entries.size()); });
    return records;
}

JournalDelivery DeliverLeft(const QString &folder, const QString &store, RecordStore &records)
{
    JournalDelivery delivery;
    ForLeft(folder, [&](const QString &path) {
        const Owed owed = Read(path, store);
        int taken = 0;
        QFile file(path);
        if (!owed.entries.isEmpty() && delivery.error.isEmpty()
            && file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            // A mark must not run on from a line its writer died in.
            if (owed.torn)
                file.write("\n");
            for (const JournalEntry &entry : owed.entries) {
                const StoreResult<bool> finished = records.Finish(entry.record, entry.state);
                if (!finished.Ok()) {
                    delivery.error = finished.error;
                    break;
                }
                file.write(DeliveredLine(entry.record.jobId));
                delivery.delivered << entry.record.jobId;
                ++taken;
            }
            file.close();
        }
        const int left = int(owed.entries.size()) - taken;
        if (left == 0 && owed.elsewhere == 0)
            QFile::remove(path);
        if (left > 0 && delivery.file.isEmpty())
            delivery.file = path;
        delivery.waiting += left;
    });
    return delivery;
}
