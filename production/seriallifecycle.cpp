#include "seriallifecycle.h"

#include "devicelink.h"
#include "storeaccess.h"

#include <algorithm>

namespace {

// Reads the serial number's place, a block or two, without progress of
// its own; not even a cancel stops it halfway, as after a cancelled job
// it must still tell what the board carries.
class QuietRead : public JobObserver
{
public:
    void PassStarted(JobPass, int) override {}
    void Progress(int) override {}
    bool ShouldStop(JobPass) override { return false; }
};

} // namespace

SerialDecision DecideSerial(const SerialReading &reading, const QVector<SerialEntry> &known, const QString &station,
                            const QString &port)
{
    const auto entry = [&](qint64 serial) {
        const auto found = std::find_if(known.begin(), known.end(), [&](const SerialEntry &e) { return e.serial == serial; });
        return found == known.end() ? nullptr : &*found;
    };
    const auto inDoubtHere = [&](const SerialEntry &e) {
        return e.state == SerialState::Reserved && e.station == station && e.port == port;
    };
    SerialDecision decision;
    // Only a board that holds exactly the number, check and all, can be
    // told from a board that holds a damaged, foreign or constant one.
    if (reading.kind == SerialReading::Valid) {
        const SerialEntry *e = entry(reading.number);
        if (e && (e->state == SerialState::Committed || e->state == SerialState::Held || e->state == SerialState::Reserved))
            decision.keep = reading.number;
    }
    for (const SerialEntry &e : known) {
        if (inDoubtHere(e) && e.serial != decision.keep.value_or(-1))
            decision.voids << e.serial;
    }
    if (decision.keep)
        return decision;
    const QVector<qint64> numbers = reading.Numbers();
    for (qint64 serial : numbers) {
        const SerialEntry *e = entry(serial);
        if (e && e->state == SerialState::Held && !decision.voids.contains(serial))
            decision.voids << serial;
    }
    // The number the board most likely carried: one whose board was never
    // settled (held, or reserved by a job that may have died), then one
    // the pool gave out at all, then any.
    const auto rank = [&](qint64 serial) {
        const SerialEntry *e = entry(serial);
        return !e ? 2 : e->state == SerialState::Held || e->state == SerialState::Reserved ? 0 : 1;
    };
    const auto likeliest = std::min_element(numbers.begin(), numbers.end(),
                                            [&](qint64 a, qint64 b) { return rank(a) < rank(b); });
    if (likeliest != numbers.end())
        decision.replaced = *likeliest;
    return decision;
}

SerialLifecycle::SerialLifecycle(DeviceLink &link, const Geometry &geometry, const SerialSettings &settings,
                                 StoreAccess *store)
    : link(link), geometry(geometry), settings(settings), store(store)
{
}

SerialTaking SerialLifecycle::Take()
{
    SerialTaking taking;
    QByteArray bytes;
    taking.read = ReadPlace(&bytes);
    if (taking.read.status != JobOutcome::Done) {
        taking.result = SerialTaking::Unread;
        return taking;
    }
    taking.reading = DecodeSerial(bytes, settings.format);
    // One trip to the store's thread for the whole choice.
    taking = store->Call([&](RecordStore &records) { return Choose(records, taking); });
    if (taking.result == SerialTaking::Taken && EncodeSerial(taking.serial, settings.format).isEmpty())
        taking.result = SerialTaking::UsedUp;
    return taking;
}

// Each step is one transaction that asks the number's state again, so a
// station that settles a number meanwhile cannot be overruled.
SerialTaking SerialLifecycle::Choose(RecordStore &records, SerialTaking taking) const
{
    const auto failed = [&](const QString &error) {
        taking.result = SerialTaking::StoreFailed;
        taking.error = error;
        return taking;
    };
    const StoreResult<QVector<SerialEntry>> known =
        records.Known(settings.pool, taking.reading.Numbers(), settings.station, settings.port);
    if (!known.Ok())
        return failed(known.error);
    const SerialDecision decision = DecideSerial(taking.reading, known.value, settings.station, settings.port);
    const StoreResult<QVector<qint64>> voided =
        records.VoidUnsettled(settings.pool, decision.voids, settings.station, settings.port);
    if (!voided.Ok())
        return failed(voided.error);
    taking.voided = voided.value;
    if (decision.keep) {
        const StoreResult<bool> claim = records.ClaimForRework(settings.pool, *decision.keep, settings.station, settings.port);
        if (!claim.Ok())
            return failed(claim.error);
        if (claim.value) {
            taking.serial = *decision.keep;
            taking.rework = true;
            return taking;
        }
    }
    taking.replaced = decision.keep.value_or(decision.replaced);
    const StoreResult<qint64> reserved =
        records.Reserve(settings.pool, settings.range, settings.station, settings.port, settings.job);
    if (reserved.refused) {
        taking.result = SerialTaking::UsedUp;
        taking.error = reserved.error;
        return taking;
    }
    if (!reserved.Ok())
        return failed(reserved.error);
    taking.serial = reserved.value;
    return taking;
}

JobOutcome SerialLifecycle::ReadPlace(QByteArray *bytes)
{
    const quint32 at = settings.address;
    const quint32 from = at & ~1u;
    const int length = int((quint64(at) + settings.format.Bytes() - from + 1) & ~quint64(1));
    ProgrammingJob reader(link, from, geometry.pageSize, QByteArray());
    QuietRead quiet;
    const JobOutcome outcome = reader.Read(quiet, length, bytes);
    *bytes = bytes->mid(int(at - from), settings.format.Bytes());
    return outcome;
}

SerialSettling SerialLifecycle::Settle(const ProgrammingJob &job, const JobOutcome &outcome, qint64 serial, bool rework)
{
    if (outcome.status == JobOutcome::Done)
        return {SerialState::Committed, false};
    if (rework || job.MayHaveWritten(settings.address, settings.format.Bytes()))
        return AfterFailure(serial, rework);
    return {settings.voidOnFail ? SerialState::Void : SerialState::Free, false};
}

// A board that failed after its number went out must carry that number or
// none at all: a damaged one could read as another board's number when
// the board comes back for rework. So the place is read back; anything but
// the number or erased flash has its page erased (a page the image owns,
// on a board that needs a new write anyway). A device that cannot be asked
// may carry the number: it is held for the board.
SerialSettling SerialLifecycle::AfterFailure(qint64 serial, bool rework)
{
    // A reworked board's number was used up once: it never goes to
    // another board, whatever this board now carries.
    const SerialState freed = rework ? SerialState::Held : settings.voidOnFail ? SerialState::Void : SerialState::Free;
    const QByteArray number = EncodeSerial(serial, settings.format);
    QByteArray held;
    if (ReadPlace(&held).status != JobOutcome::Done || held == number)
        return {SerialState::Held, false};
    if (held.count('\xFF') == held.size())
        return {freed, false};
    const quint32 at = settings.address, pageSize = geometry.pageSize;
    const quint32 last = at + quint32(held.size()) - 1;
    for (quint32 page = at - (at - geometry.start) % pageSize; page <= last && page >= geometry.start; page += pageSize) {
        if (link.ErasePage(page, 1) != LinkOk)
            return {SerialState::Held, false};
    }
    if (ReadPlace(&held).status != JobOutcome::Done || held.count('\xFF') != held.size())
        return {SerialState::Held, false};
    return {freed, true};
}
