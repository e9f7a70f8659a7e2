#include "recordstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {

// The schema, one step per version: step i takes a database from version i
// to i + 1, so a new version is one more step at the end; a step already in
// the field never changes. Times are UTC text of fixed width
// (2026-03-01T10:00:00.000Z), the same in both databases and in time order
// when compared as text. A job without a pool has pool '' and serial -1.
QVector<QStringList> SchemaSteps(StoreAddress::Kind kind)
{
    const QString id = kind == StoreAddress::Postgres ? QStringLiteral("BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY")
                                                      : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    return {
        {
            QStringLiteral("CREATE TABLE pools (name TEXT PRIMARY KEY, next_serial BIGINT NOT NULL)"),
            // The key makes a second row for one number impossible, whatever
            // the code above it does.
            QStringLiteral("CREATE TABLE serials (pool TEXT NOT NULL REFERENCES pools (name), serial BIGINT NOT NULL,"
                           " state TEXT NOT NULL CHECK (state IN ('reserved', 'committed', 'free', 'void', 'held')),"
                           " station TEXT NOT NULL, port TEXT NOT NULL, changed TEXT NOT NULL,"
                           " PRIMARY KEY (pool, serial))"),
            QStringLiteral("CREATE INDEX serials_by_state ON serials (state, pool, serial)"),
            QStringLiteral("CREATE TABLE jobs (id %1, ended TEXT NOT NULL, station TEXT NOT NULL, port TEXT NOT NULL,"
                           " port_path TEXT NOT NULL, version TEXT NOT NULL, command TEXT NOT NULL, image TEXT NOT NULL,"
                           " sha256 TEXT NOT NULL, pool TEXT NOT NULL, serial BIGINT NOT NULL, rework INTEGER NOT NULL,"
                           " result_class TEXT NOT NULL, exit_code INTEGER NOT NULL, pass TEXT NOT NULL, address BIGINT,"
                           " seconds DOUBLE PRECISION NOT NULL, bytes_written BIGINT NOT NULL,"
                           " pages_erased INTEGER NOT NULL)").arg(id),
            QStringLiteral("CREATE INDEX jobs_by_time ON jobs (ended)"),
            QStringLiteral("CREATE INDEX jobs_by_serial ON jobs (pool, serial)"),
        },
        // Jobs that leave unchanged pages alone, and the image's CRC-32.
        // Records from before have '' and 0.
        {
            QStringLiteral("ALTER TABLE jobs ADD COLUMN crc32 TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE jobs ADD COLUMN pages_written INTEGER NOT NULL DEFAULT 0"),
            QStringLiteral("ALTER TABLE jobs ADD COLUMN pages_skipped INTEGER NOT NULL DEFAULT 0"),
        },
        // Records that reach the store once whatever happens on the way
        // (job_id: NULL before, and NULLs never clash), the number a board
        // carried when it was given another, the job that reserved a number
        // (a reservation asked again after a lost answer finds its own),
        // pools that know their first and last numbers (NULL: not known), and who settled a number by hand, and why.
        {
            QStringLiteral("ALTER TABLE jobs ADD COLUMN job_id TEXT"),
            QStringLiteral("CREATE UNIQUE INDEX jobs_by_id ON jobs (job_id)"),
            QStringLiteral("ALTER TABLE jobs ADD COLUMN replaced BIGINT NOT NULL DEFAULT -1"),
            QStringLiteral("ALTER TABLE serials ADD COLUMN job TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE pools ADD COLUMN first_serial BIGINT"),
            QStringLiteral("ALTER TABLE pools ADD COLUMN last_serial BIGINT"),
            QStringLiteral("CREATE TABLE settlements (id %1, settled TEXT NOT NULL, pool TEXT NOT NULL,"
                           " serial BIGINT NOT NULL, from_state TEXT NOT NULL, to_state TEXT NOT NULL,"
                           " who TEXT NOT NULL, why TEXT NOT NULL, station TEXT NOT NULL)").arg(id),
        },
    };
}

const QString JobColumns = QStringLiteral(
    "ended, station, port, port_path, version, command, image, sha256, pool, serial, rework, result_class,"
    " exit_code, pass, address, seconds, bytes_written, pages_erased, crc32, pages_written, pages_skipped, replaced");

constexpr int Attempts = 5;

struct Failure
{
    QString text;
    bool transient = false;     // busy, or a lock conflict: worth another try
    bool whole = false;         // says it all, without the action in front
};

