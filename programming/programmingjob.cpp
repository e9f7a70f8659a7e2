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

int BlockLength(int size, int offset)
{
    return qMin(ProgrammingJob::BlockSize, size - offset);
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

JobOutcome ProgrammingJob::Run(JobObserver &observer)
{
    JobOutcome outcome = Erase(observer);
    if (outcome.status != JobOutcome::Done)
        return outcome;
    outcome = Write(observer);
    if (outcome.status != JobOutcome::Done)
        return outcome;
    return Verify(observer);
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
        observer.Progress(i + 1);
        if (observer.ShouldStop(JobPass::Erase))
            return Cancel(JobPass::Erase, i + 1, address + pageSize);
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::Write(JobObserver &observer)
{
    const int size = image.size();
    observer.PassStarted(JobPass::Write, size);
    for (int offset = 0; offset < size; offset += BlockSize) {
        const int length = BlockLength(size, offset);
        const quint32 address = start + quint32(offset);
        const int result = link.WriteBlock(image.mid(offset, length), address, length);
        if (result != LinkOk)
            return Failure(JobPass::Write, result, offset, address, length);
        observer.Progress(offset + length);
        if (observer.ShouldStop(JobPass::Write))
            return Cancel(JobPass::Write, offset + length, address + quint32(length));
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::Verify(JobObserver &observer)
{
    const int size = image.size();
    observer.PassStarted(JobPass::Verify, size);
    for (int offset = 0; offset < size; offset += BlockSize) {
        const int length = BlockLength(size, offset);
        const quint32 address = start + quint32(offset);
        QByteArray readBack;
        const int result = ReadInStep(link, &readBack, address, length);
        if (result != LinkOk)
            return Failure(JobPass::Verify, result, offset, address, length);
        if (readBack != image.mid(offset, length)) {
            JobOutcome outcome = Failure(JobPass::Verify, 0, offset, address, length);
            outcome.mismatch = true;
            outcome.readBackLength = readBack.size();
            return outcome;
        }
        observer.Progress(offset + length);
        if (observer.ShouldStop(JobPass::Verify))
            return Cancel(JobPass::Verify, offset + length, address + quint32(length));
    }
    return JobOutcome();
}

JobOutcome ProgrammingJob::Read(JobObserver &observer, int length, QByteArray *out)
{
    out->clear();
    out->reserve(qMax(length, 0));
    observer.PassStarted(JobPass::Read, length);
    for (int offset = 0; offset < length; offset += BlockSize) {
        const int blockLength = BlockLength(length, offset);
        const quint32 address = start + quint32(offset);
        QByteArray block;
        const int result = ReadInStep(link, &block, address, blockLength);
        // A short block would shift everything after it in the backup, so it
        // is as much a failure as no reply at all.
        if (result != LinkOk || block.size() != blockLength) {
            JobOutcome outcome = Failure(JobPass::Read, result == LinkOk ? LinkBadReply : result,
                                         offset, address, blockLength);
            outcome.readBackLength = result == LinkOk ? block.size() : 0;
            return outcome;
        }
        out->append(block);
        observer.Progress(offset + blockLength);
        if (observer.ShouldStop(JobPass::Read))
            return Cancel(JobPass::Read, offset + blockLength, address + quint32(blockLength));
    }
    return JobOutcome();
}
