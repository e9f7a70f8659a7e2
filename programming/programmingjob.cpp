#include "programmingjob.h"

#include "devicelink.h"
#include "imagereaders.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

// Bytes read back are used only from a reply that cannot have answered an
// earlier request. A reply to a resent frame may be the late answer to
// the frame before it; the block is then read again, after the link has
// waited for the line to fall quiet. Two such readings that agree show
// what the flash holds: even if one answered an earlier request, that
// request's bytes are these. A read that failed outright is tried once
// more too: the job going on is worth the few hundred milliseconds.
int ReadInStep(DeviceLink &link, QByteArray *out, quint32 address, int length)
{
    constexpr int Rounds = 3;
    int result = LinkNoReply;
    int failures = 0;
    QByteArray doubtful;
    for (int round = 0; round < Rounds; ++round) {
        result = link.ReadBlock(out, address, length);
        if (result == LinkOk && (link.InStep() || *out == doubtful))
            return LinkOk;
        if (result == LinkOk)
            doubtful = *out;
        else if (result == LinkPortLost || result == LinkOutOfTurn || ++failures > 1)
            return result;
    }
    return result == LinkOk ? LinkBadReply : result;
}

} // namespace

double MeasureTurnaroundMs(DeviceLink &link, qint32 baud, int samples)
{
    if (baud <= 0)
        return 0;
    const double wireMs = DeviceLink::ParamsChars() * DeviceLink::BitsPerChar * 1000.0 / baud;
    QVector<double> extra;
    QElapsedTimer timer;
    for (int i = 0; i < samples; ++i) {
        timer.start();
        if (link.ReadFlashParams(nullptr, nullptr, nullptr) == LinkOk)
            extra.append(qMax(0.0, timer.nsecsElapsed() / 1e6 - wireMs));
    }
    if (extra.isEmpty())
        return 0;
    std::sort(extra.begin(), extra.end());
    return extra.at(extra.size() / 2);
}

quint64 AvailableBytes(quint32 start, quint32 end)
{
    return start <= end ? quint64(end) - start + 1 : 0;
}

namespace {

// The half-word and page rules, once the data are known to fit.
RangeCheck CheckPlacement(quint32 start, quint32 pageSize, RangeUse use)
{
    if (start % 2 != 0)
        return RangeCheck::OddStart;
    if (use == RangeUse::Read)
        return RangeCheck::Fits;
    if (pageSize % 2 != 0)
        return RangeCheck::OddPageSize;
    // A zero page size cannot place the start on a page boundary either.
    if (pageSize == 0 || start % pageSize != 0)
        return RangeCheck::Unaligned;
    return RangeCheck::Fits;
}

} // namespace

RangeCheck CheckRawRange(quint32 start, quint32 end, quint32 pageSize, qint64 size, RangeUse use)
{
    if (size < 0 || quint64(size) > AvailableBytes(start, end))
        return RangeCheck::TooLarge;
    return CheckPlacement(start, pageSize, use);
}

RangeCheck CheckImageRange(quint32 start, quint32 end, quint32 pageSize, const FirmwareImage &image,
                           RangeUse use)
{
    if (!image.IsEmpty() && image.LowestAddress() < start)
        return RangeCheck::BelowStart;
    // Compared as addresses, not as a span from the start: a span up to
    // 0xFFFFFFFF does not fit in 32 bits.
    if (!image.IsEmpty() && (start > end || image.HighestAddress() > end))
        return RangeCheck::TooLarge;
    return CheckPlacement(start, pageSize, use);
}

namespace {

QVector<FlashBlock> WithoutBlank(const QVector<FlashBlock> &blocks)
{
    QVector<FlashBlock> written;
    for (const FlashBlock &block : blocks) {
        if (!block.Blank())
            written.append(block);
    }
    return written;
}

// Where two byte strings part, or where the shorter one ends.
int FirstDifference(const QByteArray &a, const QByteArray &b)
{
    const int common = qMin(a.size(), b.size());
    int i = 0;
    while (i < common && a.at(i) == b.at(i))
        ++i;
    return i;
}

qint64 DataBytes(const QVector<FlashBlock> &blocks)
{
    qint64 total = 0;
    for (const FlashBlock &block : blocks)
        total += block.dataBytes;
    return total;
}

} // namespace

ProgrammingJob::ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize,
                               const FirmwareImage &image)
    : link(link), start(start), pageSize(pageSize), image(image)
{
}

ProgrammingJob::ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize,
                               const QByteArray &image)
    : ProgrammingJob(link, start, pageSize, ReadRawImage(image, QString(), start).image)
{
}