Failure SqlFailure(const QSqlError &error, StoreAddress::Kind kind)
{
    const QString code = error.nativeErrorCode();
    bool transient;
    if (kind == StoreAddress::Postgres)    // serialization_failure, deadlock_detected, lock_not_available
        transient = code == QLatin1String("40001") || code == QLatin1String("40P01") || code == QLatin1String("55P03");
    else                                   // SQLITE_BUSY, SQLITE_LOCKED and their extended codes
        transient = (code.toInt() & 0xff) == 5 || (code.toInt() & 0xff) == 6;
    QString text = error.databaseText().simplified();
    return {text.isEmpty() ? error.driverText().simplified() : text, transient, false};
}

QString Stamp(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// A null QString is bound as NULL; the text columns hold '' instead.
QString Text(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

QVariant NullInteger()
{
#if QT_VERSION_MAJOR >= 6
    return QVariant(QMetaType::fromType<qint64>());
#else
    return QVariant(QVariant::LongLong);
#endif
}

std::optional<SerialState> StateNamed(const QString &name)
{
    for (SerialState state : {SerialState::Reserved, SerialState::Committed, SerialState::Free, SerialState::Void,
                              SerialState::Held}) {
        if (SerialStateName(state) == name)
            return state;
    }
    return std::nullopt;
}

// One connection's statements, each prepared with bound values. The first
// failure is kept for the caller to roll back and tell; every statement
// after it does nothing, so that a body checks only before it uses a result.
struct Sql
{
    Sql(const QSqlDatabase &db, StoreAddress::Kind kind) : db(db), kind(kind) {}

    QSqlDatabase db;
    StoreAddress::Kind kind;
    std::optional<Failure> failure;
    // PostgreSQL frees a statement only outside a failed transaction, so the
    // one that failed lives until the rollback.
    std::optional<QSqlQuery> failed;

    // The store's own refusal, as a failure. One already there stays: it is
    // what went wrong first (the look-up that words a refusal can fail too).
    void Fail(const QString &text, bool whole = false)
    {
        if (!failure)
            failure = Failure{text, false, whole};
    }

    // Once a failure stands, runs nothing and gives a query without rows.
    QSqlQuery Exec(const QString &statement, const QVariantList &values = {})
    {
        if (failure)
            return QSqlQuery(db);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        // Without values, as is: PostgreSQL cannot prepare DDL or BEGIN.
        const bool done = values.isEmpty() ? query.exec(statement) : query.prepare(statement) && Bind(query, values);
        if (done)
            return query;
        failed.emplace(std::move(query));
        failure = SqlFailure(failed->lastError(), kind);
        return QSqlQuery(db);
    }
    // The first column of the first row; null when there is none.
    QVariant Value(const QString &statement, const QVariantList &values = {})
    {
        QSqlQuery query = Exec(statement, values);
        return query.next() ? query.value(0) : QVariant();
    }
    int Changed(const QString &statement, const QVariantList &values)
    {
        return Exec(statement, values).numRowsAffected();
    }

    static bool Bind(QSqlQuery &query, const QVariantList &values)
    {
        for (const QVariant &value : values)
            query.addBindValue(value);
        return query.exec();
    }

    // Runs body again when the database was busy or the transaction lost a
    // lock conflict; any other failure stays, and nothing runs once one does.
    template <typename Body>
    void Retry(Body body)
    {
        for (int attempt = 1; !failure; ++attempt) {
            body();
            if (!failure || !failure->transient)
                return;
            if (attempt == Attempts) {
                failure = Failure{QStringLiteral("still busy after %1 tries (%2)").arg(Attempts).arg(failure->text)};
                return;
            }
            failure.reset();
            QThread::msleep(20 * attempt + QRandomGenerator::global()->bounded(20));
        }
    }

    // Runs body as one transaction, rolled back on any failure. SQLite's
    // takes the write lock at BEGIN (Qt's own BEGIN is deferred): a reader
    // that wants to write later could find another writer's commit in
    // between and fail instead of waiting.
    template <typename Body>
    void Transaction(Body body)
    {
        Retry([&] {
            if (kind == StoreAddress::Sqlite)
                Exec(QStringLiteral("BEGIN IMMEDIATE"));
            else if (!db.transaction())
                failure = SqlFailure(db.lastError(), kind);
            if (!failure)
                body();
            if (!failure && !db.commit())
                failure = SqlFailure(db.lastError(), kind);
            if (failure) {
                db.rollback();
                failed.reset();
            }
        });
    }
};

// The value of body, or the error of the failure it left in sql, told after
// action unless it says it all.
template <typename T, typename Body>
StoreResult<T> Attempt(Sql &sql, bool ready, const QString &action, Body body)
{
    StoreResult<T> result;
    if (!ready)
        sql.Fail(QStringLiteral("the store is not open"));
    else if (T value = body(); !sql.failure)
        result.value = std::move(value);
    if (sql.failure)
        result.error = sql.failure->whole ? sql.failure->text : action + QStringLiteral(": ") + sql.failure->text;
    return result;
}

// The database as errors name it: without the user, as no message shows
// user information.
QString Describe(const StoreAddress &address)
{
    if (address.kind == StoreAddress::Sqlite)
        return address.file;
    QString text = QStringLiteral("postgresql://");
    text += address.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + address.host + QLatin1Char(']') : address.host;
    if (address.port > 0)
        text += QLatin1Char(':') + QString::number(address.port);
    return text + QLatin1Char('/') + address.database;
}

// Why a number cannot change as asked, from its state.
QString NumberIs(Sql &sql, const QString &pool, qint64 serial, const QString &unlike)
{
    const QVariant state = sql.Value(QStringLiteral("SELECT state FROM serials WHERE pool = ? AND serial = ?"),
                                     {pool, serial});
    if (state.isNull())
        return QStringLiteral("pool '%1' never gave out number %2").arg(pool).arg(serial);
    return QStringLiteral("number %1 of pool '%2' is %3, %4").arg(serial).arg(pool, state.toString(), unlike);
}

// Rows of pool, serial, state, station, port, changed.
QVector<SerialEntry> Entries(QSqlQuery &query)
{
    QVector<SerialEntry> entries;
    while (query.next()) {
        SerialEntry entry;
        entry.pool = query.value(0).toString();
        entry.serial = query.value(1).toLongLong();
        entry.state = StateNamed(query.value(2).toString()).value_or(SerialState::Reserved);
        entry.station = query.value(3).toString();
        entry.port = query.value(4).toString();
        entry.changed = QDateTime::fromString(query.value(5).toString(), Qt::ISODateWithMs).toUTC();
        entries << entry;
    }
    return entries;
}

} // namespace

QString SerialStateName(SerialState state)
{
    switch (state) {
    case SerialState::Reserved: return QStringLiteral("reserved");
    case SerialState::Committed: return QStringLiteral("committed");
    case SerialState::Free: return QStringLiteral("free");
    case SerialState::Void: return QStringLiteral("void");
    case SerialState::Held: return QStringLiteral("held");
    }
    return QString();
}

RecordStore::RecordStore() = default;

RecordStore::~RecordStore()
{
    Drop();
}

void RecordStore::Drop()
{
    ready = false;
    if (connection.isEmpty())
        return;
    // The handle must be gone before the connection is removed.
    QSqlDatabase::database(connection, false).close();
    QSqlDatabase::removeDatabase(connection);
    connection.clear();
}

bool RecordStore::IsOpen() const
{
    return ready && QSqlDatabase::database(connection, false).isOpen();
}

StoreResult<bool> RecordStore::Open(const StoreAddress &address)
{
    Drop();
    kind = address.kind;
    name = Describe(address);
    const bool sqlite = kind == StoreAddress::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    StoreResult<bool> result;
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        const QString package = QStringLiteral("libqt%1sql%1-%2").arg(QT_VERSION_MAJOR).arg(sqlite ? "sqlite" : "psql");
        result.error = QStringLiteral("cannot open %1: Qt has no %2 driver here (the Debian package %3 brings it)")
                           .arg(name, driver, package);
        return result;
    }
    static std::atomic<int> count{0};
    connection = QStringLiteral("tamrivo-store-%1").arg(++count);
    Sql sql{QSqlDatabase::addDatabase(driver, connection), kind};
    if (sqlite) {
        const QDir folder = QFileInfo(address.file).absoluteDir();
        if (!folder.exists() && !folder.mkpath(QStringLiteral("."))) {
            result.error = QStringLiteral("cannot open %1: cannot make the folder %2").arg(name, folder.path());
            return result;
        }
        sql.db.setDatabaseName(address.file);
        // Another station's transaction is waited for, not failed on.
        sql.db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        sql.db.setHostName(address.host);
        if (address.port > 0)
            sql.db.setPort(address.port);
        sql.db.setUserName(address.user);
        sql.db.setDatabaseName(address.database);
        // No password: libpq takes it from PGPASSWORD or ~/.pgpass.
        sql.db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
    if (!sql.db.open()) {
        result.error = QStringLiteral("cannot open %1: %2").arg(name, SqlFailure(sql.db.lastError(), kind).text);
        return result;
    }
    // The server's notices (a table that already exists) are not for the
    // station's screen.
    if (!sqlite)
        QSqlQuery(QStringLiteral("SET client_min_messages = warning"), sql.db);

    const QVector<QStringList> steps = SchemaSteps(kind);
    result = Attempt<bool>(sql, true, QStringLiteral("cannot open %1").arg(name), [&] {
        if (sqlite) {
            // A committed record must survive a power loss; WAL lets the
            // reports read while a station writes. Outside the transaction:
            // SQLite does not switch journals inside one.
            sql.Retry([&] {
                sql.Exec(QStringLiteral("PRAGMA journal_mode = WAL"));
                sql.Exec(QStringLiteral("PRAGMA synchronous = FULL"));
                sql.Exec(QStringLiteral("PRAGMA foreign_keys = ON"));
            });
        }
        // Two stations meeting a new database at once: one makes the schema,
        // the other waits for it and finds it made.
        sql.Transaction([&] {
            if (!sqlite)
                sql.Exec(QStringLiteral("SELECT pg_advisory_xact_lock(7243158490)"));
            sql.Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"));
            const int version = sql.Value(QStringLiteral("SELECT MAX(version) FROM schema_version")).toInt();
            if (sql.failure)
                return;
            if (version > steps.size()) {
                sql.Fail(QStringLiteral("%1 was made by a newer tamrivo-cli (schema version %2; this one knows up to %3)")
                             .arg(name).arg(version).arg(steps.size()), true);
                return;
            }
            for (int step = version; step < steps.size(); ++step) {
                for (const QString &statement : steps.at(step))
                    sql.Exec(statement);
            }
            if (version < steps.size()) {
                sql.Exec(QStringLiteral("DELETE FROM schema_version"));
                sql.Exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), {int(steps.size())});
            }
        });
        return true;
    });
    ready = result.Ok();
    if (!ready)
        sql.db.close();
    return result;
}

