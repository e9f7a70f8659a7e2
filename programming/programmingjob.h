#ifndef PROGRAMMINGJOB_H
#define PROGRAMMINGJOB_H

#include "blockplan.h"
#include "jobplan.h"

#include <QByteArray>
#include <QSet>
#include <QtGlobal>

class DeviceLink;
class ReadPass;

// Compare: the pages the image touches are read before any is erased, to
// leave alone those that already hold what the job would put there.
enum class JobPass { Erase, Write, Verify, Read, Compare };

// How a front end follows a job. Every call comes from inside the job,
// on the thread that runs it.
class JobObserver
{
public:
    virtual ~JobObserver() = default;
    // A pass begins; its progress runs from 0 to maximum (pages for the
    // erase and compare passes, bytes for the others).
    virtual void PassStarted(JobPass pass, int maximum) = 0;
    // Pages erased or compared, or bytes written, verified or read so far.
    virtual void Progress(int value) = 0;
    // Asked after every page or block; true ends the job as cancelled.
    virtual bool ShouldStop(JobPass pass) = 0;
    // Where the flash has got to, for front ends that show it: a page
    // erased (length: the page size), a block written, verified or read.
    virtual void Done(JobPass pass, quint32 address, int length) { Q_UNUSED(pass) Q_UNUSED(address) Q_UNUSED(length) }
    // A page compared: unchanged when it already holds what the job would
    // leave there.
    virtual void PageCompared(quint32 page, bool unchanged) { Q_UNUSED(page) Q_UNUSED(unchanged) }
    // A block read back other than the image, told as the read finds it so
    // that a long verify shows where it differs while it goes on. The pass
    // judges again once its reads have settled: a block that then proves
    // the same is reported Done after all.
    virtual void Differs(JobPass pass, quint32 address, int length) { Q_UNUSED(pass) Q_UNUSED(address) Q_UNUSED(length) }
};

struct JobOutcome
{
    enum Status { Done, Failed, Cancelled };

    Status status = Done;
    JobPass pass = JobPass::Erase;  // the pass that failed or was cancelled
    int linkResult = 0;             // result code of the failing command; 0 for a mismatch
    bool mismatch = false;          // the verify pass read back other bytes
    int index = 0;                  // erase: page index; other passes: byte offset of the block
    quint32 address = 0;            // flash address of the failing page or block
    int blockLength = 0;            // length of the failing block
    int readBackLength = 0;         // bytes the device gave back for it (verify)
    quint32 mismatchAddress = 0;    // first byte that differs, or where the shorter read-back ends
    // The application's first block is erased, so the application cannot
    // start until a job completes.
    bool firstBlockErased = false;
    // The failing block was the first one longer than the loader's usual
    // 64 bytes that the job sent (a write, or a read): the loader may not
    // take frames that long.
    bool blockSizeRefused = false;
    // How far the flash was changed, done or not.
    int pagesErased = 0;
    qint64 bytesWritten = 0;        // image bytes in blocks the loader acknowledged
    int blocksWritten = 0;
    int blocksSkipped = 0;          // all 0xFF: left to the erase
    int pagesWritten = 0;           // pages with at least one block acknowledged
    int pagesSkipped = 0;           // pages that already held the image: neither erased nor written
};

// Which block goes in first. Loaders that start the application as soon as
// its first word is programmed must not see the first block before all the
// others are written and verified.
enum class BlockOrder { FirstBlockLast, InOrder };

// The checks a job must pass before anything is sent. The range runs from
// start to end, end included: the loader reports end as its last flash
// address. The flash is programmed a half-word at a time, so the start
// must be even for every job; a write erases whole pages, so it also
// needs an even page size and a start on a page boundary, or a page
// erased would reach below the start.
enum class RangeCheck { Fits, TooLarge, BelowStart, OddStart, OddPageSize, Unaligned };
enum class RangeUse { Read, Write };

// Bytes from start to end, end included: 0 when start is above end, and
// 2^32 for the whole address space, hence 64 bits.
quint64 AvailableBytes(quint32 start, quint32 end);
// A raw image of size bytes from the start address.
RangeCheck CheckRawRange(quint32 start, quint32 end, quint32 pageSize, qint64 size, RangeUse use);
// An image at its own addresses, all of which must lie from start to end.
RangeCheck CheckImageRange(quint32 start, quint32 end, quint32 pageSize, const FirmwareImage &image,
                           RangeUse use);

// How much longer a request and its reply take than their characters on
// the wire at baud: the loader's time and the line's. Timed with the
// parameter query, which changes nothing, samples times; the median, in
// ms, or 0 when no query was answered.
double MeasureTurnaroundMs(DeviceLink &link, qint32 baud, int samples);

