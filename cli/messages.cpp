#include "messages.h"

#include "devicelink.h"
#include "options.h"
#include "progress.h"

namespace {

// Where a job stopped, in the words of its pass: pages for the erase,
// byte offsets from the start address for the others.
QString Place(const JobOutcome &outcome)
{
    if (outcome.pass == JobPass::Erase)
        return QStringLiteral("page %1 (flash address %2)").arg(outcome.index).arg(Hex(outcome.address));
    if (outcome.pass == JobPass::Compare)
        return QStringLiteral("the page at %1").arg(Hex(outcome.address));
    if (outcome.status == JobOutcome::Cancelled)
        return QStringLiteral("offset %1 (flash address %2)").arg(outcome.index).arg(Hex(outcome.address));
    return QStringLiteral("offset %1 (flash address %2, block of %3 bytes)")
        .arg(outcome.index).arg(Hex(outcome.address)).arg(outcome.blockLength);
}

} // namespace

void Say(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

int Fail(int status, const QString &text)
{
    Say(stderr, QStringLiteral("tamrivo-cli: ") + text);
    return status;
}

QString ResultName(int linkResult)
{
    switch (linkResult) {
    case LinkNoReply: return QStringLiteral("no reply");
    case LinkPortLost: return QStringLiteral("port lost");
    case LinkOutOfTurn: return QStringLiteral("the device kept talking out of turn");
    case LinkRefused: return QStringLiteral("refused");
    default: return QStringLiteral("bad reply");
    }
}

// A lost port is the one failure the device is not to blame for; naming
// the port points a bench operator at the cable or adapter that went away.
// A device that will not stop talking ends the job the same way, and on a
// bench of several the port says which board to power-cycle.
QString LinkFailure(int linkResult, const QString &port)
{
    if (linkResult == LinkPortLost || linkResult == LinkOutOfTurn)
        return QStringLiteral("%1 (%2)").arg(ResultName(linkResult), port);
    return ResultName(linkResult);
}

// What the user should know beyond where the job stopped: the loader may
// not take frames that long, and an application whose first block is
// erased does not start.
QString Advice(const JobOutcome &outcome)
{
    QString advice;
    if (outcome.blockSizeRefused)
        advice += QStringLiteral("; the device did not take a %1-byte block: try a smaller --block-size")
                      .arg(outcome.blockLength);
    if (outcome.firstBlockErased)
        advice += QStringLiteral("; the application's first block is erased: "
                                 "it will not start until a write completes");
    return advice;
}

QString StoreFailure(const QString &error)
{
    return QStringLiteral("the record store failed: %1").arg(error);
}

QString OutcomeMessage(const JobOutcome &outcome, const QString &port)
{
    const QString pass = ProgressObserver::PassName(outcome.pass);
    if (outcome.status == JobOutcome::Cancelled)
        return QStringLiteral("interrupted: %1 stopped after %2").arg(pass, Place(outcome)) + Advice(outcome);
    const QString result = outcome.mismatch
        ? QStringLiteral("mismatch (%1 bytes read back)").arg(outcome.readBackLength)
        : LinkFailure(outcome.linkResult, port);
    return QStringLiteral("%1 failed at %2: %3").arg(pass, Place(outcome), result) + Advice(outcome);
}