StoreResult<qint64> RecordStore::Reserve(const QString &pool, qint64 first, const QString &station,
                                         const QString &port)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<qint64>(sql, ready, QStringLiteral("cannot reserve a number of pool '%1'").arg(pool), [&] {
        qint64 serial = -1;
        if (pool.isEmpty() || first < 0) {
            sql.Fail(QStringLiteral("a pool needs a name and a first number of 0 or more"));
            return serial;
        }
        sql.Transaction([&] {
            sql.Exec(QStringLiteral("INSERT INTO pools (name, next_serial) VALUES (?, ?) ON CONFLICT (name) DO NOTHING"),
                     {pool, first});
            // Locking the pool's row lines up every reserver of the pool on
            // PostgreSQL; on SQLite, BEGIN IMMEDIATE already did.
            const QString lock = kind == StoreAddress::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
            const QVariant next = sql.Value(QStringLiteral("SELECT next_serial FROM pools WHERE name = ?") + lock, {pool});
            if (!sql.failure && next.isNull())
                sql.Fail(QStringLiteral("the pool's row is missing"));
            const QVariant freed = sql.Value(QStringLiteral("SELECT MIN(serial) FROM serials WHERE state = ? AND pool = ?"),
                                             {SerialStateName(SerialState::Free), pool});
            if (sql.failure)
                return;
            const QVariantList change{SerialStateName(SerialState::Reserved), Text(station), Text(port),
                                      Stamp(QDateTime::currentDateTimeUtc())};
            if (!freed.isNull()) {
                serial = freed.toLongLong();
                sql.Exec(QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                                        " WHERE pool = ? AND serial = ?"), change + QVariantList{pool, serial});
            } else {
                serial = next.toLongLong();
                sql.Exec(QStringLiteral("INSERT INTO serials (state, station, port, changed, pool, serial)"
                                        " VALUES (?, ?, ?, ?, ?, ?)"), change + QVariantList{pool, serial});
                sql.Exec(QStringLiteral("UPDATE pools SET next_serial = ? WHERE name = ?"), {serial + 1, pool});
            }
        });
        return serial;
    });
}

