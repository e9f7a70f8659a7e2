#include "recordstore.h"

#include "sqldrivers.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <limits>

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
    " exit_code, pass, address, seconds, bytes_written, pages_erased, crc32, pages_written, pages_skipped, job_id,"
    " replaced");

constexpr int Attempts = 5;

struct Failure
{
    explicit Failure(const QString &text, bool transient = false, bool whole = false)
        : text(text), transient(transient), whole(whole) {}

    QString text;
    bool transient = false;     // busy, or a lock conflict: worth another try
    bool whole = false;         // says it all, without the action in front
    bool lost = false;          // the connection is gone: worth opening again
    bool lockWait = false;      // a lock another session holds was waited for in vain
    QString statement;          // the one that failed
    bool refusal = false;       // the store works; what it holds forbids the request
};

// What a PostgreSQL server or libpq says when the connection is gone
// without a SQLSTATE of its own.
const char *const GoneWords[] = {"server closed the connection", "no connection to the server",
                                 "could not send data to server", "could not receive data from server",
                                 "connection not open", "terminating connection"};

Failure SqlFailure(const QSqlError &error, StoreAddress::Kind kind)
{
    const QString code = error.nativeErrorCode();
    const QString text = error.databaseText().simplified();
    Failure failure(text.isEmpty() ? error.driverText().simplified() : text);
    if (kind == StoreAddress::Postgres) {
        // serialization_failure and deadlock_detected; unique_violation is
        // a record that another delivery of the same job committed first,
        // which the next try finds stored.
        failure.transient = code == QLatin1String("40001") || code == QLatin1String("40P01")
            || code == QLatin1String("23505");
        failure.lockWait = code == QLatin1String("55P03");
        // connection_exception (class 08), admin_shutdown, crash_shutdown, cannot_connect_now
        failure.lost = error.type() == QSqlError::ConnectionError || code.startsWith(QLatin1String("08"))
            || code == QLatin1String("57P01") || code == QLatin1String("57P02") || code == QLatin1String("57P03");
        for (const char *words : GoneWords)
            failure.lost = failure.lost || failure.text.contains(QLatin1String(words), Qt::CaseInsensitive);
        if (code == QLatin1String("57014"))     // query_canceled: statement_timeout ran out
            failure.text = QStringLiteral("the store did not answer within %1 s (%2)")
                               .arg(StatementTimeoutSeconds).arg(failure.text);
    } else {
        // SQLITE_BUSY and SQLITE_LOCKED; SQLITE_IOERR: the file's disk or
        // share went away. Extended codes keep the primary in the low byte.
        const int primary = code.toInt() & 0xff;
        failure.transient = primary == 5 || primary == 6;
        failure.lost = primary == 10;
    }
    return failure;
}