bool ProgrammingJob::SetBlockSize(int bytes)
{
    if (bytes < 2 || bytes > MaxBlockSize || bytes % 2 != 0)
        return false;
    blockSize = bytes;
    return true;
}

// A job stopped anywhere before the first block went in leaves it erased:
// the application cannot start half-written. Only its very last step puts
// the first block in (the image's blocks in the first window from the
// start address), once everything else is in place and verified.
JobOutcome ProgrammingJob::Run(JobObserver &observer)
{
    JobPlan plan;
    const JobOutcome outcome = Plan(observer, &plan);
    if (outcome.status != JobOutcome::Done)
        return outcome;
    return Execute(observer, plan);
}

JobOutcome ProgrammingJob::Plan(JobObserver &observer, JobPlan *plan)
{
    *plan = JobPlan();
    plan->pages = PlanPages(image, start, pageSize);
    JobOutcome outcome;
    if (skipUnchanged) {
        outcome = Compare(observer, plan);
        if (outcome.status != JobOutcome::Done)
            return Stopped(outcome);
    } else {
        plan->erase = plan->pages;
    }
    plan->pagesSkipped = plan->pages.size() - plan->erase.size();
    PlanBlocks(plan, image, start, pageSize, blockSize);
    pagesSkipped = plan->pagesSkipped;
    return Stopped(outcome);
}

JobOutcome ProgrammingJob::Execute(JobObserver &observer, const JobPlan &plan)
{
    JobOutcome outcome = Erase(observer, plan.erase);
    if (outcome.status != JobOutcome::Done)
        return Stopped(outcome);
    QVector<FlashBlock> blocks = PlanImageBlocks(plan.target, start, blockSize);
    QVector<FlashBlock> first;
    while (order == BlockOrder::FirstBlockLast && !blocks.isEmpty()
           && blocks.first().address - start < quint32(blockSize))
        first.append(blocks.takeFirst());
    const QVector<FlashBlock> written = WithoutBlank(blocks);
    const QVector<FlashBlock> firstWritten = WithoutBlank(first);
    blocksSkipped = blocks.size() - written.size() + first.size() - firstWritten.size();
    qint64 done = 0;
    observer.PassStarted(JobPass::Write, int(DataBytes(written) + DataBytes(firstWritten)));
    outcome = WriteBlocks(observer, written, &done);
    if (outcome.status != JobOutcome::Done)
        return Stopped(outcome);
    done = 0;
    observer.PassStarted(JobPass::Verify, int(plan.target.ByteCount()));
    outcome = VerifyBlocks(observer, blocks, &done);
    if (outcome.status != JobOutcome::Done)
        return Stopped(outcome);
    for (const FlashBlock &block : firstWritten) {
        const int result = WriteOne(block);
        if (result != LinkOk)
            return Stopped(Failure(JobPass::Write, result, block));
        observer.Done(JobPass::Write, block.address, block.length);
    }
    return Stopped(VerifyBlocks(observer, first, &done));
}

// Every page is read before any is erased. A page whose reading ends in a
// reply too many cannot be trusted to hold what it showed: a reply sent
// twice shifts every later answer by one, and only that last reply shows
// it. The whole comparison is then dropped and every page rewritten.
JobOutcome ProgrammingJob::Compare(JobObserver &observer, JobPlan *plan)
{
    observer.PassStarted(JobPass::Compare, plan->pages.size());
    int compared = 0;
    QVector<quint32> differ;
    for (quint32 page : plan->pages) {
        int result = LinkOk;
        if (!PageHolds(page, plan, &result)) {
            if (result != LinkOk)
                return Failure(JobPass::Compare, result, FlashBlock{page, int(pageSize), 0, {}});
            differ.append(page);
        }
        observer.PageCompared(page, differ.isEmpty() || differ.last() != page);
        observer.Progress(++compared);
        if (observer.ShouldStop(JobPass::Compare))
            return Cancel(JobPass::Compare, FlashBlock{page, 0, 0, {}});
    }
    plan->erase = PagesToErase(plan->pages, differ, start, pageSize, blockSize, order == BlockOrder::FirstBlockLast);
    plan->firstPagesKept = plan->erase.size() - differ.size();
    if (plan->compareReads.isEmpty())
        return JobOutcome();
    const int quiet = link.ConfirmQuiet(plan->compareReads.last());
    plan->compareConfirmed = true;
    if (quiet == LinkPortLost)
        return Failure(JobPass::Compare, quiet, FlashBlock{plan->pages.last(), int(pageSize), 0, {}});
    if (quiet != LinkOk) {
        plan->erase = plan->pages;
        plan->firstPagesKept = 0;
    }
    return JobOutcome();
}