StoreResult<std::optional<SerialState>> RecordStore::StateOf(const QString &pool, qint64 serial)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    const QString action = QStringLiteral("cannot look up number %1 of pool '%2'").arg(serial).arg(pool);
    return Attempt<std::optional<SerialState>>(sql, ready, action, [&] {
        return StateNamed(sql.Value(QStringLiteral("SELECT state FROM serials WHERE pool = ? AND serial = ?"),
                                    {pool, serial}).toString());
    });
}

StoreResult<QVector<SerialEntry>> RecordStore::Known(const QString &pool, const QVector<qint64> &serials,
                                                     const QString &station, const QString &port)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<SerialEntry>>(sql, ready, QStringLiteral("cannot look up numbers of pool '%1'").arg(pool), [&] {
        QVariantList values{pool, SerialStateName(SerialState::Reserved), Text(station), Text(port)};
        QStringList marks;
        for (qint64 serial : serials) {
            marks << QStringLiteral("?");
            values << serial;
        }
        const QString numbers = marks.isEmpty() ? QString()
                                                : QStringLiteral(" OR serial IN (%1)").arg(marks.join(QStringLiteral(", ")));
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT pool, serial, state, station, port, changed FROM serials"
                                                  " WHERE pool = ? AND ((state = ? AND station = ? AND port = ?)%1)"
                                                  " ORDER BY serial").arg(numbers), values);
        return Entries(query);
    });
}