// The table a failed statement waited for.
QString TableOf(const QString &statement)
{
    static const QRegularExpression table(QStringLiteral("\\b(?:FROM|UPDATE|INTO)\\s+(\\w+)"));
    return table.match(statement).captured(1);
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

// A job id, or NULL for none: NULLs never clash in the unique index.
QVariant JobId(const QString &id)
{
#if QT_VERSION_MAJOR >= 6
    return id.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(id);
#else
    return id.isEmpty() ? QVariant(QVariant::String) : QVariant(id);
#endif
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
    // A request that what the store holds forbids (a pool used up, a number
    // in another state), which the caller tells apart from a failing store.
    void Refuse(const QString &text, bool whole = false)
    {
        if (!failure) {
            failure = Failure{text, false, whole};
            failure->refusal = true;
        }
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
        failure->statement = statement;
        failure->lost = failure->lost || !db.isOpen();
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
    // A lock held by another session is waited for LockWaits times, each
    // up to lock_timeout, and then told: a transaction left open somewhere
    // would otherwise stall every station without a word.
    template <typename Body>
    void Retry(Body body)
    {
        for (int attempt = 1, lockWaits = 0; !failure;) {
            body();
            if (!failure)
                return;
            if (failure->lockWait && ++lockWaits == LockWaits) {
                failure = Failure{QStringLiteral("the store did not answer within %1 s: another session holds a lock "
                                                 "on table %2 (a transaction left open?)")
                                      .arg(LockWaits * LockTimeoutSeconds).arg(TableOf(failure->statement))};
                return;
            }
            if (!failure->transient && !failure->lockWait)
                return;
            if (failure->transient && attempt++ == Attempts) {
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
            const bool begun = !failure;
            if (!failure)
                body();
            if (!failure && !db.commit())
                failure = SqlFailure(db.lastError(), kind);
            if (failure) {
                // A connection that broke has no transaction left to roll
                // back, and one that never began has nothing to roll back:
                // asked anyway, the driver says so on the station's screen.
                if (!db.isOpen())
                    failure->lost = true;
                else if (begun)
                    db.rollback();
                failed.reset();
            }
        });
    }
};

// The value of body, or the error of the failure it left in sql, told after
// action unless it says it all. reopen(again) readies the connection: a
// lost one is opened again, before the first run and, when body finds the
// connection lost, before its one run more (empty: ready, else why not).
// Every change is one transaction, so a body that failed changed nothing,
// unless its commit went through and only the answer was lost: the
// requests that change something find their own work again by job id.
template <typename T, typename Reopen, typename Body>
StoreResult<T> Attempt(Sql &sql, Reopen reopen, const QString &action, Body body)
{
    StoreResult<T> result;
    QString lostText;
    for (bool again = false;; again = true) {
        sql.failed.reset();
        if (const QString trouble = reopen(again); !trouble.isEmpty()) {
            sql.failure.reset();
            sql.Fail(lostText.isEmpty() ? trouble : QStringLiteral("%1; %2").arg(lostText, trouble));
            break;
        }
        sql.failure.reset();
        if (T value = body(); !sql.failure) {
            result.value = std::move(value);
            return result;
        }
        if (again || !sql.failure->lost)
            break;
        lostText = sql.failure->text;
    }
    result.error = sql.failure->whole ? sql.failure->text : action + QStringLiteral(": ") + sql.failure->text;
    result.refused = sql.failure->refusal;
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
        entry.state = SerialStateNamed(query.value(2).toString()).value_or(SerialState::Reserved);
        entry.station = query.value(3).toString();
        entry.port = query.value(4).toString();
        entry.changed = QDateTime::fromString(query.value(5).toString(), Qt::ISODateWithMs).toUTC();
        entries << entry;
    }
    return entries;
}

// A reader waits this long for a writer's lock before it says the store
// is busy; readers of a WAL store need no lock, so this is only for the
// moment a writer checkpoints, or on PostgreSQL a schema being changed.
constexpr int ReaderWaitMs = 2000;
const QString ReadOnlySqlite = QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(ReaderWaitMs);

QString NativeCode(const Sql &sql)
{
    return sql.failed ? sql.failed->lastError().nativeErrorCode() : QString();
}

// A store opened to be read is checked, never made: it must be there, with
// the schema this tool reads (a report reads the newest columns), and
// nothing in it is created, brought up to date or written. PostgreSQL
// refuses every change for the session.
StoreResult<bool> CheckReadOnly(Sql &sql, const QString &name, const QString &file, int known)
{
    const bool sqlite = sql.kind == StoreAddress::Sqlite;
    return Attempt<bool>(sql, [](bool) { return QString(); }, QStringLiteral("cannot read %1").arg(name), [&] {
        if (!sqlite) {
            sql.Exec(QStringLiteral("SET default_transaction_read_only = on"));
            sql.Exec(QStringLiteral("SET lock_timeout = %1").arg(ReaderWaitMs));
        }
        const QString ask = QStringLiteral("SELECT MAX(version) FROM schema_version");
        QVariant version = sql.Value(ask);
        const int code = NativeCode(sql).toInt() & 0xff;
        if (sqlite && sql.failure && (code == 8 || code == 14)) {
            // SQLITE_READONLY or SQLITE_CANTOPEN: a WAL store whose folder
            // (or index file) this user cannot write, so SQLite cannot make
            // the index a reader needs. No writer has it open then (a writer
            // keeps the index there), so the file is read as it lies.
            sql.failed.reset();
            sql.failure.reset();
            QUrl uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
            uri.setQuery(QStringLiteral("mode=ro&immutable=1"));
            sql.db.close();
            sql.db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
            sql.db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
            if (!sql.db.open())
                sql.failure = SqlFailure(sql.db.lastError(), sql.kind);
            version = sql.Value(ask);
        }
        // No such table: SQLite's plain error, PostgreSQL's undefined_table.
        const QString missing = sqlite ? QStringLiteral("1") : QStringLiteral("42P01");
        if (sql.failure && sql.failure->transient)
            sql.failure = Failure{QStringLiteral("%1 is busy: a writer holds a lock on it (%2); try again")
                                      .arg(name, sql.failure->text), false, true};
        else if (sql.failure && NativeCode(sql) == missing)
            sql.failure = Failure{QStringLiteral("there is no record store at %1 (it has no schema version)").arg(name),
                                  false, true};
        else if (!sql.failure && version.toInt() != known)
            sql.Fail(QStringLiteral("%1 has schema version %2 and this tool reads version %3: %4").arg(name)
                         .arg(version.toInt()).arg(known)
                         .arg(version.toInt() > known ? QStringLiteral("it was made by a newer tamrivo-cli")
                                                      : QStringLiteral("a job with --db brings it up to date")),
                     true);
        return true;
    });
}

} // namespace

