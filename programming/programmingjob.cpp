#include "programmingjob.h"

#include "devicelink.h"
#include "imagereaders.h"
#include "readpass.h"

#include <QElapsedTimer>

#include <algorithm>


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
    PlanBlocks(plan, image, start, pageSize, blockSize, order == BlockOrder::FirstBlockLast);
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

// Every page is read before any is erased, each from its start and only
// up to the first read that differs; the first read is a short probe, as
// a blank or foreign device differs in its first bytes. A page is left
// alone only if the settled reads show all of it holding what a rewrite
// would leave there: the image's bytes, and 0xFF everywhere else. Where
// the line would not settle, nothing read is trusted and every page is
// rewritten.
JobOutcome ProgrammingJob::Compare(JobObserver &observer, JobPlan *plan)
{
    observer.PassStarted(JobPass::Compare, plan->pages.size());
    ReadPass pass(link, blockSize);
    int compared = 0;
    for (quint32 page : plan->pages) {
        const QByteArray expected = PageImage(page);
        int offset = 0;
        const int result = pass.Read(page, expected.size(), ProbeBytes, [&](quint32, const QByteArray &bytes) {
            const bool same = bytes == expected.mid(offset, bytes.size());
            offset += bytes.size();
            return same;
        });
        NoteReads(pass, result);
        plan->compareReads = pass.ReadLengths();
        if (result != LinkOk)
            return Failure(JobPass::Compare, result, FlashBlock{page, int(pageSize), 0, {}});
        observer.Progress(++compared);
        if (observer.ShouldStop(JobPass::Compare))
            return Cancel(JobPass::Compare, FlashBlock{page, 0, 0, {}});
    }
    const int settled = plan->pages.isEmpty() ? LinkOk : pass.Settle();
    plan->compareReads = pass.ReadLengths();
    plan->compareConfirmed = !plan->pages.isEmpty();
    if (settled == LinkPortLost)
        return Failure(JobPass::Compare, settled, FlashBlock{plan->pages.last(), int(pageSize), 0, {}});
    QVector<quint32> differ;
    for (quint32 page : plan->pages) {
        const QByteArray expected = PageImage(page);
        const bool unchanged = settled == LinkOk && pass.Bytes(page, expected.size()) == expected;
        if (!unchanged)
            differ.append(page);
        observer.PageCompared(page, unchanged);
    }
    plan->erase = PagesToErase(plan->pages, differ, start, pageSize, blockSize, order == BlockOrder::FirstBlockLast);
    plan->firstPagesKept = plan->erase.size() - differ.size();
    return JobOutcome();
}

// What a rewrite leaves in the page: the image's bytes and 0xFF in the
// rest, up to the end of the address space.
QByteArray ProgrammingJob::PageImage(quint32 page) const
{
    const int length = int(qMin<quint64>(pageSize, 0x100000000ull - page));
    return image.Bytes(page, length, char(0xFF));
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

// The blocks are read in runs of neighbours and judged twice: as the
// reads come, for the progress, the map and a verify that stops at its
// first difference; and once the pass has settled, on the bytes it hands
// on, which alone decide. A difference that settling reads away (a stale
// reply) lets the verify go on from there.
JobOutcome ProgrammingJob::VerifyBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks,
                                        qint64 *done, QVector<FlashDifference> *differences)
{
    JobOutcome mismatch;
    for (int from = 0; from < blocks.size();) {
        ReadPass pass(link, blockSize);
        int next = from;
        QVector<int> differing;     // blocks that differed as they were read
        const JobOutcome read = ReadRuns(observer, blocks, &pass, &next, done, !differences, &differing);
        if (read.status != JobOutcome::Done)
            return read;
        const int settled = pass.Settle();
        if (settled != LinkOk)
            return Failure(JobPass::Verify, settled, blocks.at(next - 1));
        for (int i = from; i < next; ++i) {
            const FlashBlock &block = blocks.at(i);
            const QByteArray readBack = pass.Bytes(block.address, block.length);
            if (readBack == block.bytes) {
                if (differing.contains(i))
                    observer.Done(JobPass::Verify, block.address, block.length);
                continue;
            }
            if (mismatch.status == JobOutcome::Done) {
                mismatch = Failure(JobPass::Verify, 0, block);
                mismatch.mismatch = true;
                mismatch.readBackLength = readBack.size();
                mismatch.mismatchAddress = block.address + quint32(FirstDifference(readBack, block.bytes));
            }
            if (!differences)
                return mismatch;
            AppendDifferences(differences, block.address, block.bytes, readBack);
        }
        from = next;
    }
    return mismatch;
}

