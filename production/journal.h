#ifndef JOURNAL_H
#define JOURNAL_H

#include "recordstore.h"

#include <QFile>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

// A job's record as a journal keeps it until the store has it.
struct JournalEntry
{
    JobRecord record;                   // as the job ended; for one that never ended, as it began
    std::optional<SerialState> state;   // what the number becomes; none: it stays as it is
};

// What a delivery came to.
struct JournalDelivery
{
    QStringList delivered;              // job ids the store took, in order
    int waiting = 0;                    // records for this store still in a journal
    QString file;                       // the journal the first of them waits in
    QString error;                      // why the store did not take it
};

// The write-ahead journal of one process's job records, one file of its
// own in a folder shared by the processes of this machine, locked for
// the process's life. Each line is a JSON entry: "begun" (the job as
// known before the board is touched) and "ended" (the record and what its
// number becomes) are synced to disk before the job goes on; "delivered"
// follows when the store has taken the record, unsynced, since a record
// delivered twice is stored once. A journal whose records are all
// delivered is removed when its process ends; one its process left behind
// (ended with records waiting, or died: its lock is stale) is delivered by
// the next process that uses the same store, a job that began and never
// ended as a record of class killed.
class Journal
{
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Makes and locks this process's journal in folder, for the store
    // StoreName gives; empty when done, else why not.
    QString Open(const QString &folder, const QString &store);
    bool IsOpen() const { return file.isOpen(); }
    QString Path() const { return file.fileName(); }

    // The entries, on disk when they return empty (else why not).
    QString Begin(const JobRecord &known);
    QString End(const JobRecord &record, std::optional<SerialState> state);

    // Hands the store, in order, the records of the journals left in the
    // folder for this store, then this journal's; stops at the first the
    // store does not take.
    JournalDelivery Deliver(RecordStore &records);
    // This journal's records the store has not taken.
    int Waiting() const { return int(waiting.size()); }

private:
    QString Append(const QByteArray &line, bool sync);

    QString folder;
    QString store;
    std::unique_ptr<QLockFile> lock;
    QFile file;
    QVector<JournalEntry> waiting;      // ended and not delivered, in order
    QStringList running;                // begun and not ended
};

// The records journals left in folder hold for store (those of running
// processes aside), and their delivery: for a process that keeps no
// journal of its own, such as report.
int LeftRecords(const QString &folder, const QString &store);
JournalDelivery DeliverLeft(const QString &folder, const QString &store, RecordStore &records);

#endif // JOURNAL_H
