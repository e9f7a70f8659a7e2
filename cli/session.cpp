#include "session.h"

#include "fingerprint.h"
#include "imagebuilder.h"
#include "imagereaders.h"
#include "imagewriters.h"
#include "interrupt.h"
#include "messages.h"
#include "ports.h"
#include "progress.h"
#include "serialline.h"
#include "jobsetup.h"
#include "storeaccess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Parameter queries a dry run times to learn the line's turnaround.
constexpr int TurnaroundSamples = 5;

QString Seconds(const QElapsedTimer &timer)
{
    return QString::number(timer.elapsed() / 1000.0, 'f', 2);
}

QString Plural(qint64 count, const QString &noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? QString() : QStringLiteral("s"));
}

// Only a number with a check is kept on rework: a plain one could as well
// be a damaged number or a constant, so it goes void when the board returns.
QString Fate(SerialState state, const QString &pool, bool checked)
{
    switch (state) {
    case SerialState::Free: return QStringLiteral("returned to pool %1 for the next board").arg(pool);
    case SerialState::Void: return QStringLiteral("void: never given out again");
    case SerialState::Held:
        return checked ? QStringLiteral("held: the board may carry it and keeps it when reworked")
                       : QStringLiteral("held: the board may carry it, so no other board gets it");
    default: return SerialStateName(state);
    }
}

// The board's job as the options and the image describe it; the number's
// job, station and port are the job's own.
BoardSettings BoardFor(const CliOptions &options, const QString &portName, const ImageSource &source)
{
    BoardSettings board;
    board.station = options.station;
    board.port = portName;
    board.command = CommandName(options.command);
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        board.image = QFileInfo(options.file).absoluteFilePath();
        board.sha256 = source.sha256;
        board.crc32 = source.crc32;
    }
    if (options.command == CliCommand::Write && options.serialAt.given)
        board.serial = SerialSettings{options.serialAt.value, options.serialFormat, options.serialPool,
                                      // The pool ends at its last number, and never past what
                                      // the layout holds.
                                      PoolRange(options.serialFirst, options.serialLast, options.serialFormat.Largest()),
                                      QString(), options.serialVoid, QString(), QString()};
    board.blockSize = options.blockSize;
    board.order = options.inOrder ? BlockOrder::InOrder : BlockOrder::FirstBlockLast;
    board.skipUnchanged = options.skipUnchanged;
    return board;
}

} // namespace

Session::Session(const CliOptions &options, const QString &portName, const ImageSource &source,
                 ProgressObserver &progress, StoreAccess *store)
    : options(options), source(source), progress(progress), traceStream(stderr), store(store),
      board(BoardFor(options, portName, source), store)
{
    link.SetPort(&port);
    link.SetTrace(options.trace ? &traceStream : nullptr);
    report.port = portName;
    report.command = options.command;
    image = source.placed;
    if (options.command == CliCommand::Write || options.command == CliCommand::Verify) {
        report.file = QFileInfo(options.file).absoluteFilePath();
        report.sha256 = source.sha256;
        report.crc32 = source.crc32;
        report.format = FormatName(source.format);
        report.bytes = source.format == ImageFormat::Raw ? source.bytes.size() : image.ByteCount();
    }
}

DeviceReport Session::Run()
{
    QElapsedTimer timer;
    timer.start();
    report.status = Step();
    report.seconds = timer.elapsed() / 1000.0;
    if (store)
        Record();
    progress.Finish();
    return report;
}

