#ifndef BOARDJOB_H
#define BOARDJOB_H

#include "jobclass.h"
#include "jobrecord.h"
#include "jobsetup.h"
#include "programmingjob.h"
#include "recordstore.h"
#include "seriallifecycle.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

class DeviceLink;
class StoreAccess;

// What a front end asks of one board's job.
struct BoardSettings
{
    QString station;
    QString port;
    QString command = QStringLiteral("write");  // as the records name it
    QString image;                      // absolute path; empty for jobs without one
    QByteArray sha256;                  // of the image file, hex
    std::optional<quint32> crc32;       // of the flash the image fills
    // A number for the board: where it goes and where it comes from (the
    // job, station and port are the job's own); none for other jobs.
    std::optional<SerialSettings> serial;
    int blockSize = ProgrammingJob::DefaultBlockSize;
    BlockOrder order = BlockOrder::FirstBlockLast;
    bool skipUnchanged = false;
};

// Why a board's job stopped before its passes, outside the device.
enum class BoardStop {
    None,
    RecordsWaiting,     // the journals hold records the store has not taken: no number is taken
    JournalFailed,      // the job's begun entry could not be written
    SerialUnread,       // the number's place could not be read (outcome says how)
    StoreFailed,        // the store did not hand out a number
    PoolUsedUp,         // error: the store's words
    SerialTooLarge,     // the pool's next number does not fit the layout
};

// How the job's record was kept.
enum class RecordFate { NotKept, Stored, Pending, Lost };

// What a board's job came to: facts, not words; each front end says them.
struct BoardResult
{
    int status = ExitDone;              // the class, as tamrivo-cli's exit status
    QString stage;                      // where a stop came outside any pass: store, journal, serial
    BoardStop stop = BoardStop::None;
    QString error;                      // the store's or the journal's own words for the stop
    JournalDelivery waiting;            // RecordsWaiting: what waits, and where
    std::optional<JobOutcome> outcome;  // of the passes, or of the read of the number's place
    // The number
    QString pool;                       // once the store was asked
    qint64 serial = -1;                 // -1: none
    bool rework = false;                // the board kept the number it carried
    qint64 replaced = -1;               // the number the board carried when it got serial
    QVector<qint64> voided;             // made void: the board that may carry them got another
    std::optional<SerialState> state;   // what the number becomes; unset until the job ends
    bool placeErased = false;           // the place read back damaged and its page was erased
    // The record
    RecordFate kept = RecordFate::NotKept;
    QString journal;                    // Pending: the journal it waits in
    QString recordError;                // why the store did not take it
    double seconds = 0;
};

// What a job ended with, as far as the front end ran it.
struct BoardEnd
{
    int status = ExitDone;
    QString pass;                       // the pass or step that failed, empty on success
    std::optional<JobOutcome> outcome;
    double seconds = 0;
    // A job that learned its file only at the end (a backup saved) names it here.
    std::optional<QString> image;
    QByteArray sha256;
};

// One board's job, the same for the window and tamrivo-cli, on the thread
// that serves the board's port: the journal's waiting records delivered
// and the job's begun entry on disk before the board is touched, its
// number taken before anything is erased and settled when the passes end,
// and its record in the journal, then in the store. Run does it all;
// tamrivo-cli, which opens the port and checks the image in between,
// calls the steps itself, in Run's order.
class BoardJob
{
public:
    // store: null when no store keeps records (then there is no number).
    BoardJob(const BoardSettings &settings, StoreAccess *store);

    const QString &JobId() const { return jobId; }
    const BoardResult &Result() const { return result; }

    // Programs image, placed and checked against geometry, into the
    // board on link: every step below, then the record.
    BoardResult Run(DeviceLink &link, const Geometry &geometry, FirmwareImage image, JobObserver &observer);

    // Before the port is opened: what the journals hold goes first. A
    // numbered job refuses while records wait (one could settle a number
    // the store would otherwise take for in doubt); any other begins.
    BoardStop Prepare();
    // With the device answering and the image placed: the board's number
    // taken, the job begun, the number patched into *image.
    BoardStop Number(DeviceLink &link, const Geometry &geometry, FirmwareImage *image);
    // Once the passes have ended: what the number becomes.
    void Settle(DeviceLink &link, const Geometry &geometry, const ProgrammingJob &job, const JobOutcome &outcome);
    // The record, through the journal to the store.
    const BoardResult &Record(const BoardEnd &end);

private:
    BoardStop Stop(BoardStop stop, int status, const QString &stage);
    BoardStop Begin();
    SerialLifecycle Serials(DeviceLink &link, const Geometry &geometry) const;
    JobFacts Facts(const BoardEnd &end) const;

    BoardSettings settings;
    StoreAccess *store;
    const QString jobId;
    BoardResult result;
};

#endif // BOARDJOB_H
