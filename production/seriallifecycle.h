#ifndef SERIALLIFECYCLE_H
#define SERIALLIFECYCLE_H

#include "jobsetup.h"
#include "programmingjob.h"
#include "recordstore.h"
#include "serialnumber.h"

#include <QString>
#include <QVector>

#include <optional>

class DeviceLink;
class StoreAccess;

// Where a job's serial number goes, how it is laid out, and where it
// comes from.
struct SerialSettings
{
    quint32 address = 0;
    SerialFormat format;
    QString pool;
    PoolRange range;                // where a new pool starts and ends
    QString job;                    // the job a number is reserved for
    bool voidOnFail = false;        // a failed board's number is burnt, not handed out again
    QString station;
    QString port;                   // with station, the socket the board sits in
};

// What a board's serial number place means for the job about to program
// it: the number the board keeps, or none (it gets a new one); the held
// and in-doubt numbers that become void; and, for a board that gets a new
// number, the number it carried.
struct SerialDecision
{
    std::optional<qint64> keep;
    QVector<qint64> voids;
    qint64 replaced = -1;
};

// The rule, apart from the port and the store. known holds the pool's
// entries for the reading's numbers and every number reserved at station
// and port, whose job died, since the caller runs the only job there. A
// board keeps its number only when the number's check holds (the board
// then is that number's board, at any socket) and the number is
// committed, held or reserved. Any other board gets a new number, and a
// number it may carry that is held, or in doubt here, becomes void, as
// does every other number in doubt here: the board that may carry it is
// getting another. Committed numbers are never touched.
SerialDecision DecideSerial(const SerialReading &reading, const QVector<SerialEntry> &known, const QString &station,
                            const QString &port);

// What taking a number for a board came to.
struct SerialTaking
{
    enum Result { Taken, Unread, StoreFailed, UsedUp };
    Result result = Taken;
    JobOutcome read;                // the read of the number's place; Unread: how it failed
    QString error;                  // StoreFailed, UsedUp: the store's own words
    SerialReading reading;          // what the board carried
    qint64 serial = -1;             // the board's number; UsedUp: the number that does not fit, to be freed
    bool rework = false;            // the board keeps the number it carried
    qint64 replaced = -1;           // the number the board carried, when it gets a new one
    QVector<qint64> voided;
};

// What a number becomes once its job has ended.
struct SerialSettling
{
    SerialState state = SerialState::Held;
    bool placeErased = false;       // the place read back damaged, and its page was erased
};

// A board's serial number from before it is erased to the end of its job,
// over the board's link (on the link's thread) and the run's store.
class SerialLifecycle
{
public:
    SerialLifecycle(DeviceLink &link, const Geometry &geometry, const SerialSettings &settings, StoreAccess *store);

    // Before the board is erased: reads the number's place, settles the
    // numbers in doubt at this socket, and keeps the board's number or
    // reserves a new one.
    SerialTaking Take();

    // Once the job has ended. Only a verified job uses its number up.
    // After a failure the number goes back, or is burnt, only if no write
    // frame carried it or the board reads erased there: a board that may
    // hold it keeps it, or two boards could end up with one number.
    SerialSettling Settle(const ProgrammingJob &job, const JobOutcome &outcome, qint64 serial, bool rework);

    // The bytes at the number's place, read in whole half-words as the
    // flash is organised, and settled like every read whose bytes are kept.
    JobOutcome ReadPlace(QByteArray *bytes);

private:
    SerialTaking Choose(RecordStore &records, SerialTaking taking) const;
    SerialSettling AfterFailure(qint64 serial, bool rework);

    DeviceLink &link;
    const Geometry geometry;
    const SerialSettings settings;
    StoreAccess *store;
};

#endif // SERIALLIFECYCLE_H
