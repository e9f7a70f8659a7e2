#ifndef RECORDSTORE_H
#define RECORDSTORE_H

#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

// Where the records live: "sqlite:FILE", or
// "postgresql://[user@]host[:port]/database" (the password comes from
// libpq's environment or ~/.pgpass, never from the command line).
struct StoreAddress
{
    enum Kind { Sqlite, Postgres };
    Kind kind = Sqlite;
    QString file;                   // sqlite
    QString user, host, database;   // postgresql
    int port = -1;                  // -1: libpq's default
    QString password;               // postgresql: one asked for, never parsed nor kept on disk; empty: libpq's
};

template <typename T>
struct StoreResult
{
    T value{};
    QString error;                  // empty when the store did what was asked
    // With an error: the store works, but what it holds forbids the request
    // (a pool used up, a number in another state); nothing failed.
    bool refused = false;
    bool Ok() const { return error.isEmpty(); }
};

// How a store is opened: Create makes a missing database (SQLite) and
// creates or migrates the schema; Existing does the same to a database
// that must be there already; ReadOnly changes nothing at all.
enum class StoreMode { Create, Existing, ReadOnly };

// Parses the text of --db; the error says what is wrong with it, showing
// the text without its user information.
StoreResult<StoreAddress> ParseStoreAddress(const QString &text);

// The store a journal names, the same whoever logs in: a PostgreSQL
// database without the user, an SQLite file by its absolute path.
QString StoreName(const StoreAddress &address);

// How long a PostgreSQL session waits for a lock, for any one statement,
// and how long it may sit idle inside a transaction, in seconds; a lock
// is waited for at most LockWaits times in all.
constexpr int LockTimeoutSeconds = 5;
constexpr int StatementTimeoutSeconds = 10;
constexpr int IdleTimeoutSeconds = 10;
constexpr int LockWaits = 3;

// What became of a serial number. A number is reserved before its board
// is erased and settled when the job ends: committed on verified success;
// free again (for the next board) or void after a failure that left it
// off the board; held when a failed board may carry it, so that no other
// board gets it and the board keeps it on rework. A number still reserved
// when no job runs is in doubt: its job never ended (the tool was killed,
// the station lost power), so it is neither handed out again nor counted.
enum class SerialState { Reserved, Committed, Free, Void, Held };
QString SerialStateName(SerialState state);     // reserved, committed, free, void, held
// The state a name stands for; none for a name that is no state.
std::optional<SerialState> SerialStateNamed(const QString &name);

// One device job, as stored.
struct JobRecord
{
    QDateTime time;                 // UTC, when the job ended
    QString station;
    QString port;
    QString portPath;               // the stable /dev/serial/by-path name, or empty
    QString version;                // of the tool
    QString command;                // write, verify, read, info
    QString image;                  // absolute path of the image (or backup)
    QString sha256;                 // of the file's bytes, hex
    QString crc32;                  // of the flash the image fills (8 hex digits), or empty
    QString pool;                   // empty: no serial number
    qint64 serial = -1;             // -1: none
    bool rework = false;            // the board kept the number it already held
    qint64 replaced = -1;           // the number the board carried when it was given serial; -1: none
    QString resultClass;            // ok, usage, port, no-answer, refused, mismatch, incomplete, store, cancelled,
                                    // killed (the tool died in the job: exit code -1)
    int exitCode = 0;
    QString pass;                   // the pass or step that failed, empty on success
    std::optional<quint32> address; // flash address of the failure
    double seconds = 0;
    qint64 bytesWritten = 0;
    int pagesErased = 0;
    int pagesWritten = 0;
    int pagesSkipped = 0;           // left alone: they already held the image
    QString jobId;                  // a UUID, one per job: a record delivered twice is stored once
};

// A serial number and where its state came from, for the in-doubt list.
struct SerialEntry
{
    QString pool;
    qint64 serial = -1;
    SerialState state = SerialState::Reserved;
    QString station;
    QString port;
    QDateTime changed;              // UTC, when it took this state
};

// The numbers a pool hands out, from first up to last. A pool keeps the
// first and last it was made with; largest, what the serial number's
// layout holds, ends a pool that has no last of its own and is not kept.
struct PoolRange
{
    PoolRange(qint64 first = 1, std::optional<qint64> last = std::nullopt,
              std::optional<qint64> largest = std::nullopt)
        : first(first), last(last), largest(largest) {}
    qint64 first;
    std::optional<qint64> last;
    std::optional<qint64> largest;
};

// What a pool was made with; unset for pools made before pools kept it.
struct PoolMade
{
    std::optional<qint64> first, last;
};

// A number settled by hand: a supervisor decides what became of a held
// number or one in doubt, which no job will settle.
struct Settlement
{
    QDateTime time;                 // UTC
    QString pool;
    qint64 serial = -1;
    SerialState from = SerialState::Held;
    SerialState to = SerialState::Free;     // free, void, or committed: the board carries it
    QString who;
    QString why;
    QString station;
};