QString StoreName(const StoreAddress &address)
{
    if (address.kind == StoreAddress::Sqlite)
        return QStringLiteral("sqlite:") + QFileInfo(address.file).absoluteFilePath();
    return Describe(address);
}

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

std::optional<SerialState> SerialStateNamed(const QString &name)
{
    for (SerialState state : {SerialState::Reserved, SerialState::Committed, SerialState::Free, SerialState::Void,
                              SerialState::Held}) {
        if (SerialStateName(state) == name)
            return state;
    }
    return std::nullopt;
}

RecordStore::RecordStore() = default;

RecordStore::~RecordStore()
{
    Drop();
}

void RecordStore::Drop()
{
    ready = false;
    lost = false;
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

StoreResult<bool> RecordStore::Open(const StoreAddress &address, StoreMode mode)
{
    Drop();
    kind = address.kind;
    name = Describe(address);
    readOnly = mode == StoreMode::ReadOnly;
    const bool sqlite = kind == StoreAddress::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    StoreResult<bool> result;
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        result.error = QStringLiteral("cannot open %1: Qt has no %2 driver here (%3)")
                           .arg(name, driver, SqlDriverSource(driver));
        return result;
    }
    if (sqlite && mode != StoreMode::Create && !QFileInfo::exists(address.file)) {
        result.error = QStringLiteral("there is no record store at %1").arg(name);
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
        sql.db.setConnectOptions(mode == StoreMode::ReadOnly ? ReadOnlySqlite : QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        sql.db.setHostName(address.host);
        if (address.port > 0)
            sql.db.setPort(address.port);
        sql.db.setUserName(address.user);
        sql.db.setDatabaseName(address.database);
        if (!address.password.isEmpty())
            sql.db.setPassword(address.password);
        // Unless one was asked for, no password: libpq takes it from PGPASSWORD or ~/.pgpass. A
        // server that died without closing the connection (its host lost
        // power, a cable pulled) is noticed by TCP keepalives within about
        // 11 s when idle, and within 15 s when data it was sent goes
        // unacknowledged, not after the system's two hours. The server's
        // notices and warnings (a server shutting down, a table that already
        // exists) are not for the station's screen: Qt leaves them to libpq,
        // which prints them on standard error. Asked for with the connection,
        // the level holds from the first statement on; the server's log keeps
        // them, and an error comes back with the statement that failed.
        sql.db.setConnectOptions(QStringLiteral("connect_timeout=10;keepalives=1;keepalives_idle=5;"
                                                "keepalives_interval=2;keepalives_count=3;tcp_user_timeout=15000;"
                                                "options='-c client_min_messages=error'"));
    }
    if (const QString trouble = Connect(); !trouble.isEmpty()) {
        result.error = QStringLiteral("cannot open %1: %2").arg(name, trouble);
        return result;
    }

    const QVector<QStringList> steps = SchemaSteps(kind);
    if (mode == StoreMode::ReadOnly) {
        result = CheckReadOnly(sql, name, address.file, int(steps.size()));
        ready = result.Ok();
        return result;
    }
    const auto reopen = [this](bool again) { return again ? Connect() : QString(); };
    result = Attempt<bool>(sql, reopen, QStringLiteral("cannot open %1").arg(name), [&] {
        // WAL lets the reports read while a station writes. Outside the
        // transaction: SQLite does not switch journals inside one.
        if (sqlite)
            sql.Retry([&] { sql.Exec(QStringLiteral("PRAGMA journal_mode = WAL")); });
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

// Opens the connection (again), with what each session needs set up; empty
// when done, else why not.
QString RecordStore::Connect()
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    db.close();
    if (!db.open())
        return SqlFailure(db.lastError(), kind).text;
    QStringList settings;
    if (kind == StoreAddress::Sqlite) {
        // A committed record must survive a power loss. A reader sets
        // nothing: it may not even make the shared-memory file a setting's
        // first read of a WAL store wants.
        if (!readOnly)
            settings = QStringList{QStringLiteral("PRAGMA synchronous = FULL"), QStringLiteral("PRAGMA foreign_keys = ON")};
    } else {
        // A lock held elsewhere, a statement that hangs, or
        // a session of ours stopped inside a transaction (holding the pool's
        // row) is bounded, instead of stalling every station without a word.
        settings = QStringList{QStringLiteral("SET lock_timeout = '%1s'").arg(LockTimeoutSeconds),
                               QStringLiteral("SET statement_timeout = '%1s'").arg(StatementTimeoutSeconds),
                               QStringLiteral("SET idle_in_transaction_session_timeout = '%1s'").arg(IdleTimeoutSeconds)};
    }
    for (const QString &setting : qAsConst(settings)) {
        QSqlQuery query(db);
        if (!query.exec(setting))
            return SqlFailure(query.lastError(), kind).text;
    }
    return QString();
}

// Readies the connection for a request: one found lost, now or by an
// earlier request, is opened again. Empty when ready, else why not.
QString RecordStore::Reconnect(bool lostNow)
{
    if (!ready)
        return QStringLiteral("the store is not open");
    lost = lost || lostNow;
    if (!lost)
        return QString();
    const QString trouble = Connect();
    lost = !trouble.isEmpty();
    return lost ? QStringLiteral("the connection to %1 is lost and cannot be made again: %2").arg(name, trouble)
                : QString();
}

StoreResult<qint64> RecordStore::Reserve(const QString &pool, const PoolRange &range, const QString &station,
                                         const QString &port, const QString &job)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<qint64>(sql, Reopener(), QStringLiteral("cannot reserve a number of pool '%1'").arg(pool), [&] {
        qint64 serial = -1;
        if (pool.isEmpty() || range.first < 0) {
            sql.Fail(QStringLiteral("a pool needs a name and a first number of 0 or more"));
            return serial;
        }
        sql.Transaction([&] {
            sql.Exec(QStringLiteral("INSERT INTO pools (name, next_serial, first_serial, last_serial) VALUES (?, ?, ?, ?)"
                                    " ON CONFLICT (name) DO NOTHING"),
                     {pool, range.first, range.first, range.last ? QVariant(*range.last) : NullInteger()});
            // Locking the pool's row lines up every reserver of the pool on
            // PostgreSQL; on SQLite, BEGIN IMMEDIATE already did.
            const QString lock = kind == StoreAddress::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
            QVariant next;
            qint64 last = std::numeric_limits<qint64>::max();
            {
                QSqlQuery row = sql.Exec(QStringLiteral("SELECT next_serial, last_serial FROM pools WHERE name = ?") + lock,
                                         {pool});
                if (row.next()) {
                    next = row.value(0);
                    // The pool's own last number, else the one asked for;
                    // never past what the layout holds.
                    last = row.value(1).isNull() ? range.last.value_or(last) : row.value(1).toLongLong();
                    last = qMin(last, range.largest.value_or(last));
                }
            }
            if (!sql.failure && next.isNull())
                sql.Fail(QStringLiteral("the pool's row is missing"));
            // Asked again after the answer was lost with the connection:
            // the number is already this job's.
            const QVariant mine = job.isEmpty() ? QVariant()
                : sql.Value(QStringLiteral("SELECT serial FROM serials WHERE state = ? AND pool = ? AND job = ?"),
                            {SerialStateName(SerialState::Reserved), pool, job});
            if (!sql.failure && !mine.isNull()) {
                serial = mine.toLongLong();
                return;
            }
            const QVariant freed = sql.Value(
                QStringLiteral("SELECT MIN(serial) FROM serials WHERE state = ? AND pool = ? AND serial <= ?"),
                {SerialStateName(SerialState::Free), pool, last});
            if (!sql.failure && freed.isNull() && next.toLongLong() > last)
                sql.Refuse(QStringLiteral("pool %1 is used up (last number %2)").arg(pool).arg(last), true);
            if (sql.failure)
                return;
            const QVariantList change{SerialStateName(SerialState::Reserved), Text(station), Text(port),
                                      Stamp(QDateTime::currentDateTimeUtc()), Text(job)};
            if (!freed.isNull()) {
                serial = freed.toLongLong();
                sql.Exec(QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?, job = ?"
                                        " WHERE pool = ? AND serial = ?"), change + QVariantList{pool, serial});
            } else {
                serial = next.toLongLong();
                sql.Exec(QStringLiteral("INSERT INTO serials (state, station, port, changed, job, pool, serial)"
                                        " VALUES (?, ?, ?, ?, ?, ?, ?)"), change + QVariantList{pool, serial});
                sql.Exec(QStringLiteral("UPDATE pools SET next_serial = ? WHERE name = ?"), {serial + 1, pool});
            }
        });
        return serial;
    });
}

StoreResult<std::optional<PoolMade>> RecordStore::Pool(const QString &pool)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<std::optional<PoolMade>>(sql, Reopener(), QStringLiteral("cannot look up pool '%1'").arg(pool), [&] {
        std::optional<PoolMade> made;
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT first_serial, last_serial FROM pools WHERE name = ?"), {pool});
        const auto number = [](const QVariant &value) {
            return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
        };
        if (query.next())
            made = PoolMade{number(query.value(0)), number(query.value(1))};
        return made;
    });
}