StoreResult<bool> RecordStore::ClaimForRework(const QString &pool, qint64 serial, const QString &station,
                                              const QString &port)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    const QString action = QStringLiteral("cannot keep number %1 of pool '%2' for rework").arg(serial).arg(pool);
    return Attempt<bool>(sql, ready, action, [&] {
        bool claimed = false;
        sql.Transaction([&] {
            // The state is asked again here, in the change itself: another
            // station may have settled the number since it was looked up.
            claimed = 1 == sql.Changed(
                QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                               " WHERE pool = ? AND serial = ? AND state IN (?, ?, ?)"),
                {SerialStateName(SerialState::Reserved), Text(station), Text(port),
                 Stamp(QDateTime::currentDateTimeUtc()), pool, serial, SerialStateName(SerialState::Committed),
                 SerialStateName(SerialState::Held), SerialStateName(SerialState::Reserved)});
        });
        return claimed;
    });
}

StoreResult<QVector<qint64>> RecordStore::VoidUnsettled(const QString &pool, const QVector<qint64> &serials,
                                                        const QString &station, const QString &port)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<qint64>>(sql, ready, QStringLiteral("cannot void numbers of pool '%1'").arg(pool), [&] {
        QVector<qint64> voided;
        if (serials.isEmpty())
            return voided;
        sql.Transaction([&] {
            voided.clear();
            const QString now = Stamp(QDateTime::currentDateTimeUtc());
            for (qint64 serial : serials) {
                if (1 == sql.Changed(QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                                                    " WHERE pool = ? AND serial = ?"
                                                    " AND (state = ? OR (state = ? AND station = ? AND port = ?))"),
                                     {SerialStateName(SerialState::Void), Text(station), Text(port), now, pool, serial,
                                      SerialStateName(SerialState::Held), SerialStateName(SerialState::Reserved),
                                      Text(station), Text(port)}))
                    voided << serial;
            }
        });
        return voided;
    });
}

StoreResult<bool> RecordStore::Finish(const JobRecord &record, std::optional<SerialState> state)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    const QString action = record.serial >= 0
        ? QStringLiteral("cannot record the job of number %1 of pool '%2'").arg(record.serial).arg(record.pool)
        : QStringLiteral("cannot record the job");
    return Attempt<bool>(sql, ready, action, [&] {
        const QString ended = Stamp(record.time.isValid() ? record.time : QDateTime::currentDateTimeUtc());
        sql.Transaction([&] {
            // Only a number this job holds: a failure here leaves it
            // reserved, in doubt, which keeps it off every other board.
            if (record.serial >= 0) {
                const int changed = sql.Changed(
                    QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                                   " WHERE pool = ? AND serial = ? AND state = ?"),
                    {SerialStateName(state.value_or(SerialState::Reserved)), Text(record.station), Text(record.port),
                     ended, record.pool, record.serial, SerialStateName(SerialState::Reserved)});
                if (!sql.failure && changed != 1)
                    sql.Fail(NumberIs(sql, record.pool, record.serial, QStringLiteral("not reserved")));
            }
            sql.Exec(QStringLiteral("INSERT INTO jobs (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                         .arg(JobColumns),
                     {ended, Text(record.station), Text(record.port), Text(record.portPath), Text(record.version),
                      Text(record.command), Text(record.image), Text(record.sha256),
                      Text(record.serial >= 0 ? record.pool : QString()), qMax(record.serial, qint64(-1)),
                      int(record.rework), Text(record.resultClass), record.exitCode, Text(record.pass),
                      record.address ? QVariant(qint64(*record.address)) : NullInteger(), record.seconds,
                      record.bytesWritten, record.pagesErased, Text(record.crc32), record.pagesWritten,
                      record.pagesSkipped, qMax(record.replaced, qint64(-1))});
        });
        return true;
    });
}

