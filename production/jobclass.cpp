#include "jobclass.h"

#include "devicelink.h"

QString ClassName(int status)
{
    switch (status) {
    case ExitDone: return QStringLiteral("ok");
    case ExitMixed: return QStringLiteral("mixed");
    case ExitUsage: return QStringLiteral("usage");
    case ExitPortOpen: return QStringLiteral("port");
    case ExitNoAnswer: return QStringLiteral("no-answer");
    case ExitRefused: return QStringLiteral("refused");
    case ExitMismatch: return QStringLiteral("mismatch");
    case ExitIncomplete: return QStringLiteral("incomplete");
    case ExitStore: return QStringLiteral("store");
    case ExitInterrupted: return QStringLiteral("cancelled");
    }
    return QStringLiteral("mixed");
}

// The class follows from what the device did, in whatever pass: a
// well-formed refusal is refused; silence, replies garbled past every
// retry, a lost port or a device talking out of turn are no answer; bytes
// read back and found different are a mismatch; a read-back that came
// back short of the bytes asked for is incomplete.
int OutcomeStatus(const JobOutcome &outcome)
{
    switch (outcome.status) {
    case JobOutcome::Done: return ExitDone;
    case JobOutcome::Cancelled: return ExitInterrupted;
    case JobOutcome::Failed: break;
    }
    if (outcome.mismatch)
        return ExitMismatch;
    switch (outcome.linkResult) {
    case LinkRefused: return ExitRefused;
    case LinkOk: return ExitIncomplete;
    default: return ExitNoAnswer;
    }
}

int LinkStatus(int linkResult)
{
    JobOutcome failed;
    failed.status = JobOutcome::Failed;
    failed.linkResult = linkResult;
    return OutcomeStatus(failed);
}

QString PassName(JobPass pass)
{
    switch (pass) {
    case JobPass::Erase: return QStringLiteral("erase");
    case JobPass::Write: return QStringLiteral("write");
    case JobPass::Verify: return QStringLiteral("verify");
    case JobPass::Read: return QStringLiteral("read");
    case JobPass::Compare: return QStringLiteral("compare");
    }
    return QString();
}
