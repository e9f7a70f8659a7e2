#ifndef PROGRAMMINGJOB_H
#define PROGRAMMINGJOB_H

#include <QByteArray>
#include <QtGlobal>

class DeviceLink;

enum class JobPass { Erase, Write, Verify, Read };

// How a front end follows a job. Every call comes from inside the job,
// on the thread that runs it.
class JobObserver
{
public:
    virtual ~JobObserver() = default;
    // A pass begins; its progress runs from 0 to maximum (pages for the
    // erase pass, bytes for the others).
    virtual void PassStarted(JobPass pass, int maximum) = 0;
    // Pages erased, or bytes written, verified or read so far.
    virtual void Progress(int value) = 0;
    // Asked after every page or block; true ends the job as cancelled.
    virtual bool ShouldStop(JobPass pass) = 0;
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
};

// The checks a job must pass before anything is erased.
enum class RangeCheck { Fits, TooLarge, Unaligned };

// Flash space between start and end as the job counts it: end - start,
// or 0 when start is not below end.
quint32 AvailableBytes(quint32 start, quint32 end);
quint32 PagesFor(quint32 size, quint32 pageSize);
RangeCheck CheckRange(quint32 start, quint32 end, quint32 pageSize, quint32 size);

// Erases, writes and verifies one image in the device's flash through a
// DeviceLink, in 64-byte blocks from the start address. UI-free: the
// window and the command-line tool drive it through a JobObserver.
class ProgrammingJob
{
public:
    static constexpr int BlockSize = 64;

    ProgrammingJob(DeviceLink &link, quint32 start, quint32 pageSize, const QByteArray &image);

    // Erase, write and verify; stops at the first failure or cancel.
    JobOutcome Run(JobObserver &observer);

    JobOutcome Erase(JobObserver &observer);
    JobOutcome Write(JobObserver &observer);
    JobOutcome Verify(JobObserver &observer);

    // Reads length bytes from the start address into *out (for backups).
    JobOutcome Read(JobObserver &observer, int length, QByteArray *out);

private:
    DeviceLink &link;
    quint32 start;
    quint32 pageSize;
    QByteArray image;
};

#endif // PROGRAMMINGJOB_H