int Session::Step()
{
    // Whatever the journal holds goes first; a number is taken only once
    // the store has every record of this station: one that waits could
    // settle a number the store would otherwise take for in doubt.
    if (board.Prepare() != BoardStop::None)
        return Stopped();
    const LineOpening opening = OpenSerialLine(port, report.port, options.baud);
    if (!opening.Ok())
        return Refuse(ExitPortOpen, QStringLiteral("open"),
                      QStringLiteral("cannot open port %1: %2").arg(report.port, opening.reason));
    if (options.command == CliCommand::Info)
        return Info();
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
    // A project's device is asked even when the project gives every value:
    // a board of another kind must be refused before anything is erased.
    if (!options.start.given || !options.end.given || !options.pageSize.given || options.project) {
        const int asked = AskParams(&start, &end, &pageSize);
        if (asked != ExitDone)
            return asked;
    }
    const QString misfit = options.project ? GeometryMisfit(options.project->geometry, Geometry{start, end, pageSize})
                                           : QString();
    if (!misfit.isEmpty())
        return Refuse(ExitUsage, QStringLiteral("params"),
                      QStringLiteral("not the device of the project %1: %2").arg(options.project->file, misfit));
    geometry.start = options.start.given ? options.start.value : start;
    geometry.end = options.end.given ? options.end.value : end;
    geometry.pageSize = options.pageSize.given ? options.pageSize.value : pageSize;
    report.geometry = geometry;
    if (geometry.pageSize == 0)
        return Refuse(LinkStatus(LinkBadReply), QStringLiteral("params"),
                      QStringLiteral("the device reported a page size of 0"));
    if (InterruptRequested())
        return Refuse(ExitInterrupted, QStringLiteral("params"), QStringLiteral("interrupted"));
    return options.command == CliCommand::Read ? Read() : WriteOrVerify();
}

// The device's flash parameters; ExitDone, or the status of a query that failed.
int Session::AskParams(quint32 *start, quint32 *end, quint32 *pageSize)
{
    const int result = link.ReadFlashParams(start, end, pageSize);
    if (result == LinkOk)
        return ExitDone;
    return Refuse(LinkStatus(result), QStringLiteral("params"),
                  QStringLiteral("the device did not report its flash parameters: %1").arg(LinkFailure(result, report.port)));
}

int Session::Refuse(int status, const QString &stage, const QString &text)
{
    report.stage = stage;
    report.message = text;
    return status;
}

// Records how far the job got; a job that did not end in success says so
// in the words and with the status the single-device tool always used.
int Session::Finish(const JobOutcome &outcome)
{
    report.outcome = outcome;
    if (outcome.status == JobOutcome::Done)
        return ExitDone;
    report.message = OutcomeMessage(outcome, report.port);
    return OutcomeStatus(outcome);
}

int Session::Info()
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
    const int asked = AskParams(&start, &end, &pageSize);
    if (asked != ExitDone)
        return asked;
    report.geometry = Geometry{start, end, pageSize};
    report.message = QStringLiteral("start %1\nend %2\npage-size %3").arg(Hex(start), Hex(end)).arg(pageSize);
    return ExitDone;
}

