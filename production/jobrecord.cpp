#include "jobrecord.h"

#include "fingerprint.h"
#include "storeaccess.h"

JobRecord MakeJobRecord(const JobFacts &facts, const QDateTime &time)
{
    JobRecord record;
    record.jobId = facts.jobId;
    record.time = time.toUTC();
    record.station = facts.station;
    record.port = facts.port;
    record.portPath = facts.portPath;
    record.version = QStringLiteral(TAMRIVO_VERSION);
    record.command = facts.command;
    record.image = facts.image;
    record.sha256 = QString::fromLatin1(facts.sha256);
    record.crc32 = facts.crc32 ? Crc32Text(*facts.crc32) : QString();
    record.pool = facts.serial >= 0 ? facts.pool : QString();
    record.serial = facts.serial >= 0 ? facts.serial : -1;
    record.rework = facts.serial >= 0 && facts.rework;
    record.replaced = facts.serial >= 0 ? facts.replaced : -1;
    record.resultClass = facts.resultClass;
    record.exitCode = facts.exitCode;
    record.pass = facts.pass;
    record.seconds = facts.seconds;
    if (const std::optional<JobOutcome> &outcome = facts.outcome) {
        if (outcome->status != JobOutcome::Done)
            record.address = outcome->address;
        record.bytesWritten = outcome->bytesWritten;
        record.pagesErased = outcome->pagesErased;
        record.pagesWritten = outcome->pagesWritten;
        record.pagesSkipped = outcome->pagesSkipped;
    }
    return record;
}

JobRecord KilledRecord(const JobRecord &begun)
{
    JobRecord record = begun;
    record.resultClass = QStringLiteral("killed");
    record.exitCode = -1;
    return record;
}

QString BeginJob(StoreAccess &store, const JobRecord &known)
{
    return store.Call([&](RecordStore &) {
        Journal *journal = store.RecordJournal();
        return journal ? journal->Begin(known) : QString();
    });
}

RecordKeeping RecordJob(StoreAccess &store, const JobRecord &record, std::optional<SerialState> state)
{
    return store.Call([&](RecordStore &records) {
        RecordKeeping keeping;
        Journal *journal = store.RecordJournal();
        const QString unwritten = journal ? journal->End(record, state) : QString();
        // Without the journal the store is all there is.
        if (!journal || !unwritten.isEmpty()) {
            const StoreResult<bool> finished = records.Finish(record, state);
            keeping.stored = finished.Ok();
            if (!finished.Ok())
                keeping.error = unwritten.isEmpty() ? finished.error : finished.error + QStringLiteral("; ") + unwritten;
            return keeping;
        }
        const JournalDelivery delivery = journal->Deliver(records);
        keeping.stored = delivery.delivered.contains(record.jobId);
        if (!keeping.stored) {
            keeping.journal = journal->Path();
            keeping.error = delivery.error;
        }
        return keeping;
    });
}

JournalDelivery DeliverJournal(StoreAccess &store)
{
    return store.Call([&](RecordStore &records) {
        Journal *journal = store.RecordJournal();
        return journal ? journal->Deliver(records) : JournalDelivery();
    });
}