StoreResult<std::optional<SerialState>> RecordStore::StateOf(const QString &pool, qint64 serial)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    const QString action = QStringLiteral("cannot look up number %1 of pool '%2'").arg(serial).arg(pool);
    return Attempt<std::optional<SerialState>>(sql, Reopener(), action, [&] {
        return SerialStateNamed(sql.Value(QStringLiteral("SELECT state FROM serials WHERE pool = ? AND serial = ?"),
                                    {pool, serial}).toString());
    });
}

StoreResult<QVector<SerialEntry>> RecordStore::Known(const QString &pool, const QVector<qint64> &serials,
                                                     const QString &station, const QString &port)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<SerialEntry>>(sql, Reopener(), QStringLiteral("cannot look up numbers of pool '%1'").arg(pool), [&] {
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
    return Attempt<bool>(sql, Reopener(), action, [&] {
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
    return Attempt<QVector<qint64>>(sql, Reopener(), QStringLiteral("cannot void numbers of pool '%1'").arg(pool), [&] {
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
    return Attempt<bool>(sql, Reopener(), action, [&] {
        const QString ended = Stamp(record.time.isValid() ? record.time : QDateTime::currentDateTimeUtc());
        // A delivery that committed before its answer was lost, or a
        // record the journal hands over again: already there, nothing to do.
        const auto stored = [&] {
            return !record.jobId.isEmpty()
                && !sql.Value(QStringLiteral("SELECT 1 FROM jobs WHERE job_id = ?"), {record.jobId}).isNull();
        };
        sql.Transaction([&] {
            if (stored())
                return;
            // Only a number this job holds: a failure here leaves it
            // reserved, in doubt, which keeps it off every other board.
            if (record.serial >= 0 && state) {
                const int changed = sql.Changed(
                    QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                                   " WHERE pool = ? AND serial = ? AND state = ?"),
                    {SerialStateName(*state), Text(record.station), Text(record.port),
                     ended, record.pool, record.serial, SerialStateName(SerialState::Reserved)});
                // PostgreSQL: the update waited for a delivery of this very
                // record, which then committed; only a new look sees it.
                if (!sql.failure && changed != 1 && stored())
                    return;
                if (!sql.failure && changed != 1)
                    sql.Fail(NumberIs(sql, record.pool, record.serial, QStringLiteral("not reserved")));
            }
            sql.Exec(QStringLiteral("INSERT INTO jobs (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                         .arg(JobColumns),
                     {ended, Text(record.station), Text(record.port), Text(record.portPath), Text(record.version),
                      Text(record.command), Text(record.image), Text(record.sha256),
                      Text(record.serial >= 0 ? record.pool : QString()), qMax(record.serial, qint64(-1)),
                      int(record.rework), Text(record.resultClass), record.exitCode, Text(record.pass),
                      record.address ? QVariant(qint64(*record.address)) : NullInteger(), record.seconds,
                      record.bytesWritten, record.pagesErased, Text(record.crc32), record.pagesWritten,
                      record.pagesSkipped, JobId(record.jobId), qMax(record.replaced, qint64(-1))});
        });
        return true;
    });
}

namespace {

// time: the column of when a row's fact came to be; terms: more to hold,
// their values already in values.
QString Where(const JobFilter &filter, QVariantList &values, const QString &time = QStringLiteral("ended"),
              QStringList terms = {})
{
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
        terms << QStringLiteral("%1 >= ? AND %1 < ?").arg(time);
        values << Stamp(filter.day->startOfDay(Qt::UTC)) << Stamp(filter.day->addDays(1).startOfDay(Qt::UTC));
    }
    if (!filter.station.isEmpty()) {
        terms << QStringLiteral("station = ?");
        values << filter.station;
    }
    if (filter.from && filter.until) {
        terms << QStringLiteral("%1 >= ? AND %1 < ?").arg(time);
        values << Stamp(*filter.from) << Stamp(*filter.until);
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

} // namespace

StoreResult<QVector<JobRecord>> RecordStore::Jobs(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<JobRecord>>(sql, Reopener(), QStringLiteral("cannot read the jobs"), [&] {
        QVariantList values;
        const QString where = Where(filter, values);
        // The newest are found from the end and put back in order.
        const QString order = filter.newest > 0 ? QStringLiteral(" ORDER BY ended DESC, id DESC LIMIT %1").arg(filter.newest)
                                                : QStringLiteral(" ORDER BY ended, id");
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT %1 FROM jobs%2%3").arg(JobColumns, where, order), values);
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
            job.jobId = query.value(21).toString();
            job.replaced = query.value(22).toLongLong();
            jobs << job;
        }
        if (filter.newest > 0)
            std::reverse(jobs.begin(), jobs.end());
        return jobs;
    });
}

StoreResult<QVector<QPair<QString, int>>> RecordStore::CountByClass(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<QPair<QString, int>>>(sql, Reopener(), QStringLiteral("cannot count the jobs"), [&] {
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

StoreResult<QVector<SerialEntry>> RecordStore::Unsettled(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<SerialEntry>>(sql, Reopener(), QStringLiteral("cannot list the unsettled numbers"), [&] {
        QVariantList values{SerialStateName(SerialState::Reserved), SerialStateName(SerialState::Held)};
        const QString where = Where(filter, values, QStringLiteral("changed"), {QStringLiteral("state IN (?, ?)")});
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT pool, serial, state, station, port, changed FROM serials") + where,
                                   values);
        QVector<SerialEntry> entries = Entries(query);
        std::sort(entries.begin(), entries.end(), [](const SerialEntry &a, const SerialEntry &b) {
            return std::make_pair(a.pool, a.serial) < std::make_pair(b.pool, b.serial);
        });
        return entries;
    });
}

StoreResult<SerialState> RecordStore::Settle(const Settlement &settlement)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    const QString action =
        QStringLiteral("cannot settle number %1 of pool '%2'").arg(settlement.serial).arg(settlement.pool);
    return Attempt<SerialState>(sql, Reopener(), action, [&] {
        SerialState from = SerialState::Held;
        const SerialState to = settlement.to;
        if (to != SerialState::Free && to != SerialState::Void && to != SerialState::Committed)
            sql.Refuse(QStringLiteral("a number is settled as free, void or committed, not %1").arg(SerialStateName(to)));
        else if (settlement.who.isEmpty() || settlement.why.trimmed().isEmpty())
            sql.Refuse(QStringLiteral("a settlement says who made it and why"));
        sql.Transaction([&] {
            const QString lock = kind == StoreAddress::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
            const QVariant state = sql.Value(
                QStringLiteral("SELECT state FROM serials WHERE pool = ? AND serial = ?") + lock,
                {settlement.pool, settlement.serial});
            if (!sql.failure && state.isNull())
                sql.Refuse(QStringLiteral("the pool never gave it out"));
            from = SerialStateNamed(state.toString()).value_or(SerialState::Committed);
            // A committed, free or void number was settled by its job, or
            // by hand before: changing it could put it on a second board.
            if (!sql.failure && from != SerialState::Held && from != SerialState::Reserved)
                sql.Refuse(QStringLiteral("it is %1; only a held number or one in doubt is settled by hand")
                               .arg(SerialStateName(from)));
            const QString time = Stamp(settlement.time.isValid() ? settlement.time : QDateTime::currentDateTimeUtc());
            sql.Exec(QStringLiteral("UPDATE serials SET state = ?, station = ?, port = ?, changed = ?"
                                    " WHERE pool = ? AND serial = ?"),
                     {SerialStateName(to), Text(settlement.station), QString(QLatin1String("")), time, settlement.pool,
                      settlement.serial});
            sql.Exec(QStringLiteral("INSERT INTO settlements (settled, pool, serial, from_state, to_state, who, why, station)"
                                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                     {time, settlement.pool, settlement.serial, SerialStateName(from), SerialStateName(to),
                      Text(settlement.who), Text(settlement.why), Text(settlement.station)});
        });
        return from;
    });
}

StoreResult<QVector<Settlement>> RecordStore::Settlements(const JobFilter &filter)
{
    Sql sql{QSqlDatabase::database(connection, false), kind};
    return Attempt<QVector<Settlement>>(sql, Reopener(), QStringLiteral("cannot read the settlements"), [&] {
        QVariantList values;
        const QString where = Where(filter, values, QStringLiteral("settled"));
        QSqlQuery query = sql.Exec(QStringLiteral("SELECT settled, pool, serial, from_state, to_state, who, why, station"
                                                  " FROM settlements%1 ORDER BY settled, id").arg(where), values);
        QVector<Settlement> settlements;
        while (query.next()) {
            Settlement settlement;
            settlement.time = QDateTime::fromString(query.value(0).toString(), Qt::ISODateWithMs).toUTC();
            settlement.pool = query.value(1).toString();
            settlement.serial = query.value(2).toLongLong();
            settlement.from = SerialStateNamed(query.value(3).toString()).value_or(SerialState::Held);
            settlement.to = SerialStateNamed(query.value(4).toString()).value_or(SerialState::Void);
            settlement.who = query.value(5).toString();
            settlement.why = query.value(6).toString();
            settlement.station = query.value(7).toString();
            settlements << settlement;
        }
        return settlements;
    });
}
