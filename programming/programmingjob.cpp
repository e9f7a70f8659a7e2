#include "programmingjob.h"

#include "devicelink.h"

namespace {

JobOutcome Failure(JobPass pass, int linkResult, int index, quint32 address, int length)
{
    JobOutcome outcome;
    outcome.status = JobOutcome::Failed;
    outcome.pass = pass;
    outcome.linkResult = linkResult;
    outcome.index = index;
    outcome.address = address;
    outcome.blockLength = length;
    return outcome;
}

// A cancel keeps where the pass had got to, so a front end can say how far
// the flash was changed before it stopped.
JobOutcome Cancel(JobPass pass, int index, quint32 address)
{
    JobOutcome outcome;
    outcome.status = JobOutcome::Cancelled;
    outcome.pass = pass;
    outcome.index = index;
    outcome.address = address;
    return outcome;
}

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
        else if (result == LinkPortLost || ++failures > 1)
            return result;
    }
    return result == LinkOk ? LinkBadReply : result;
}

} // namespace

quint32 AvailableBytes(quint32 start, quint32 end)
{
    return start < end ? end - start : 0;
}

quint32 PagesFor(quint32 size, quint32 pageSize)
{
    if (pageSize == 0)
        return 0;
    // Written without size + pageSize - 1 so that sizes near 4 GiB cannot wrap.
    return size / pageSize + (size % pageSize != 0 ? 1 : 0);
}

RangeCheck CheckRange(quint32 start, quint32 end, quint32 pageSize, quint32 size)
{
    if (size > AvailableBytes(start, end))
        return RangeCheck::TooLarge;
    // A zero page size cannot place the start on a page boundary either.
    if (pageSize == 0 || start % pageSize != 0)
        return RangeCheck::Unaligned;
    return RangeCheck::Fits;
}

ProgrammingJob::ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize,
                               const QByteArray &image)
    : link(link), start(start), pageSize(pageSize), image(image)
{
}

bool ProgrammingJob::SetBlockSize(int bytes)
{
    if (bytes < 1 || bytes > MaxBlockSize)
        return false;
    blockSize = bytes;
    return true;
}

// A job stopped anywhere before the first block went in leaves it erased:
// the application cannot start half-written. Only its very last step puts
// the first block in, once everything else is in place and verified.
JobOutcome ProgrammingJob::Run(JobObserver &observer)
{
    JobOutcome outcome = Erase(observer);
    if (outcome.status != JobOutcome::Done)
        return Stopped(outcome);
    QVector<FlashBlock> blocks = PlanBlocks(start, image.size(), blockSize);
    const bool firstLast = order == BlockOrder::FirstBlockLast && !blocks.isEmpty()
        && blocks.first().address == start;
    const FlashBlock first = firstLast ? blocks.takeFirst() : FlashBlock();
    int done = 0;
    observer.PassStarted(JobPass::Write, image.size());
    outcome = WriteBlocks(observer, blocks, &done);
    if (outcome.status != JobOutcome::Done)
        return Stopped(outcome);
    done = 0;
    observer.PassStarted(JobPass::Verify, image.size());
    outcome = VerifyBlocks(observer, blocks, &done);
    if (outcome.status != JobOutcome::Done || !firstLast)
        return Stopped(outcome);
    const int result = WriteOne(first);
    if (result != LinkOk)
        return Stopped(Failure(JobPass::Write, result, first.offset, first.address, first.length));
    return Stopped(VerifyBlocks(observer, {first}, &done));
}