namespace {

QString Where(const JobFilter &filter, QVariantList &values)
{
    QStringList terms;
    if (!filter.pool.isEmpty()) {
        terms << QStringLiteral("pool = ?");
        values << filter.pool;
    }
    // A board's history goes on in the job that gave it another number.
    if (filter.serial) {
        terms << QStringLiteral("(serial = ? OR replaced = ?)");
        values << *filter.serial << *filter.serial;
    }
    if (filter.day) {
        terms << QStringLiteral("ended >= ? AND ended < ?");
        values << Stamp(filter.day->startOfDay(Qt::UTC)) << Stamp(filter.day->addDays(1).startOfDay(Qt::UTC));
    }
    if (!filter.station.isEmpty()) {
        terms << QStringLiteral("station = ?");
        values << filter.station;
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

} // namespace

StoreResult<QVector<JobRecord>> RecordStore::Jobs(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<JobRecord>>(sql, ready, QStringLiteral("cannot read the jobs"), [&] {
        QVariantList values;
        const QString where = Where(filter, values);
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT %1 FROM jobs%2 ORDER BY ended, id").arg(JobColumns, where),
                                   values);
        QVector<JobRecord> jobs;
        while (query.next()) {
            JobRecord job;
            job.time = QDateTime::fromString(query.value(0).toString(), Qt::ISODateWithMs).toUTC();
            job.station = query.value(1).toString();
            job.port = query.value(2).toString();
            job.portPath = query.value(3).toString();
            job.version = query.value(4).toString();
            job.command = query.value(5).toString();
            job.image = query.value(6).toString();
            job.sha256 = query.value(7).toString();
            job.pool = query.value(8).toString();
            job.serial = query.value(9).toLongLong();
            job.rework = query.value(10).toInt() != 0;
            job.resultClass = query.value(11).toString();
            job.exitCode = query.value(12).toInt();
            job.pass = query.value(13).toString();
            if (!query.value(14).isNull())
                job.address = quint32(query.value(14).toLongLong());
            job.seconds = query.value(15).toDouble();
            job.bytesWritten = query.value(16).toLongLong();
            job.pagesErased = query.value(17).toInt();
            job.crc32 = query.value(18).toString();
            job.pagesWritten = query.value(19).toInt();
            job.pagesSkipped = query.value(20).toInt();
            job.replaced = query.value(21).toLongLong();
            jobs << job;
        }
        return jobs;
    });
}

StoreResult<QVector<QPair<QString, int>>> RecordStore::CountByClass(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<QPair<QString, int>>>(sql, ready, QStringLiteral("cannot count the jobs"), [&] {
        QVariantList values;
        const QString where = Where(filter, values);
        QSqlQuery query = sql.Exec(
            QStringLiteral("SELECT result_class, COUNT(*) FROM jobs%1 GROUP BY result_class").arg(where), values);
        QVector<QPair<QString, int>> counts;
        while (query.next())
            counts.append({query.value(0).toString(), query.value(1).toInt()});
        // In code order, not the database's collation.
        std::sort(counts.begin(), counts.end());
        return counts;
    });
}

StoreResult<QVector<SerialEntry>> RecordStore::Unsettled(const QString &pool)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<SerialEntry>>(sql, ready, QStringLiteral("cannot list the unsettled numbers"), [&] {
        QVariantList values{SerialStateName(SerialState::Reserved), SerialStateName(SerialState::Held)};
        QString statement =
            QStringLiteral("SELECT pool, serial, state, station, port, changed FROM serials WHERE state IN (?, ?)");
        if (!pool.isEmpty()) {
            statement += QStringLiteral(" AND pool = ?");
            values << pool;
        }
        QSqlQuery query = sql.Exec(statement, values);
        QVector<SerialEntry> entries = Entries(query);
        std::sort(entries.begin(), entries.end(), [](const SerialEntry &a, const SerialEntry &b) {
            return std::make_pair(a.pool, a.serial) < std::make_pair(b.pool, b.serial);
        });
        return entries;
    });
}