int Session::WriteOrVerify()
{
    const bool write = options.command == CliCommand::Write;
    const RangeUse use = write ? RangeUse::Write : RangeUse::Read;
    const bool raw = source.format == ImageFormat::Raw;
    // A raw file is measured before it is placed: one running past
    // 0xFFFFFFFF is too large for the range, not a broken file.
    const RangeCheck check = raw ? CheckRawRange(geometry.start, geometry.end, geometry.pageSize, source.bytes.size(), use)
                                 : CheckImageRange(geometry.start, geometry.end, geometry.pageSize, image, use);
    if (check != RangeCheck::Fits)
        return Refuse(ExitUsage, QStringLiteral("image"),
                      RangeMisfit(check, geometry, image, raw ? source.bytes.size() : -1, options.file));
    if (raw) {
        const ImageResult placed = ReadRawImage(source.bytes, options.file, geometry.start);
        if (!placed.Ok())
            return Refuse(ExitUsage, QStringLiteral("image"), placed.error);
        image = placed.image;
    }
    const quint32 serialAt = options.serialAt.value;
    if (write && options.serialAt.given) {
        if (!SerialInImagePages(image, geometry.start, geometry.pageSize, serialAt, options.serialFormat))
            return Refuse(ExitUsage, QStringLiteral("image"),
                          QStringLiteral("--serial-at %1: the serial number's %2 bytes must lie in pages that %3 "
                                         "programs, so that no page is erased for the number alone")
                              .arg(Hex(serialAt)).arg(options.serialFormat.Bytes()).arg(options.file));
        // Images placed by their own addresses or by --start were checked
        // before the port was opened; a raw one placed by the device's
        // start only now can be.
        const QString misfit = SerialPlaceMisfit(image, serialAt, options.serialFormat, options.file);
        if (!misfit.isEmpty())
            return Refuse(ExitUsage, QStringLiteral("image"), misfit);
        const int taken = TakeSerial();
        if (taken != ExitDone)
            return taken;
    }

    ProgrammingJob job(link, geometry.start, geometry.pageSize, image);
    job.SetBlockSize(options.blockSize);
    job.SetOrder(options.inOrder ? BlockOrder::InOrder : BlockOrder::FirstBlockLast);
    job.SetSkipUnchanged(options.skipUnchanged);
    if (options.dryRun)
        return DryRun(job);
    QElapsedTimer timer;
    timer.start();
    const int status = Finish(write ? job.Run(progress) : job.Verify(progress));
    board.Settle(link, geometry, job, *report.outcome);
    if (board.Result().placeErased)
        report.message += QStringLiteral("; the serial number's place read back damaged and its page was erased");
    if (status != ExitDone)
        return status;
    report.message = write ? WriteSummary(Seconds(timer))
                           : QStringLiteral("verified %1 bytes at %2 in %3 s; %4, %5; crc32 %6, sha256 %7")
                                 .arg(image.ByteCount()).arg(Hex(image.LowestAddress()), Seconds(timer), report.format,
                                      Plural(image.Segments().size(), "segment"), Crc32Text(source.crc32),
                                      QString::fromLatin1(source.sha256));
    return ExitDone;
}

QString Session::WriteSummary(const QString &seconds) const
{
    const JobOutcome &outcome = *report.outcome;
    // With unchanged pages left alone the page counts follow on their own.
    const QString pages = options.skipUnchanged ? QString() : QStringLiteral(" (%1)").arg(Plural(outcome.pagesErased, "page"));
    QString text = QStringLiteral("wrote and verified %1 bytes%2 at %3 in %4 s, %5; %6, %7, %8 written, %9 skipped")
                       .arg(image.ByteCount()).arg(pages)
                       .arg(Hex(image.LowestAddress()), seconds,
                            options.inOrder ? QStringLiteral("in order") : QStringLiteral("first block last"),
                            report.format, Plural(image.Segments().size(), "segment"),
                            Plural(outcome.bytesWritten, "byte"), Plural(outcome.blocksSkipped, "blank block"));
    if (options.skipUnchanged)
        text += QStringLiteral("; pages: %1 unchanged, %2 erased, %3 written")
                    .arg(outcome.pagesSkipped).arg(outcome.pagesErased).arg(outcome.pagesWritten);
    return text + QStringLiteral("; crc32 %1, sha256 %2")
                      .arg(Crc32Text(source.crc32), QString::fromLatin1(source.sha256));
}

