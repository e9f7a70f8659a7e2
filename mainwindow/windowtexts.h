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