// Reads the blocks from *next on, run by run, until the end, a difference
// (when stopAtDifference) or a cancel; *next ends past the last block read.
JobOutcome ProgrammingJob::ReadRuns(JobObserver &observer, const QVector<FlashBlock> &blocks, ReadPass *pass,
                                    int *next, qint64 *done, bool stopAtDifference, QVector<int> *differing)
{
    bool stop = false;
    bool cancelled = false;
    while (*next < blocks.size() && !stop) {
        const int first = *next;
        const int last = RunEnd(blocks, first);
        const quint32 runAddress = blocks.at(first).address;
        const int runLength = int(blocks.at(last).address - runAddress) + blocks.at(last).length;
        QByteArray got;
        const int result = pass->Read(runAddress, runLength, blockSize, [&](quint32, const QByteArray &bytes) {
            got += bytes;
            for (; *next <= last && int(blocks.at(*next).address - runAddress) + blocks.at(*next).length <= got.size();
                 ++*next) {
                const FlashBlock &block = blocks.at(*next);
                const bool same = got.mid(int(block.address - runAddress), block.length) == block.bytes;
                if (!same) {
                    differing->append(*next);
                    observer.Differs(JobPass::Verify, block.address, block.length);
                }
                // A block that differs is not counted done where it ends the verify.
                if (!same && stopAtDifference) {
                    stop = true;
                    ++*next;
                    return false;
                }
                if (same)
                    observer.Done(JobPass::Verify, block.address, block.length);
                *done += block.dataBytes;
                observer.Progress(int(*done));
                if (observer.ShouldStop(JobPass::Verify)) {
                    cancelled = true;
                    ++*next;
                    return false;
                }
            }
            return true;
        });
        NoteReads(*pass, result);
        if (result != LinkOk)
            return Failure(JobPass::Verify, result, blocks.at(*next));
        if (cancelled)
            return Cancel(JobPass::Verify, blocks.at(*next - 1));
    }
    return JobOutcome();
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

// A backup is handed on only once its reads have settled: the line has
// stayed quiet after the last block and every block in doubt was read
// again.
JobOutcome ProgrammingJob::Read(JobObserver &observer, int length, QByteArray *out)
{
    out->clear();
    observer.PassStarted(JobPass::Read, qMax(length, 0));
    if (length <= 0)
        return Stopped(JobOutcome());
    ReadPass pass(link, blockSize);
    int got = 0;
    bool cancelled = false;
    const int result = pass.Read(start, length, blockSize, [&](quint32 address, const QByteArray &bytes) {
        observer.Done(JobPass::Read, address, bytes.size());
        got += bytes.size();
        observer.Progress(got);
        cancelled = observer.ShouldStop(JobPass::Read);
        return !cancelled;
    });
    NoteReads(pass, result);
    if (result != LinkOk)
        return Stopped(Failure(JobPass::Read, result, FlashBlock{start + quint32(got), pass.LastLength(), 0, {}}));
    if (cancelled)
        return Stopped(Cancel(JobPass::Read, FlashBlock{start, got, 0, {}}));
    const int settled = pass.Settle();
    if (settled != LinkOk)
        return Stopped(Failure(JobPass::Read, settled, FlashBlock{start + quint32(got) - quint32(pass.LastLength()),
                                                                  pass.LastLength(), 0, {}}));
    *out = pass.Bytes(start, length);
    return Stopped(JobOutcome());
}

// Where the reads of a pass got to, for telling a loader that cannot take
// long frames: a read longer than 64 bytes that failed before any had
// gone through.
void ProgrammingJob::NoteReads(const ReadPass &pass, int result)
{
    const QVector<int> &lengths = pass.ReadLengths();
    if (lengths.isEmpty())
        return;
    for (int i = 0; i + 1 < lengths.size(); ++i)
        longReadTaken = longReadTaken || lengths.at(i) > DefaultBlockSize;
    const bool longBlock = lengths.last() > DefaultBlockSize;
    lastRefused = longBlock && !longReadTaken && (result == LinkNoReply || result == LinkBadReply);
    longReadTaken = longReadTaken || (longBlock && result == LinkOk);
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