// Everything a write would do short of erasing and writing: with
// --skip-unchanged the pages are read and compared, as the write will. The
// estimate is the wire time of the frames at this baud rate, plus the
// turnaround of the line as the parameter query shows it now.
int Session::DryRun(ProgrammingJob &job)
{
    JobPlan plan;
    const int status = Finish(job.Plan(progress, &plan));
    if (status != ExitDone)
        return status;
    // Nothing was done to the flash: the plan stands in for the outcome.
    report.outcome.reset();
    report.plan = plan;
    report.turnaroundMs = MeasureTurnaroundMs(link, options.baud, TurnaroundSamples);
    report.estimateMs = EstimateMs(plan, options.baud, report.turnaroundMs);
    report.message = QStringLiteral("dry run: %1 of %2 bytes from %3; would erase %4, write %5 (%6), leave %7 to the "
                                    "erase and read back %8; about %9 s at %10 baud")
                         .arg(Plural(plan.pages.size(), "page")).arg(geometry.pageSize).arg(Hex(geometry.start))
                         .arg(Plural(plan.erase.size(), "page"), Plural(plan.writeFrames.size(), "block"),
                              Plural(plan.bytesToWrite, "byte"), Plural(plan.blocksBlank, "blank block"),
                              Plural(plan.verifyFrames.size(), "block"))
                         .arg(report.estimateMs / 1000.0, 0, 'f', 1).arg(options.baud);
    if (options.skipUnchanged)
        report.message += QStringLiteral("; %1 unchanged, %2 differ%3 (%4 read)")
                              .arg(Plural(plan.pagesSkipped, "page"))
                              .arg(plan.erase.size() - plan.firstPagesKept)
                              .arg(plan.firstPagesKept > 0
                                       ? QStringLiteral(", and the first block's page is rewritten to go in last")
                                       : QString())
                              .arg(Plural(plan.compareReads.size(), "block"));
    report.message += QStringLiteral("; crc32 %1, sha256 %2")
                          .arg(Crc32Text(source.crc32), QString::fromLatin1(source.sha256));
    return ExitDone;
}

int Session::Read()
{
    // Checked again now that the device has filled in what the command
    // line left out.
    quint32 length = 0;
    const QString error = ReadLength(geometry.start, geometry.end, options.length, &length);
    if (!error.isEmpty())
        return Refuse(ExitUsage, QStringLiteral("params"), error);
    // Opened before the device is read so that a bad path fails at once,
    // and committed only after a complete read: a partial backup must
    // never look like a whole one.
    QSaveFile out(options.file);
    const QString cannotWrite = QStringLiteral("cannot write %1: %2");
    if (!out.open(QIODevice::WriteOnly))
        return Refuse(ExitUsage, QStringLiteral("file"), cannotWrite.arg(options.file, out.errorString()));

    ProgrammingJob job(link, geometry.start, geometry.pageSize, QByteArray());
    job.SetBlockSize(options.blockSize);
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    const int status = Finish(job.Read(progress, int(length), &data));
    if (status != ExitDone)
        return status;
    const ImageFormat saved = options.format ? *options.format : OutputFormat(options.file);
    const WriteResult backup = WriteFlashBytes(data, geometry.start, saved);
    if (!backup.Ok())
        return Refuse(ExitUsage, QStringLiteral("file"), cannotWrite.arg(options.file, backup.error));
    const QByteArray &bytes = backup.bytes;
    if (out.write(bytes) != bytes.size() || !out.commit())
        return Refuse(ExitUsage, QStringLiteral("file"), cannotWrite.arg(options.file, out.errorString()));
    report.file = QFileInfo(options.file).absoluteFilePath();
    report.sha256 = Sha256Hex(bytes);
    report.format = FormatName(saved);
    report.bytes = data.size();
    report.message = QStringLiteral("read %1 bytes from %2 into %3 (%4) in %5 s")
                         .arg(data.size()).arg(Hex(geometry.start), options.file, report.format, Seconds(timer));
    return ExitDone;
}

