#include "commands.h"

#include "auditlog.h"
#include "messages.h"
#include "runner.h"
#include "session.h"

#include <QSerialPortInfo>

namespace {

int ListPorts()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString description = info.description().isEmpty()
            ? QStringLiteral("(no description)") : info.description();
        Say(stdout, QStringLiteral("%1\t%2").arg(info.portName(), description));
    }
    return ExitDone;
}

} // namespace

// An unreadable or malformed image, or a log that cannot be kept, is the
// user's to fix; say so before touching any device.
int RunCommand(const CliOptions &options)
{
    if (options.command == CliCommand::Ports)
        return ListPorts();
    ImageSource source;
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        const QString error = LoadImageSource(options, &source);
        if (!error.isEmpty())
            return Fail(ExitUsage, error);
    }
    AuditLog log;
    if (!options.log.isEmpty()) {
        const QString error = log.Open(options.log);
        if (!error.isEmpty())
            return Fail(ExitUsage, error);
    }
    JobRunner runner(options, source, log);
    return runner.Exec();
}