// Erases, writes and verifies one image in the device's flash through a
// DeviceLink, in blocks of 64 bytes (or another size the loader takes)
// counted from the start address. Only pages that hold image bytes are
// erased and only the image's bytes are written; blocks of nothing but
// 0xFF are left to the erase, and still verified. UI-free: the window and
// the command-line tool drive it through a JobObserver.
class ProgrammingJob
{
public:
    static constexpr int DefaultBlockSize = 64;
    static constexpr int MaxBlockSize = 248;    // fits both a write and a read frame
    // The most one read takes: a mistyped end could otherwise turn a backup
    // into a read of gigabytes lasting days, and the devices served have at
    // most a few MiB of flash.
    static constexpr quint32 MaxReadLength = 16 * 1024 * 1024;
    // The first read of a page being compared: enough to tell a blank or
    // foreign page, a fraction of a block's time on the wire.
    static constexpr int ProbeBytes = 16;

    ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize, const FirmwareImage &image);
    // A raw image: its bytes from the start address on.
    ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize, const QByteArray &image);

    // Odd sizes and sizes outside 2..MaxBlockSize are refused and leave the
    // size as it was: blocks hold whole half-words.
    bool SetBlockSize(int bytes);
    void SetOrder(BlockOrder newOrder) { order = newOrder; }
    // Read every page the image touches before erasing it, and leave alone
    // the pages that already hold what the job would leave there.
    void SetSkipUnchanged(bool on) { skipUnchanged = on; }

    // What Run would do, found without erasing or writing anything: with
    // SkipUnchanged the pages are read and compared, as Run does first.
    JobOutcome Plan(JobObserver &observer, JobPlan *plan);

    // Erase, write and verify; stops at the first failure or cancel. In
    // the FirstBlockLast order the first block is written and verified
    // after every other block has been, as the end of the verify pass.
    // With SkipUnchanged the pages are compared first, and only those
    // that differ go through the three passes.
    JobOutcome Run(JobObserver &observer);

    // Compares the whole image with the flash, in order.
    JobOutcome Verify(JobObserver &observer);
    // The same, on to the end of the image: every range that differs is
    // gathered (neighbours joined), and only a read that fails or a cancel
    // stops it. Differences make it a mismatch at the first of them.
    JobOutcome VerifyAll(JobObserver &observer, QVector<FlashDifference> *differences);

    // Reads length bytes from the start address into *out (for backups).
    JobOutcome Read(JobObserver &observer, int length, QByteArray *out);

    // Whether any of length bytes from address went out in a write frame,
    // acknowledged or not: after a failure those bytes may be in the flash.
    bool MayHaveWritten(quint32 address, int length) const;

private:
    JobOutcome Compare(JobObserver &observer, JobPlan *plan);
    QByteArray PageImage(quint32 page) const;
    JobOutcome ReadRuns(JobObserver &observer, const QVector<FlashBlock> &blocks, ReadPass *pass, int *next,
                        qint64 *done, bool stopAtDifference, QVector<int> *differing);
    void NoteReads(const ReadPass &pass, int result);
    JobOutcome Execute(JobObserver &observer, const JobPlan &plan);
    JobOutcome Erase(JobObserver &observer, const QVector<quint32> &pages);
    JobOutcome WriteBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks, qint64 *done);
    JobOutcome VerifyBlocks(JobObserver &observer, const QVector<FlashBlock> &blocks, qint64 *done,
                            QVector<FlashDifference> *differences = nullptr);
    int WriteOne(const FlashBlock &block);
    JobOutcome Failure(JobPass pass, int linkResult, const FlashBlock &block) const;
    JobOutcome Cancel(JobPass pass, const FlashBlock &block) const;
    JobOutcome Stopped(JobOutcome outcome) const;

    DeviceLink &link;
    quint32 start;
    quint32 pageSize;
    FirmwareImage image;
    int blockSize = DefaultBlockSize;
    BlockOrder order = BlockOrder::FirstBlockLast;
    bool skipUnchanged = false;
    bool firstBlockErased = false;
    bool longWriteTaken = false;    // a block longer than 64 bytes was written
    bool longReadTaken = false;     // ... or read back
    bool lastRefused = false;       // the last block failed as the first long one
    int pagesErased = 0;
    qint64 bytesWritten = 0;
    int blocksWritten = 0;
    int blocksSkipped = 0;
    int pagesSkipped = 0;
    QSet<quint32> pagesWritten;     // page indexes from the start
    QVector<FlashBlock> sent;       // every block a write frame carried, bytes left out
};

#endif // PROGRAMMINGJOB_H