// Which jobs a report covers; unset fields do not filter.
struct JobFilter
{
    QString pool;
    std::optional<qint64> serial;   // with pool: one board's history, and the job that replaced the number
    std::optional<QDate> day;       // UTC day of the job's time
    QString station;
    // Jobs that ended from from up to until (UTC): a local day, as a
    // station's screen counts it.
    std::optional<QDateTime> from = std::nullopt, until = std::nullopt;
    int newest = 0;                 // jobs: only the newest this many, still in the order they ended
};

// The production record store: serial number pools and one record per
// device job, in SQLite or PostgreSQL through Qt SQL. Every change is one
// transaction, so several threads (each with a store of its own) and
// several stations sharing the database never hand out one number twice.
// A store is used on the thread that opened it. A connection found lost
// (the server restarted, the file's disk went away) is opened again and
// the request made once more: the requests that change something are
// safe to repeat, by their job id.
class RecordStore
{
public:
    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    // Connects, creating the database (SQLite) and creating or migrating
    // the schema on first use, as mode allows. Read-only, the store must
    // be there with the schema this tool has, and no lock held by a
    // writer stalls it for long. A PostgreSQL session waits for no lock
    // and no statement longer than the time-outs above.
    StoreResult<bool> Open(const StoreAddress &address, StoreMode mode = StoreMode::Create);
    bool IsOpen() const;

    // Takes a number for a new board, atomically: the lowest free number
    // of the pool, else the next one never given out. A pool not seen
    // before is made with the range's first and last. The number is
    // Reserved, with station, port and job; asked again for the same job
    // (its answer was lost), it gives the number that job already holds.
    // Refused once no number is left up to the pool's last (the range's
    // when the pool has none).
    StoreResult<qint64> Reserve(const QString &pool, const PoolRange &range, const QString &station,
                                const QString &port, const QString &job);
    // No value when there is no such pool.
    StoreResult<std::optional<PoolMade>> Pool(const QString &pool);

    // The state of a number; no value when the pool never gave it out.
    StoreResult<std::optional<SerialState>> StateOf(const QString &pool, qint64 serial);

    // The pool's entries for serials (a number it never gave out has
    // none), and every number of the pool reserved at station and port,
    // which is in doubt when no job runs there; by number.
    StoreResult<QVector<SerialEntry>> Known(const QString &pool, const QVector<qint64> &serials,
                                            const QString &station, const QString &port);

    // A board that carries a number with a check that holds keeps it for
    // its rework when the number is committed, held or reserved: the
    // number becomes Reserved by this station and port, and the value is
    // true. False for a free or void number and one the pool never gave
    // out: such a board gets a number of its own. Whether the board may
    // keep it at all is the caller's to decide (DecideSerial).
    StoreResult<bool> ClaimForRework(const QString &pool, qint64 serial, const QString &station,
                                     const QString &port);

    // Makes void those of serials that are held, or reserved at station
    // and port (in doubt: the caller runs the only job there); the value
    // is the numbers made void. Committed numbers, and numbers reserved
    // elsewhere, whose jobs may be running, stay as they are.
    StoreResult<QVector<qint64>> VoidUnsettled(const QString &pool, const QVector<qint64> &serials,
                                               const QString &station, const QString &port);

    // Ends a job: when record.serial >= 0 and a state is given, the number
    // (which this job reserved or claimed) takes state, and the record is
    // added, both in one transaction; without a state the number stays as
    // it is. Fails if the number is not Reserved. A record whose job id is
    // stored already changes nothing and succeeds: it was delivered before.
    StoreResult<bool> Finish(const JobRecord &record, std::optional<SerialState> state);

    // Reports, in the order the jobs ended.
    StoreResult<QVector<JobRecord>> Jobs(const JobFilter &filter);
    // Jobs per result class, classes in alphabetical order.
    StoreResult<QVector<QPair<QString, int>>> CountByClass(const JobFilter &filter);
    // Numbers reserved and not settled (in doubt) and numbers held by
    // failed boards, by pool and number; the filter's station and day are
    // where and when they took that state.
    StoreResult<QVector<SerialEntry>> Unsettled(const JobFilter &filter);

    // Settles a held number or one in doubt by hand, with who, why and
    // where kept; any other number is refused with the reason. The value
    // is the state the number was in.
    StoreResult<SerialState> Settle(const Settlement &settlement);
    // The numbers settled by hand, in the order they were; the filter's
    // station is the one they were settled at.
    StoreResult<QVector<Settlement>> Settlements(const JobFilter &filter);

private:
    void Drop();
    QString Connect();
    QString Reconnect(bool lostNow);
    // What a request readies its connection with.
    auto Reopener() { return [this](bool lostNow) { return Reconnect(lostNow); }; }

    QString connection;             // of Qt SQL, one per store
    StoreAddress::Kind kind = StoreAddress::Sqlite;
    QString name;                   // the database, as errors name it
    bool readOnly = false;          // opened to be read: nothing set, made or written
    bool ready = false;             // opened, and the schema is current
    bool lost = false;              // the connection went away: opened again before the next request
};

#endif // RECORDSTORE_H
