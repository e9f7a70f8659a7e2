#ifndef WINDOWTEXTS_H
#define WINDOWTEXTS_H

#include "programmingjob.h"

#include <QString>

// How far a programming job got, for the status bar.
struct JobReport
{
    JobOutcome::Status status = JobOutcome::Done;
    qint64 elapsedMs = 0;
    int pagesErased = 0;
    int pages = 0;
    int bytesWritten = 0;
    int size = 0;
    bool skipUnchanged = false;     // pages holding the image already were left alone
    int pagesSkipped = 0;
};

QString JobStatusText(const JobReport &report);
// What the box at the end of a write done says.
QString JobDoneText(const JobReport &report);
// Done, with every page left alone as it held the image already.
bool NothingWritten(const JobReport &report);
// How much a verify found differing: "12 bytes differ in 2 ranges".
QString DifferingText(qint64 bytes, int ranges);

// How far a verify or a backup read got, for the status bar.
struct CheckReport
{
    JobPass pass = JobPass::Verify;     // Verify, or Read for a backup
    JobOutcome::Status status = JobOutcome::Done;
    qint64 elapsedMs = 0;
    int done = 0;               // bytes compared or read
    int size = 0;
    bool mismatch = false;
    quint32 mismatchAddress = 0;
    qint64 differingBytes = 0;
    int differingRanges = 0;
    QString file;               // the backup written; empty when none was
};

QString CheckStatusText(const CheckReport &report);

// A pass's speed so far and the time it has left at that speed, for the
// progress group: pages a second for the erase and the comparison, kB
// (1024 bytes) a second for the rest.
QString RateText(JobPass pass, qint64 done, qint64 maximum, qint64 elapsedNs);

// Why a port would not open, as far as the window can tell: a device the
// user may not use, one another program holds, or whatever the system
// says.
enum class PortRefusal { Other, NoAccess, InUse };

// reason is the system's own; group is the one to join for the port, empty
// where the system has none.
QString OpenFailureText(const QString &port, const QString &reason, PortRefusal refusal,
                        const QString &group);
// result is the link's result for the flash-parameter query.
QString NoAnswerText(const QString &port, int baud, int result);

#endif // WINDOWTEXTS_H
