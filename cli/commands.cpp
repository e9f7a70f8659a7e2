#include "commands.h"

#include "devicelink.h"
#include "imagereaders.h"
#include "imagewriters.h"
#include "interrupt.h"
#include "messages.h"
#include "programmingjob.h"
#include "progress.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTextStream>

namespace {

struct Geometry
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
};

QString Seconds(const QElapsedTimer &timer)
{
    return QString::number(timer.elapsed() / 1000.0, 'f', 2);
}

int Report(const JobOutcome &outcome, ProgressObserver &progress, const QString &port)
{
    progress.Finish();
    return Fail(OutcomeStatus(outcome), OutcomeMessage(outcome, port));
}

int ListPorts()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString description = info.description().isEmpty()
            ? QStringLiteral("(no description)") : info.description();
        Say(stdout, QStringLiteral("%1\t%2").arg(info.portName(), description));
    }
    return ExitDone;
}

// The line as the window sets it up: 8N1 at the chosen speed and the
// DTR/RTS pulse that some boards use to start their loader. The signal
// changes are refused by ports without modem lines (pseudo-terminals,
// some adapters); that must not stop the job.
bool OpenLine(QSerialPort &port, const CliOptions &options)
{
    port.setPortName(options.port);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(options.baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setDataTerminalReady(true);
    port.setRequestToSend(true);
    port.setDataTerminalReady(false);
    port.clearError();
    return true;
}

int ResolveGeometry(DeviceLink &link, const CliOptions &options, Geometry *geometry)
{
    quint32 start = options.start.value;
    quint32 end = options.end.value;
    quint32 pageSize = options.pageSize.value;
    const bool ask = !options.start.given || !options.end.given || !options.pageSize.given;
    if (ask) {
        const int result = link.ReadFlashParams(&start, &end, &pageSize);
        if (result != LinkOk)
            return Fail(ExitDeviceFailed, QStringLiteral("the device did not report its flash parameters: %1")
                                              .arg(LinkFailure(result, options.port)));
    }
    geometry->start = options.start.given ? options.start.value : start;
    geometry->end = options.end.given ? options.end.value : end;
    geometry->pageSize = options.pageSize.given ? options.pageSize.value : pageSize;
    if (geometry->pageSize == 0)
        return Fail(ExitDeviceFailed, QStringLiteral("the device reported a page size of 0"));
    return InterruptRequested() ? Fail(ExitInterrupted, QStringLiteral("interrupted")) : ExitDone;
}

QString Plural(qint64 count, const QString &noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? QString() : QStringLiteral("s"));
}

// A raw image is as long as its file; the other formats place their data
// themselves, and any of it outside the range is refused with its address.
int CheckImage(const Geometry &geometry, const FirmwareImage &image, ImageFormat format, bool needAligned,
               const QString &file)
{
    const RangeCheck check = CheckImageRange(geometry.start, geometry.end, geometry.pageSize, image);
    if (check == RangeCheck::BelowStart)
        return Fail(ExitUsage, QStringLiteral("%1 has data at %2, below the start address %3")
                                   .arg(file, Hex(image.LowestAddress()), Hex(geometry.start)));
    if (check == RangeCheck::TooLarge && format != ImageFormat::Raw)
        return Fail(ExitUsage, QStringLiteral("%1 has data up to %2, past the range from start %3 to end %4")
                                   .arg(file, Hex(image.HighestAddress()), Hex(geometry.start), Hex(geometry.end)));
    if (check == RangeCheck::TooLarge)
        return Fail(ExitUsage, QStringLiteral("%1 is %2 bytes, more than the %3 bytes from start %4 to end %5")
                                   .arg(file).arg(image.ByteCount())
                                   .arg(AvailableBytes(geometry.start, geometry.end))
                                   .arg(Hex(geometry.start), Hex(geometry.end)));
    if (check == RangeCheck::Unaligned && needAligned)
        return Fail(ExitUsage, QStringLiteral("start %1 is not a whole number of pages of %2 bytes")
                                   .arg(Hex(geometry.start)).arg(geometry.pageSize));
    return ExitDone;
}

// One run against the device: the port, its link and the trace stream,
// which must outlive every command sent.
class Session
{
public:
    explicit Session(const CliOptions &options)
        : options(options), traceStream(stderr), progress(ProgressObserver::ModeFor(options.quiet))
    {
        link.SetPort(&port);
        link.SetTrace(options.trace ? &traceStream : nullptr);
    }

    int Run();

private:
    int Info();
    int LoadFile();
    int WriteOrVerify();
    int Read();

    const CliOptions &options;
    QSerialPort port;
    DeviceLink link;
    QTextStream traceStream;
    ProgressObserver progress;
    Geometry geometry;
    QByteArray fileBytes;
    ImageFormat format = ImageFormat::Raw;
    FirmwareImage image;
};

int Session::Run()
{
    // An unreadable or malformed image is the user's to fix; say so before
    // touching the device.
    const bool needsImage = options.command == CliCommand::Write || options.command == CliCommand::Verify;
    if (needsImage) {
        const int status = LoadFile();
        if (status != ExitDone)
            return status;
    }
    if (!OpenLine(port, options))
        return Fail(ExitDeviceFailed, QStringLiteral("cannot open port %1: %2").arg(options.port, port.errorString()));
    if (options.command == CliCommand::Info)
        return Info();
    const int status = ResolveGeometry(link, options, &geometry);
    if (status != ExitDone)
        return status;
    return needsImage ? WriteOrVerify() : Read();
}