// Why the board's job stopped before the device was asked anything, in words.
int Session::Stopped()
{
    const BoardResult &result = board.Result();
    switch (result.stop) {
    case BoardStop::RecordsWaiting:
        return Refuse(result.status, result.stage,
                      QStringLiteral("%1 waiting in the journal %2 (%3): no serial number is taken until the "
                                     "store has them").arg(Plural(result.waiting.waiting, "record"), result.waiting.file,
                                                          StoreFailure(result.error)));
    case BoardStop::JournalFailed:
        return Refuse(result.status, result.stage, result.error + QStringLiteral(": the job does not start"));
    case BoardStop::SerialUnread: {
        const int read = Finish(*result.outcome);
        report.message = QStringLiteral("reading the serial number at %1: %2").arg(Hex(options.serialAt.value), report.message);
        return read;
    }
    case BoardStop::StoreFailed:
        return Refuse(result.status, result.stage, StoreFailure(result.error));
    case BoardStop::PoolUsedUp:
        return Refuse(result.status, result.stage, result.error);
    case BoardStop::SerialTooLarge:
        return Refuse(result.status, result.stage,
                      QStringLiteral("serial %1 of pool %2 does not fit the format %3: the pool is used up")
                          .arg(report.serial).arg(options.serialPool, SerialFormatName(options.serialFormat)));
    case BoardStop::None:
        break;
    }
    return ExitDone;
}

// The board keeps the number it carries, or gets one reserved for it now,
// before anything is erased; the number goes into the image.
int Session::TakeSerial()
{
    const BoardStop stop = board.Number(link, geometry, &image);
    const BoardResult &result = board.Result();
    report.pool = result.pool;
    report.serial = result.serial;
    report.rework = result.rework;
    report.replaced = result.replaced;
    return stop == BoardStop::None ? int(ExitDone) : Stopped();
}

// What the board carried when it got another number, and the numbers that
// went void for it: the records link them, the words say so.
QString Session::SerialNotes() const
{
    QString notes;
    if (report.replaced >= 0)
        notes += QStringLiteral(" in place of %1, which the board carried").arg(report.replaced);
    QStringList numbers;
    for (qint64 serial : board.Result().voided)
        numbers << QString::number(serial);
    if (!numbers.isEmpty())
        notes += QStringLiteral("; %1 of pool %2 made void: the board that may carry it got another number")
                     .arg(numbers.join(QStringLiteral(", ")), report.pool);
    return notes;
}

// The record is in the journal before the store is asked for it, and in
// the store, if it answers, before the tool says anything about the job.
// One the store cannot take now waits in the journal, the board's own
// status standing, and its number reserved (in doubt) until it is taken.
// Only if the journal fails too is the record lost: then the job fails.
void Session::Record()
{
    BoardEnd end;
    end.status = report.status;
    end.pass = FailedPass(report);
    end.outcome = report.outcome;
    end.seconds = report.seconds;
    end.image = report.file;
    end.sha256 = report.sha256;
    const BoardResult &kept = board.Record(end);
    const bool numbered = report.serial >= 0;
    if (kept.kept != RecordFate::Lost) {
        const SerialState state = kept.state.value_or(SerialState::Held);
        report.record = kept.kept == RecordFate::Stored ? QStringLiteral("stored") : QStringLiteral("pending");
        report.serialFate = numbered ? SerialStateName(state) : QString();
        if (numbered && report.status == ExitDone)
            report.message += (report.rework ? QStringLiteral("; kept serial %1 of pool %2 (rework)").arg(report.serial).arg(report.pool)
                                             : QStringLiteral("; serial %1 of pool %2").arg(report.serial).arg(report.pool))
                + SerialNotes();
        else if (numbered)
            report.message += QStringLiteral("; serial %1 %2").arg(report.serial).arg(Fate(state, report.pool, options.serialFormat.checked)) + SerialNotes();
        if (kept.kept == RecordFate::Pending)
            report.message += QStringLiteral("; the record is pending in the journal %1 until the store takes it (%2)")
                                  .arg(kept.journal, StoreFailure(kept.recordError));
        return;
    }
    report.serialFate = numbered ? SerialStateName(SerialState::Reserved) : QString();
    QString trouble = StoreFailure(kept.recordError);
    if (numbered)
        trouble += QStringLiteral("; serial %1 of pool %2 stays in doubt (report --in-doubt lists it)")
                       .arg(report.serial).arg(report.pool);
    RecordFailed(&report, QStringLiteral("store"), trouble);
}