// Whether the page already holds what a rewrite would leave in it: the
// image's bytes, and 0xFF everywhere else in the page. Read from its start,
// and only up to the first block that differs. The first read is a short
// probe: a blank or foreign device differs in its first bytes, so such a
// device costs little more than a quarter of a block's read a page.
bool ProgrammingJob::PageHolds(quint32 page, JobPlan *plan, int *result)
{
    const QByteArray expected = image.Bytes(page, int(pageSize), char(0xFF));
    quint32 offset = 0;
    while (offset < pageSize && quint64(page) + offset <= 0xFFFFFFFFu) {
        // The probe, then up to each block boundary from the page's start.
        const quint32 block = quint32(blockSize);
        const quint32 end = offset == 0 ? qMin(quint32(ProbeBytes), block) : (offset / block + 1) * block;
        const int length = int(qMin(end, pageSize) - offset);
        const FlashBlock read{page + offset, length, 0, {}};
        QByteArray held;
        *result = ReadOne(read, &held);
        plan->compareReads.append(length);
        if (*result != LinkOk || held != expected.mid(int(offset), length))
            return false;
        offset += quint32(length);
    }
    return true;
}

JobOutcome ProgrammingJob::Erase(JobObserver &observer, const QVector<quint32> &pages)
{
    observer.PassStarted(JobPass::Erase, pages.size());
    for (quint32 address : pages) {
        const int result = link.ErasePage(address, 1);
        if (result != LinkOk) {
            JobOutcome outcome = Failure(JobPass::Erase, result, FlashBlock{address, 0, 0, {}});
            outcome.index = int((address - start) / pageSize);
            return outcome;
        }
        firstBlockErased = firstBlockErased || address == start;
        observer.Done(JobPass::Erase, address, int(pageSize));
        observer.Progress(++pagesErased);
        if (observer.ShouldStop(JobPass::Erase)) {
            JobOutcome outcome = Cancel(JobPass::Erase, FlashBlock{address, int(pageSize), 0, {}});
            outcome.index = int((address - start) / pageSize) + 1;
            return outcome;
        }
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::WriteBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks,
                                       qint64 *done)
{
    for (const FlashBlock &block : blocks) {
        const int result = WriteOne(block);
        if (result != LinkOk)
            return Failure(JobPass::Write, result, block);
        observer.Done(JobPass::Write, block.address, block.length);
        *done += block.dataBytes;
        observer.Progress(int(*done));
        if (observer.ShouldStop(JobPass::Write))
            return Cancel(JobPass::Write, block);
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::VerifyBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks,
                                        qint64 *done, QVector<FlashDifference> *differences)
{
    JobOutcome mismatch;
    for (const FlashBlock &block : blocks) {
        QByteArray readBack;
        const int result = ReadOne(block, &readBack);
        if (result != LinkOk)
            return Failure(JobPass::Verify, result, block);
        if (readBack != block.bytes && mismatch.status == JobOutcome::Done) {
            mismatch = Failure(JobPass::Verify, 0, block);
            mismatch.mismatch = true;
            mismatch.readBackLength = readBack.size();
            mismatch.mismatchAddress = block.address + quint32(FirstDifference(readBack, block.bytes));
        }
        if (readBack != block.bytes && !differences)
            return mismatch;
        if (readBack != block.bytes)
            AppendDifferences(differences, block.address, block.bytes, readBack);
        else
            observer.Done(JobPass::Verify, block.address, block.length);
        *done += block.dataBytes;
        observer.Progress(int(*done));
        if (observer.ShouldStop(JobPass::Verify))
            return Cancel(JobPass::Verify, block);
    }
    return mismatch;
}

JobOutcome ProgrammingJob::Verify(JobObserver &observer)
{
    qint64 done = 0;
    observer.PassStarted(JobPass::Verify, int(image.ByteCount()));
    return Stopped(VerifyBlocks(observer, PlanImageBlocks(image, start, blockSize), &done));
}

JobOutcome ProgrammingJob::VerifyAll(JobObserver &observer, QVector<FlashDifference> *differences)
{
    qint64 done = 0;
    differences->clear();
    observer.PassStarted(JobPass::Verify, int(image.ByteCount()));
    return Stopped(VerifyBlocks(observer, PlanImageBlocks(image, start, blockSize), &done, differences));
}

// A backup is taken only when the line stays quiet after its last block:
// a reply too many means a reply the device sent twice shifted the answers
// somewhere, and every block is read again.
JobOutcome ProgrammingJob::Read(JobObserver &observer, int length, QByteArray *out)
{
    const QVector<FlashBlock> blocks = PlanReadBlocks(start, length, blockSize);
    int result = LinkOk;
    for (int pass = 0; pass < ReadPasses; ++pass) {
        const JobOutcome outcome = ReadOnce(observer, blocks, length, out);
        if (outcome.status != JobOutcome::Done || blocks.isEmpty() || !confirmQuiet)
            return outcome;
        result = link.ConfirmQuiet(blocks.last().length);
        if (result == LinkOk)
            return outcome;
        if (result == LinkPortLost)
            break;
    }
    out->clear();
    return Stopped(Failure(JobPass::Read, result, blocks.last()));
}

JobOutcome ProgrammingJob::ReadOnce(JobObserver &observer, const QVector<FlashBlock> &blocks, int length,
                                    QByteArray *out)
{
    out->clear();
    out->reserve(qMax(length, 0));
    observer.PassStarted(JobPass::Read, length);
    for (const FlashBlock &block : blocks) {
        QByteArray bytes;
        const int result = ReadOne(block, &bytes);
        // A short block would shift everything after it in the backup, so it
        // is as much a failure as no reply at all.
        if (result != LinkOk || bytes.size() != block.length) {
            JobOutcome outcome = Failure(JobPass::Read, result == LinkOk ? LinkBadReply : result, block);
            outcome.readBackLength = result == LinkOk ? bytes.size() : 0;
            return Stopped(outcome);
        }
        out->append(bytes);
        observer.Done(JobPass::Read, block.address, block.length);
        observer.Progress(out->size());
        if (observer.ShouldStop(JobPass::Read))
            return Stopped(Cancel(JobPass::Read, block));
    }
    return JobOutcome();
}

// A loader that cannot take a frame as long as the block ignores it like
// line noise or refuses it; either shows on the first long block, before
// any of them has gone through.
int ProgrammingJob::WriteOne(const FlashBlock &block)
{
    if (block.address - start < quint32(blockSize))
        firstBlockErased = false;
    sent.append(FlashBlock{block.address, block.length, block.dataBytes, {}});
    const int result = link.WriteBlock(block.bytes, block.address, block.length);
    const bool longBlock = block.length > DefaultBlockSize;
    lastRefused = longBlock && !longWriteTaken && (result == LinkNoReply || result == LinkBadReply);
    longWriteTaken = longWriteTaken || (longBlock && result == LinkOk);
    if (result == LinkOk) {
        bytesWritten += block.dataBytes;
        ++blocksWritten;
        pagesWritten.insert(pageSize ? (block.address - start) / pageSize : 0);
    }
    return result;
}

bool ProgrammingJob::MayHaveWritten(quint32 address, int length) const
{
    const quint64 last = quint64(address) + quint64(qMax(length, 1)) - 1;
    for (const FlashBlock &block : sent) {
        if (block.address <= last && address <= quint64(block.address) + quint64(block.length) - 1)
            return true;
    }
    return false;
}

int ProgrammingJob::ReadOne(const FlashBlock &block, QByteArray *out)
{
    const int result = ReadInStep(link, out, block.address, block.length);
    const bool longBlock = block.length > DefaultBlockSize;
    lastRefused = longBlock && !longReadTaken && (result == LinkNoReply || result == LinkBadReply);
    longReadTaken = longReadTaken || (longBlock && result == LinkOk);
    return result;
}

// Offsets count from the start address, as the front ends show them.
JobOutcome ProgrammingJob::Failure(JobPass pass, int linkResult, const FlashBlock &block) const
{
    JobOutcome outcome;
    outcome.status = JobOutcome::Failed;
    outcome.pass = pass;
    outcome.linkResult = linkResult;
    outcome.index = int(block.address - start);
    outcome.address = block.address;
    outcome.blockLength = block.length;
    return outcome;
}

// A cancel keeps where the pass had got to: the end of the last block
// (or page) done.
JobOutcome ProgrammingJob::Cancel(JobPass pass, const FlashBlock &block) const
{
    JobOutcome outcome;
    outcome.status = JobOutcome::Cancelled;
    outcome.pass = pass;
    outcome.address = block.address + quint32(block.length);
    outcome.index = int(outcome.address - start);
    return outcome;
}

JobOutcome ProgrammingJob::Stopped(JobOutcome outcome) const
{
    outcome.firstBlockErased = firstBlockErased;
    outcome.blockSizeRefused = outcome.status == JobOutcome::Failed && lastRefused;
    outcome.pagesErased = pagesErased;
    outcome.bytesWritten = bytesWritten;
    outcome.blocksWritten = blocksWritten;
    outcome.blocksSkipped = blocksSkipped;
    outcome.pagesWritten = pagesWritten.size();
    outcome.pagesSkipped = pagesSkipped;
    return outcome;
}
