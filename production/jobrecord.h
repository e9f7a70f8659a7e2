#ifndef JOBRECORD_H
#define JOBRECORD_H

#include "journal.h"
#include "programmingjob.h"
#include "recordstore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

class StoreAccess;

// What a job came to, as a front end tells it.
struct JobFacts
{
    QString jobId;
    QString station;
    QString port;
    QString portPath;                   // the stable /dev/serial/by-path name, or empty
    QString command;
    QString image;                      // absolute path of the image (or backup)
    QByteArray sha256;                  // of the file's bytes, hex
    std::optional<quint32> crc32;       // of the flash the image fills
    QString pool;
    qint64 serial = -1;                 // -1: none
    bool rework = false;
    int exitCode = 0;
    QString resultClass;
    QString pass;                       // the pass or step that failed, empty on success
    std::optional<JobOutcome> outcome;  // what the engine did to the flash, if it ran
    double seconds = 0;
    qint64 replaced = -1;               // the number the board carried when it got serial; -1: none
};

// The record of a job that ended at time: a pool only with a number, an
// address only where a pass failed, the counts of what the engine did.
JobRecord MakeJobRecord(const JobFacts &facts, const QDateTime &time);

// The record of a job whose process died in it, from what was known when
// it began: class killed, exit code -1.
JobRecord KilledRecord(const JobRecord &begun);

// How a job's record was kept.
struct RecordKeeping
{
    bool stored = false;                // the store has it
    QString journal;                    // else the journal it waits in, if any
    QString error;                      // why the store did not take it
};

// A job's record through the run's journal and store (both reached on
// the thread that owns them, from any thread). BeginJob puts what is known
// of a job on disk before its board is touched (empty when done or when
// no journal is kept, else why not). RecordJob puts the record there
// before the store is asked, then delivers everything waiting, in order.
// DeliverJournal delivers what is waiting, the journals left by processes
// that ended included.
QString BeginJob(StoreAccess &store, const JobRecord &known);
RecordKeeping RecordJob(StoreAccess &store, const JobRecord &record, std::optional<SerialState> state);
JournalDelivery DeliverJournal(StoreAccess &store);

#endif // JOBRECORD_H