JobOutcome ProgrammingJob::Erase(JobObserver &observer)
{
    const int pages = int(PagesFor(quint32(image.size()), pageSize));
    observer.PassStarted(JobPass::Erase, pages);
    for (int i = 0; i < pages; ++i) {
        const quint32 address = start + quint32(i) * pageSize;
        const int result = link.ErasePage(address, 1);
        if (result != LinkOk)
            return Failure(JobPass::Erase, result, i, address, 0);
        firstBlockErased = firstBlockErased || address == start;
        observer.Progress(i + 1);
        if (observer.ShouldStop(JobPass::Erase))
            return Cancel(JobPass::Erase, i + 1, address + pageSize);
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::WriteBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks,
                                       int *done)
{
    for (const FlashBlock &block : blocks) {
        const int result = WriteOne(block);
        if (result != LinkOk)
            return Failure(JobPass::Write, result, block.offset, block.address, block.length);
        *done += block.length;
        observer.Progress(*done);
        if (observer.ShouldStop(JobPass::Write))
            return Cancel(JobPass::Write, block.offset + block.length, block.address + quint32(block.length));
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::VerifyBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks,
                                        int *done)
{
    for (const FlashBlock &block : blocks) {
        QByteArray readBack;
        const int result = ReadOne(block, &readBack);
        if (result != LinkOk)
            return Failure(JobPass::Verify, result, block.offset, block.address, block.length);
        if (readBack != image.mid(block.offset, block.length)) {
            JobOutcome outcome = Failure(JobPass::Verify, 0, block.offset, block.address, block.length);
            outcome.mismatch = true;
            outcome.readBackLength = readBack.size();
            return outcome;
        }
        *done += block.length;
        observer.Progress(*done);
        if (observer.ShouldStop(JobPass::Verify))
            return Cancel(JobPass::Verify, block.offset + block.length, block.address + quint32(block.length));
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::Verify(JobObserver &observer)
{
    int done = 0;
    observer.PassStarted(JobPass::Verify, image.size());
    return Stopped(VerifyBlocks(observer, PlanBlocks(start, image.size(), blockSize), &done));
}

JobOutcome ProgrammingJob::Read(JobObserver &observer, int length, QByteArray *out)
{
    out->clear();
    out->reserve(qMax(length, 0));
    observer.PassStarted(JobPass::Read, length);
    for (const FlashBlock &block : PlanBlocks(start, length, blockSize)) {
        QByteArray bytes;
        const int result = ReadOne(block, &bytes);
        // A short block would shift everything after it in the backup, so it
        // is as much a failure as no reply at all.
        if (result != LinkOk || bytes.size() != block.length) {
            JobOutcome outcome = Failure(JobPass::Read, result == LinkOk ? LinkBadReply : result,
                                         block.offset, block.address, block.length);
            outcome.readBackLength = result == LinkOk ? bytes.size() : 0;
            return Stopped(outcome);
        }
        out->append(bytes);
        observer.Progress(block.offset + block.length);
        if (observer.ShouldStop(JobPass::Read))
            return Stopped(Cancel(JobPass::Read, block.offset + block.length,
                                  block.address + quint32(block.length)));
    }
    return JobOutcome();
}

// A loader that cannot take a frame as long as the block ignores it like
// line noise or refuses it; either shows on the first long block, before
// any of them has gone through.
int ProgrammingJob::WriteOne(const FlashBlock &block)
{
    if (block.address == start)
        firstBlockErased = false;
    const int result = link.WriteBlock(image.mid(block.offset, block.length), block.address, block.length);
    const bool longBlock = block.length > DefaultBlockSize;
    lastRefused = longBlock && !longWriteTaken && (result == LinkNoReply || result == LinkBadReply);
    longWriteTaken = longWriteTaken || (longBlock && result == LinkOk);
    return result;
}

int ProgrammingJob::ReadOne(const FlashBlock &block, QByteArray *out)
{
    const int result = ReadInStep(link, out, block.address, block.length);
    const bool longBlock = block.length > DefaultBlockSize;
    lastRefused = longBlock && !longReadTaken && (result == LinkNoReply || result == LinkBadReply);
    longReadTaken = longReadTaken || (longBlock && result == LinkOk);
    return result;
}

JobOutcome ProgrammingJob::Stopped(JobOutcome outcome) const
{
    outcome.firstBlockErased = firstBlockErased;
    outcome.blockSizeRefused = outcome.status == JobOutcome::Failed && lastRefused;
    return outcome;
}