// The job works on this one snapshot: a file changed meanwhile cannot make
// the verify compare against bytes that were never written. Formats that
// place their data are read at once; a raw file waits for the start
// address, which the device may have to tell.
int Session::LoadFile()
{
    QFile file(options.file);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(ExitUsage, QStringLiteral("cannot read %1: %2").arg(options.file, file.errorString()));
    if (file.size() > MaxImageFileBytes)
        return Fail(ExitUsage, QStringLiteral("%1 is larger than any image this tool writes (%2 bytes)")
                                   .arg(options.file).arg(MaxImageFileBytes));
    fileBytes = file.readAll();
    if (fileBytes.size() != file.size())
        return Fail(ExitUsage, QStringLiteral("cannot read %1: %2").arg(options.file, file.errorString()));
    // An empty image would end in a "success" that put nothing on the device.
    if (fileBytes.isEmpty())
        return Fail(ExitUsage, QStringLiteral("%1 is empty").arg(options.file));
    format = options.format ? *options.format : DetectFormat(options.file, fileBytes);
    if (format == ImageFormat::Raw)
        return ExitDone;
    const ImageResult result = ReadImage(fileBytes, options.file, format, 0);
    if (!result.Ok())
        return Fail(ExitUsage, result.error);
    if (result.image.IsEmpty())
        return Fail(ExitUsage, QStringLiteral("%1 holds no data").arg(options.file));
    image = result.image;
    return ExitDone;
}

int Session::Info()
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
    const int result = link.ReadFlashParams(&start, &end, &pageSize);
    if (result != LinkOk)
        return Fail(ExitDeviceFailed, QStringLiteral("the device did not report its flash parameters: %1")
                                          .arg(LinkFailure(result, options.port)));
    Say(stdout, QStringLiteral("start %1\nend %2\npage-size %3").arg(Hex(start), Hex(end)).arg(pageSize));
    return ExitDone;
}

int Session::WriteOrVerify()
{
    const bool write = options.command == CliCommand::Write;
    if (format == ImageFormat::Raw) {
        const ImageResult raw = ReadRawImage(fileBytes, options.file, geometry.start);
        if (!raw.Ok())
            return Fail(ExitUsage, raw.error);
        image = raw.image;
    }
    int status = CheckImage(geometry, image, format, write, options.file);
    if (status != ExitDone)
        return status;

    ProgrammingJob job(link, geometry.start, geometry.pageSize, image);
    job.SetBlockSize(options.blockSize);
    job.SetOrder(options.inOrder ? BlockOrder::InOrder : BlockOrder::FirstBlockLast);
    QElapsedTimer timer;
    timer.start();
    const JobOutcome outcome = write ? job.Run(progress) : job.Verify(progress);
    if (outcome.status != JobOutcome::Done)
        return Report(outcome, progress, options.port);
    progress.Finish();
    const QString layout = QStringLiteral("%1, %2").arg(FormatName(format), Plural(image.Segments().size(), "segment"));
    if (write)
        Say(stdout, QStringLiteral("wrote and verified %1 bytes (%2) at %3 in %4 s, %5; %6, %7 written, %8 skipped")
                        .arg(image.ByteCount()).arg(Plural(outcome.pagesErased, "page"))
                        .arg(Hex(image.LowestAddress()), Seconds(timer),
                             options.inOrder ? QStringLiteral("in order") : QStringLiteral("first block last"),
                             layout, Plural(outcome.bytesWritten, "byte"),
                             Plural(outcome.blocksSkipped, "blank block")));
    else
        Say(stdout, QStringLiteral("verified %1 bytes at %2 in %3 s; %4")
                        .arg(image.ByteCount()).arg(Hex(image.LowestAddress()), Seconds(timer), layout));
    return ExitDone;
}

int Session::Read()
{
    // Checked again now that the device has filled in what the command
    // line left out.
    quint32 length = 0;
    const QString error = ReadLength(geometry.start, geometry.end, options.length, &length);
    if (!error.isEmpty())
        return Fail(ExitUsage, error);
    // Opened before the device is read so that a bad path fails at once,
    // and committed only after a complete read: a partial backup must
    // never look like a whole one.
    QSaveFile out(options.file);
    if (!out.open(QIODevice::WriteOnly))
        return Fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(options.file, out.errorString()));

    ProgrammingJob job(link, geometry.start, geometry.pageSize, QByteArray());
    job.SetBlockSize(options.blockSize);
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    const JobOutcome outcome = job.Read(progress, int(length), &data);
    if (outcome.status != JobOutcome::Done)
        return Report(outcome, progress, options.port);
    progress.Finish();
    // Intel HEX and S-record keep the flash addresses, so the backup can go
    // back where it came from.
    const ImageFormat saved = options.format ? *options.format : OutputFormat(options.file);
    const QByteArray bytes = saved == ImageFormat::Raw
        ? data : WriteImage(ReadRawImage(data, options.file, geometry.start).image, saved);
    if (out.write(bytes) != bytes.size() || !out.commit())
        return Fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(options.file, out.errorString()));
    Say(stdout, QStringLiteral("read %1 bytes from %2 into %3 (%4) in %5 s")
                    .arg(data.size()).arg(Hex(geometry.start), options.file, FormatName(saved), Seconds(timer)));
    return ExitDone;
}

} // namespace

int RunCommand(const CliOptions &options)
{
    if (options.command == CliCommand::Ports)
        return ListPorts();
    Session session(options);
    return session.Run();
}
