// The engine against the simulated loader, both in this thread: the
// link's wait for a reply runs the event loop, and with it the loader.

#include "blockplan.h"
#include "devicelink.h"
#include "imagebuilder.h"
#include "jobplan.h"
#include "programmingjob.h"
#include "simulatedloader.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <QStringList>
#include <QTest>
#include <QTextStream>

namespace {

constexpr quint32 FlashBase = 0x08000000;
constexpr quint32 AppStart = 0x08003000;
constexpr int PageSize = 1024;

// Never all 0xFF and different in every block: an unwritten block cannot pass for a written one.
QByteArray Image(int size, quint32 seed = 7)
{
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(((seed = seed * 1103515245u + 12345u) >> 16) & 0xFE);
    return bytes;
}

// Records what the engine tells its front end; stops it at question stopAt (1-based) of stopPass.
struct Recorder : JobObserver
{
    JobPass stopPass = JobPass::Read;
    int stopAt = -1;
    QStringList starts;
    QList<int> lastProgress, questions;

    void PassStarted(JobPass pass, int maximum) override
    {
        starts << QStringLiteral("%1:%2").arg(int(pass)).arg(maximum);
        lastProgress << -1;
        questions << 0;
    }
    void Progress(int value) override { lastProgress.last() = value; }
    bool ShouldStop(JobPass pass) override { return ++questions.last() == stopAt && pass == stopPass; }
};

SimConfig WithFaults(SimConfig config, const QStringList &faults)
{
    config.verbose = true;
    for (const QString &text : faults) {
        config.faults.append(FaultRule());
        if (!ParseFaultRule(text, &config.faults.last()))
            qFatal("bad fault rule %s", qPrintable(text));
    }
    return config;
}

// A simulated device on a pseudo-terminal, its application area filled so that a stray erase shows.
struct Bench
{
    explicit Bench(const SimConfig &config = {}, const QStringList &faults = {})
        : logStream(&log), sim(WithFaults(config, faults))
    {
        sim.SetLog(&logStream);
        sim.OpenPty();
        port.setPortName(sim.SlavePath());
        opened = port.open(QIODevice::ReadWrite);
        link.SetPort(&port);
        link.SetTrace(nullptr);
        sim.Flash().Write(AppStart, Image(int(FlashBase + sim.Flash().Size() - AppStart), 99));
        before = sim.Flash().Contents();
    }

    // The flash as it was, with pages erased from AppStart and image bytes from..to written.
    QByteArray Expected(int pages, const QByteArray &image, int from = 0, int to = -1) const
    {
        QByteArray flash = before;
        const int offset = int(AppStart - FlashBase);
        flash.replace(offset, pages * PageSize, QByteArray(pages * PageSize, '\xFF'));
        to = to < 0 ? image.size() : to;
        return flash.replace(offset + from, to - from, image.mid(from, to - from));
    }

    // The frames the loader took, as command letter and offset from AppStart: "E0 W64 R64 ...".
    QString Frames() const
    {
        QStringList frames;
        for (const QString &line : log.split('\n')) {
            const int at = line.indexOf(" rx #");
            if (at < 0)
                continue;
            const QByteArray bytes = QByteArray::fromHex(line.mid(at + 5).toLatin1());
            if (bytes.size() < 8) {     // the parameter query: no address
                frames << QStringLiteral("P");
                continue;
            }
            const quint32 address = quint8(bytes[2]) | quint8(bytes[3]) << 8 | quint8(bytes[4]) << 16 | quint32(quint8(bytes[5])) << 24;
            const char kind = bytes[0] == '\x21' ? 'E' : bytes[1] == '\x12' ? 'W' : 'R';
            frames << kind + QString::number(address - AppStart);
        }
        return frames.join(' ');
    }

    // Whether every read asked for a reply length that none of the five
    // different requests before it drew (the same request sent again aside).
    bool ReadsDistinct() const
    {
        QVector<QByteArray> recent;
        for (const QString &line : log.split('\n')) {
            const int at = line.indexOf(" rx #");
            if (at < 0)
                continue;
            const QByteArray bytes = QByteArray::fromHex(line.mid(at + 5).toLatin1());
            const bool read = bytes[0] == '\x64' && bytes[1] == '\x02';
            const int reply = read ? (quint8(bytes[6]) | quint8(bytes[7]) << 8) + 4 : bytes[0] == '\xA3' ? 14 : 4;
            const QByteArray request = bytes.left(bytes.size() - 2);
            if (!recent.isEmpty() && recent.last().mid(1) == request)
                continue;
            for (const QByteArray &before : recent) {
                if (read && quint8(before[0]) == reply && before.mid(1) != request)
                    return false;
            }
            recent.append(char(reply) + request);
            if (recent.size() > 5)
                recent.removeFirst();
        }
        return true;
    }

    QString log;
    QTextStream logStream;     // outlives the loader, which logs its closing
    SimulatedLoader sim;
    QSerialPort port;
    DeviceLink link;
    QByteArray before;
    bool opened = false;
};

struct CancelRow { JobPass pass; int question, pagesErased, writtenTo, frames; };
// progress: the last value the failing pass reported; passes: how many passes began.
struct FailureRow { int size; QString fault; JobPass pass; int index, blockLength, linkResult, readBackLength,
                    progress, passes; bool firstBlockErased; };
struct RangeRow { quint32 start, end, pageSize; QString data; RangeUse use; RangeCheck check; };
// A loader that answers late, in order, or whose flash refuses re-writes; readLength > 0 reads instead.
// The flash before a job that skips unchanged pages: "same" (as a full write of the 3000-byte image
// left it), "blank", or "tail" (the same, with a byte after the image in its last page not 0xFF).
// changeAt: an image byte changed for the second job; cutAt: the write question that stops it.
struct SkipRow { QString flash; int changeAt; BlockOrder order; int cutAt; QString erases; int reads, skipped; };
// A read reply sent twice, its copy ms after it, and maybe the reply to a later read lost.
// later > 0: the copy goes out just ahead of the reply to the read that many frames on.
struct ShiftRow { QString pass; int copyMs; QString loss; int lossAfter; bool differs; int later = 0; };
struct TrustRow { int baud, lateDelayMs; bool strict; QStringList faults; QByteArray image; int readLength;
                  JobOutcome::Status status; int mismatchAt; };

} // namespace

Q_DECLARE_METATYPE(BlockOrder)
Q_DECLARE_METATYPE(CancelRow)
Q_DECLARE_METATYPE(FailureRow)
Q_DECLARE_METATYPE(RangeRow)
Q_DECLARE_METATYPE(TrustRow)
Q_DECLARE_METATYPE(ShiftRow)
Q_DECLARE_METATYPE(SkipRow)

class TestProgrammingJob : public QObject
{
    Q_OBJECT

private slots:
    // The passes, their progress and the frames, in either order and block
    // size; reading back afterwards gives the image and the erased bytes that
    // follow it. In the default order the first block goes in at the very
    // end, counted in the verify pass's progress. frames: the frames the
    // loader took, when given.
    void job_data()
    {
        QTest::addColumn<BlockOrder>("order");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("frames");
        const BlockOrder last = BlockOrder::FirstBlockLast;
        // Each read asks for a length none of the five requests before drew, never 10 (the parameter
        // query's reply): 136 bytes as 64 62 8 2, the first block as 60 4.
        QTest::newRow("first block last") << last << 64 << 200 << 1 << "E0 W64 W128 W192 R64 R128 R190 R198 W0 R0 R60";
        QTest::newRow("in order") << BlockOrder::InOrder << 64 << 200 << 1 << "E0 W0 W64 W128 W192 R0 R64 R126 R186";
        QTest::newRow("one block") << last << 64 << 40 << 1 << "E0 W0 R0";
        QTest::newRow("248-byte blocks") << last << 248 << 1100 << 2 << "E0 E1024 W248 W496 W744 W992 R248 R496 R742 R986 W0 R0 R242";
        QTest::newRow("exactly one page") << last << 64 << 1024 << 1 << "";
        QTest::newRow("into the fourth page") << last << 64 << 3 * 1024 + 17 << 4 << "";
    }

    void job()
    {
        QFETCH(BlockOrder, order);
        QFETCH(int, blockSize);
        QFETCH(int, size);
        QFETCH(int, pages);
        QFETCH(QString, frames);
        Bench bench;
        QVERIFY(bench.opened);
        const QByteArray image = Image(size);
        Recorder recorder;
        ProgrammingJob job(bench.link, AppStart, PageSize, image);
        if (order == BlockOrder::InOrder)   // the first block last is the default
            job.SetOrder(order);
        QVERIFY(job.SetBlockSize(blockSize));

        QCOMPARE(int(job.Run(recorder).status), int(JobOutcome::Done));
        if (!frames.isEmpty())
            QCOMPARE(bench.Frames(), frames);
        QByteArray data;
        QCOMPARE(int(job.Read(recorder, size + 100, &data).status), int(JobOutcome::Done));

        const int blocks = (size + blockSize - 1) / blockSize, reads = (size + 100 + blockSize - 1) / blockSize;
        const bool inOrder = order == BlockOrder::InOrder;
        const int writeQuestions = inOrder ? blocks : blocks - 1, written = inOrder ? size : blocks > 1 ? size - blockSize : -1;
        QCOMPARE(recorder.starts.join(' '), QStringLiteral("0:%1 1:%2 2:%2 3:%3").arg(pages).arg(size).arg(size + 100));
        QCOMPARE(recorder.lastProgress, QList<int>({pages, written, size, size + 100}));
        QCOMPARE(recorder.questions.mid(0, 3), QList<int>({pages, writeQuestions, blocks}));
        QVERIFY(recorder.questions.last() >= reads);
        QVERIFY2(bench.ReadsDistinct(), qPrintable(bench.Frames()));
        const QByteArray flash = bench.Expected(pages, image);
        QVERIFY(bench.sim.Flash().Contents() == flash);
        QCOMPARE(data, flash.mid(int(AppStart - FlashBase), size + 100));
    }

    // Pages already holding what the job would leave there are read, not rewritten, on flash that
    // refuses to program a cell twice; a plan made first changes nothing and counts what the job does.
    void skipUnchanged_data()
    {
        QTest::addColumn<SkipRow>("row");
        const BlockOrder last = BlockOrder::FirstBlockLast;
        // Reads: a page that holds the image takes 18 (a probe of 16 bytes, then lengths from 64 down
        // to 54, none drawn by the five reads before); one that differs, reads up to the difference.
        QTest::newRow("the same image again") << SkipRow{"same", -1, last, -1, "", 3 * 18, 3};
        // The first block's page goes too, so that the application cannot start half new.
        QTest::newRow("one byte changed") << SkipRow{"same", 2500, last, -1, "E0 E2048", 18 + 18 + 9, 1};
        QTest::newRow("one byte changed, in order") << SkipRow{"same", 2500, BlockOrder::InOrder, -1, "E2048", 45, 2};
        QTest::newRow("a byte of the first page changed") << SkipRow{"same", 100, last, -1, "E0", 3 + 19 + 18, 2};
        QTest::newRow("the last page's tail not erased") << SkipRow{"tail", -1, last, -1, "E0 E2048", 54, 1};
        QTest::newRow("a blank device") << SkipRow{"blank", -1, last, -1, "E0 E1024 E2048", 3, 0};
        QTest::newRow("cut in the write pass") << SkipRow{"same", 2500, last, 1, "E0 E2048", 45, 1};
    }

    void skipUnchanged()
    {
        QFETCH(SkipRow, row);
        SimConfig config;
        config.strictRewrite = true;
        Bench bench(config);
        QVERIFY(bench.opened);
        QByteArray image = Image(3000).replace(PageSize + 64, 64, QByteArray(64, '\xFF'));    // a blank block
        const int pagesBytes = 3 * PageSize;
        QByteArray flash = image + QByteArray(pagesBytes - image.size(), '\xFF');
        if (row.flash == "tail")
            flash[3050] = 0;
        bench.sim.Flash().Erase(AppStart, 3);
        if (row.flash != "blank")
            bench.sim.Flash().Write(AppStart, flash);
        if (row.changeAt >= 0)
            image[row.changeAt] = char(image[row.changeAt] ^ 0x10);
        Recorder recorder;
        recorder.stopPass = JobPass::Write;
        recorder.stopAt = row.cutAt;
        ProgrammingJob job(bench.link, AppStart, PageSize, image);
        job.SetSkipUnchanged(true);
        job.SetOrder(row.order);

        JobPlan plan;
        QCOMPARE(int(job.Plan(recorder, &plan).status), int(JobOutcome::Done));
        const QStringList planned = bench.Frames().split(' ');
        QCOMPARE(planned.size(), row.reads);
        QCOMPARE(planned.filter(QRegularExpression("^[EW]")), QStringList());
        const JobOutcome outcome = job.Run(recorder);
        const QStringList frames = bench.Frames().split(' ').mid(planned.size());
        QCOMPARE(frames.filter(QRegularExpression("^E")).join(' '), row.erases);
        QCOMPARE(outcome.pagesSkipped, row.skipped);
        QCOMPARE(plan.pagesSkipped, row.skipped);
        const QByteArray held = bench.sim.Flash().Read(AppStart, pagesBytes);
        if (row.cutAt > 0) {
            QCOMPARE(int(outcome.status), int(JobOutcome::Cancelled));
            QVERIFY(outcome.firstBlockErased);
            QCOMPARE(held.left(64), QByteArray(64, '\xFF'));
            return;
        }
        QCOMPARE(int(outcome.status), int(JobOutcome::Done));
        QVERIFY(held == image + QByteArray(pagesBytes - image.size(), '\xFF'));
        // The plan counts what the job did.
        QCOMPARE(plan.erase.size(), outcome.pagesErased);
        QCOMPARE(plan.writeFrames.size(), outcome.blocksWritten);
        QCOMPARE(plan.blocksBlank, outcome.blocksSkipped);
    }

    // A read reply sent twice shifts every later answer by one, and where blocks repeat, a block
    // that differs reads as the same as its neighbour. Only the reply too many at the end shows it:
    // the comparison is then dropped and every page rewritten.
    void comparisonShifted()
    {
        SimConfig config;
        config.strictRewrite = true;
        Bench bench(config, {"replay:cmd=0x64:arg=0x02:addr=0x08003780:ms=50"});
        QVERIFY(bench.opened);
        QCOMPARE(bench.link.ReadFlashParams(nullptr, nullptr, nullptr), int(LinkOk));
        const QByteArray image = Image(64).repeated(2 * PageSize / 64);
        QByteArray flash = image;
        flash[2 * PageSize - 64] = 0;     // the last block: its own reply comes after the last read
        bench.sim.Flash().Erase(AppStart, 2);
        bench.sim.Flash().Write(AppStart, flash);
        Recorder recorder;
        ProgrammingJob job(bench.link, AppStart, PageSize, image);
        job.SetSkipUnchanged(true);

        const JobOutcome outcome = job.Run(recorder);
        QCOMPARE(int(outcome.status), int(JobOutcome::Done));
        QVERIFY(bench.sim.Flash().Read(AppStart, image.size()) == image);
        QCOMPARE(outcome.pagesErased, 2);
    }

    // A loader paced at 9600 behind an adapter that holds the tail of each reply 45 ms: no frame goes twice.
    void adapterLatency()
    {
        SimConfig config;
        config.baud = 9600;
        config.latencyMs = 45;
        Bench bench(config);
        QVERIFY(bench.opened);
        Recorder recorder;
        const JobOutcome outcome = ProgrammingJob(bench.link, AppStart, PageSize, Image(512)).Run(recorder);
        QCOMPARE(int(outcome.status), int(JobOutcome::Done));
        // The first block is read back in two: its length was drawn by a read just before.
        QCOMPARE(bench.sim.FramesReceived(), 1 + 8 + 8 + 2);
    }

    void cancel_data()
    {
        QTest::addColumn<CancelRow>("row");
        // A 3000-byte image: 3 pages, 47 blocks, the first written last.
        QTest::newRow("erase, second page") << CancelRow{JobPass::Erase, 2, 2, 64, 2};
        QTest::newRow("write, third block") << CancelRow{JobPass::Write, 3, 3, 256, 3 + 3};
        QTest::newRow("write, last block") << CancelRow{JobPass::Write, 46, 3, 3000, 3 + 46};
        // 2936 bytes read back in 50 reads of lengths from 64 down to 54.
        QTest::newRow("verify, last before the first") << CancelRow{JobPass::Verify, 46, 3, 3000, 3 + 46 + 50};
    }

    // The command in flight is finished, nothing is sent after it, and the application's first block stays erased.
    void cancel()
    {
        QFETCH(CancelRow, row);
        Bench bench;
        QVERIFY(bench.opened);
        const QByteArray image = Image(3000);
        Recorder recorder;
        recorder.stopPass = row.pass;
        recorder.stopAt = row.question;

        const JobOutcome outcome = ProgrammingJob(bench.link, AppStart, PageSize, image).Run(recorder);

        QCOMPARE(int(outcome.status), int(JobOutcome::Cancelled));
        QCOMPARE(outcome.pass, row.pass);
        QCOMPARE(recorder.starts.size(), int(row.pass) + 1);
        QCOMPARE(recorder.questions.last(), row.question);
        QCOMPARE(bench.sim.FramesReceived(), row.frames);
        QVERIFY(outcome.firstBlockErased);
        QVERIFY(bench.sim.Flash().Contents() == bench.Expected(row.pagesErased, image, 64, row.writtenTo));
    }

    void failure_data()
    {
        // Each fault hits every attempt at the failing page or block, so the link's retries cannot hide it.
        QTest::addColumn<FailureRow>("row");
        const QString write = ":cmd=0x64:arg=0x12", read = ":cmd=0x64:arg=0x02";
        using P = JobPass;
        QTest::newRow("erase refused") << FailureRow{4000, "status:cmd=0x21", P::Erase, 2, 0, LinkRefused, 0, 2, 1, true};
        QTest::newRow("no reply, short block") << FailureRow{100, "drop" + write, P::Write, 64, 36, LinkNoReply, 0, -1, 2, true};
        QTest::newRow("device vanishes") << FailureRow{2000, "vanish" + write, P::Write, 64, 64, LinkPortLost, 0, -1, 2, true};
        // The second block's ack comes again and again: the writes after it seem acknowledged, and the first read
        // back draws an ack; the device was never asked its parameters, so nothing can prove the line in step.
        QTest::newRow("stuck replaying an ack") << FailureRow{200, "replay" + write, P::Verify, 64, 64, LinkOutOfTurn, 0, -1, 3, true};
        // Reads do not keep to the blocks: the one from 1016 spoils the block from 960.
        QTest::newRow("bad CRC on read-back") << FailureRow{4000, "crc" + read + ":addr=0x080033F8", P::Verify, 960, 64,
                                                            LinkBadReply, 0, 896, 3, true};
        QTest::newRow("worn cell") << FailureRow{4000, "worn" + write, P::Verify, 640, 64, 0, 64, 576, 3, true};
        QTest::newRow("worn cell, short block") << FailureRow{100, "worn" + write, P::Verify, 64, 36, 0, 36, -1, 3, true};
        QTest::newRow("first block refused") << FailureRow{3000, "status" + write, P::Write, 0, 64, LinkRefused, 0, 2936, 3, false};
        QTest::newRow("first block worn") << FailureRow{3000, "worn" + write, P::Verify, 0, 64, 0, 64, 2936, 3, false};
    }

    // The job stops in the failing pass, and the failing step is not counted done.
    void failure()
    {
        QFETCH(FailureRow, row);
        const quint32 address = AppStart + quint32(row.pass == JobPass::Erase ? row.index * PageSize : row.index);
        const QString aim = row.fault.contains("addr=") ? QString() : QStringLiteral(":addr=%1").arg(address);
        Bench bench({}, {QStringLiteral("%1:count=-1%2").arg(row.fault, aim)});
        QVERIFY(bench.opened);
        Recorder recorder;
        const JobOutcome outcome = ProgrammingJob(bench.link, AppStart, PageSize, Image(row.size)).Run(recorder);

        QCOMPARE(int(outcome.status), int(JobOutcome::Failed));
        QCOMPARE(outcome.pass, row.pass);
        QCOMPARE(outcome.index, row.index);
        QCOMPARE(outcome.address, address);
        QCOMPARE(outcome.blockLength, row.blockLength);
        QCOMPARE(outcome.linkResult, row.linkResult);
        QCOMPARE(outcome.mismatch, row.linkResult == 0);
        QCOMPARE(outcome.readBackLength, row.readBackLength);
        QCOMPARE(outcome.mismatchAddress, row.linkResult == 0 ? address : 0u);  // a worn cell is the block's first byte
        QCOMPARE(outcome.firstBlockErased, row.firstBlockErased);
        QCOMPARE(recorder.starts.size(), row.passes);
        QCOMPARE(recorder.lastProgress.last(), row.progress);
    }

    // A verify of the whole image gathers every range that differs, a run
    // across a block boundary as one, with the file's and the flash's bytes.
    void verifyAll_data()
    {
        QTest::addColumn<QList<int>>("changed");   // image offsets the flash holds inverted
        QTest::addColumn<QString>("ranges");        // offset:length of each range found
        QTest::newRow("the same bytes") << QList<int>() << "";
        QTest::newRow("a run across blocks, then a byte") << QList<int>{61, 62, 63, 64, 65, 300} << "61:5 300:1";
    }

    void verifyAll()
    {
        QFETCH(QList<int>, changed);
        QFETCH(QString, ranges);
        Bench bench;
        QVERIFY(bench.opened);
        const QByteArray image = Image(1000);
        QByteArray flash = image;
        for (int at : changed)
            flash[at] = char(~image[at]);
        for (int at = 0; at < flash.size(); ++at)
            bench.sim.Flash().Poke(AppStart + quint32(at), flash[at]);
        Recorder recorder;
        QVector<FlashDifference> differences;

        const JobOutcome outcome = ProgrammingJob(bench.link, AppStart, PageSize, image).VerifyAll(recorder, &differences);

        QStringList found;
        for (const FlashDifference &difference : differences) {
            const int offset = int(difference.address - AppStart);
            found << QStringLiteral("%1:%2").arg(offset).arg(difference.expected.size());
            QCOMPARE(difference.expected, image.mid(offset, difference.expected.size()));
            QCOMPARE(difference.held, flash.mid(offset, difference.expected.size()));
        }
        QCOMPARE(found.join(' '), ranges);
        QCOMPARE(outcome.mismatch, !changed.isEmpty());
        QCOMPARE(outcome.mismatchAddress, changed.isEmpty() ? 0u : AppStart + quint32(changed.first()));
        QCOMPARE(recorder.lastProgress, QList<int>{int(image.size())});
    }

    // Replies carry no sequence number: a read reply sent twice shifts the answers after it by one,
    // and a later reply lost (dropped, garbled, late) takes the one too many away again. Over an
    // image of one repeated block, the device holding a byte of it changed (or not): a verify, a
    // comparison, a backup and a write must never end done over flash that differs or with a wrong
    // backup, and end done with the right bytes where the flash matches.
    void shiftedReplies_data()
    {
        QTest::addColumn<ShiftRow>("row");
        for (const QString pass : {"verify", "verify all", "compare", "read"}) {
            const QByteArray bytes = pass.toLatin1();
            const char *name = bytes.constData();
            QTest::addRow("%s, copy at once", name) << ShiftRow{pass, 0, "", 0, true};
            QTest::addRow("%s, copy two reads on, next lost", name) << ShiftRow{pass, 90, "drop", 1, true};
            QTest::addRow("%s, garbled two later", name) << ShiftRow{pass, 45, "crc", 2, true};
            QTest::addRow("%s, late one later", name) << ShiftRow{pass, 45, "late", 1, true};
            QTest::addRow("%s, the same flash", name) << ShiftRow{pass, 45, "drop", 1, false};
            // Six reads on, past the window of lengths, the copy has the length asked for and is
            // taken; only the reply it displaced, one read later, shows it.
            QTest::addRow("%s, copy six reads on", name) << ShiftRow{pass, 0, "", 0, true, 6};
        }
        QTest::newRow("write, copy then a loss") << ShiftRow{"write", 45, "drop", 1, false};
    }

    void shiftedReplies()
    {
        QFETCH(ShiftRow, row);
        const QString read = ":cmd=0x64:arg=0x02";
        QStringList faults{row.later > 0 ? QStringLiteral("again%1:frame=4:later=%2").arg(read).arg(row.later)
                                         : QStringLiteral("again%1:frame=4:ms=%2").arg(read).arg(row.copyMs)};
        if (!row.loss.isEmpty())
            faults << QStringLiteral("%1%2:frame=%3").arg(row.loss, read).arg(4 + row.lossAfter);
        SimConfig config;
        config.baud = 38400;
        config.lateDelayMs = 300;
        config.strictRewrite = true;
        Bench bench(config, faults);
        QVERIFY(bench.opened);
        QCOMPARE(bench.link.ReadFlashParams(nullptr, nullptr, nullptr), int(LinkOk));
        const QByteArray image = Image(64).repeated(PageSize / 64);
        QByteArray flash = image;
        if (row.differs)
            flash[330] = char(flash[330] ^ 0x04);
        bench.sim.Flash().Erase(AppStart, 1);
        bench.sim.Flash().Write(AppStart, flash);
        Recorder recorder;
        ProgrammingJob job(bench.link, AppStart, PageSize, image);
        job.SetSkipUnchanged(row.pass == "compare");
        QByteArray backup;
        QVector<FlashDifference> differences;
        const JobOutcome outcome = row.pass == "verify" ? job.Verify(recorder)
            : row.pass == "verify all"                  ? job.VerifyAll(recorder, &differences)
            : row.pass == "read"                        ? job.Read(recorder, image.size(), &backup)
                                                        : job.Run(recorder);
        const QByteArray held = bench.sim.Flash().Read(AppStart, image.size());
        const bool changes = row.pass == "compare" || row.pass == "write";
        if (row.pass == "read")
            QVERIFY(outcome.status != JobOutcome::Done || backup == held);
        else if (changes || !row.differs)
            QVERIFY(outcome.status != JobOutcome::Done || held == image);
        else
            QVERIFY(outcome.status != JobOutcome::Done);
        // Where the faults leave a way through, the job takes it.
        const bool succeeds = row.pass == "read" || changes || !row.differs;
        if (succeeds)
            QCOMPARE(int(outcome.status), int(JobOutcome::Done));
        if (row.pass == "verify all" && row.differs)
            QCOMPARE(differences.size(), 1);
        QVERIFY2(bench.ReadsDistinct(), qPrintable(bench.Frames()));
    }

    // What the job reports as written, verified or read must be in the flash.
    void trust_data()
    {
        QTest::addColumn<TrustRow>("row");
        const QString read = ":cmd=0x64:arg=0x02", write = ":cmd=0x64:arg=0x12";
        // The late reply to the first read of block 16 must not pass for block 17,
        // whose zeros equal block 16's but whose flash holds a worn bit.
        QTest::newRow("late read, then a worn cell under repeated data")
            << TrustRow{9600, 300, false, {"late" + read + ":addr=0x08003400", "worn" + write + ":addr=0x08003440"},
                        Image(1024) + QByteArray(128, '\0'), 0, JobOutcome::Failed, 1088};
        QTest::newRow("late read in a backup") << TrustRow{19200, 300, false, {"late" + read + ":frame=3"},
                                                           QByteArray(), 640, JobOutcome::Done, -1};
        // Every later answer shifted by one, and nothing times out: only the replies too many at the end show it.
        QTest::newRow("read reply sent twice in a backup") << TrustRow{0, 0, false, {"replay" + read + ":frame=3:ms=100"},
                                                                      QByteArray(), 640, JobOutcome::Done, -1};
        // The shift ends at a shorter last block, whose reply the copy cannot be: the link resyncs there.
        QTest::newRow("read reply sent twice before a shorter last block")
            << TrustRow{0, 0, false, {"replay" + read + ":frame=8:ms=100"}, QByteArray(), 630, JobOutcome::Done, -1};
        QTest::newRow("lost write ack, flash refuses the resend")
            << TrustRow{0, 0, true, {"drop" + write + ":frame=5"}, Image(3000), 0, JobOutcome::Done, -1};
        // Past the link's quiet wait, within its probe's budget: the writes held meanwhile go in, in order.
        QTest::newRow("stuck replaying an ack for 3 s")
            << TrustRow{0, 0, false, {"replay" + write + ":frame=1:ms=3000"}, Image(200), 0, JobOutcome::Done, -1};
    }

    void trust()
    {
        QFETCH(TrustRow, row);
        SimConfig config;
        config.baud = row.baud;
        config.lateDelayMs = row.lateDelayMs;
        config.strictRewrite = row.strict;
        Bench bench(config, row.faults);
        QVERIFY(bench.opened);
        // As at a connection: the link knows the parameter reply its probe draws.
        QCOMPARE(bench.link.ReadFlashParams(nullptr, nullptr, nullptr), int(LinkOk));
        Recorder recorder;
        ProgrammingJob job(bench.link, AppStart, PageSize, row.image);
        QByteArray data;
        const JobOutcome outcome = row.readLength > 0 ? job.Read(recorder, row.readLength, &data) : job.Run(recorder);

        QCOMPARE(int(outcome.status), int(row.status));
        if (row.mismatchAt >= 0) {
            QVERIFY(outcome.mismatch);
            QCOMPARE(outcome.index, row.mismatchAt);
        } else if (row.readLength > 0) {
            QCOMPARE(data, bench.sim.Flash().Read(AppStart, row.readLength));
        } else {
            QVERIFY(bench.sim.Flash().Read(AppStart, row.image.size()) == row.image);
        }
    }

    // A flash at the very top of the address space: the last page and its last
    // byte are written, verified and read back, and nothing wraps to address 0.
    void topOfAddressSpace()
    {
        SimConfig config;
        config.flashBase = 0xFFFF0000;
        config.strictRewrite = true;
        Bench bench(config);
        QVERIFY(bench.opened);
        const quint32 start = 0xFFFFF000;
        ImageBuilder builder;
        builder.Add(start + 2, Image(100));
        builder.Add(0xFFFFFFF1, Image(15));
        const FirmwareImage image = builder.Finish();
        QCOMPARE(CheckImageRange(start, 0xFFFFFFFF, PageSize, image, RangeUse::Write), RangeCheck::Fits);
        Recorder recorder;
        ProgrammingJob job(bench.link, start, PageSize, image);

        QCOMPARE(int(job.Run(recorder).status), int(JobOutcome::Done));
        QByteArray data;
        QCOMPARE(int(job.Read(recorder, 0x1000, &data).status), int(JobOutcome::Done));
        QCOMPARE(data, image.Bytes(start, 0x1000, char(0xFF)));
        QCOMPARE(bench.Frames().count('E'), 2);
    }

    // Pieces at offsets from AppStart ("offset:length", "ff" for 0xFF bytes) become blocks and pages.
    void plan_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<QString>("blocks");    // offset:length, * when blank
        QTest::addColumn<QString>("pages");
        QTest::newRow("raw, short last block") << QStringList{"0:200"} << 64 << "0:64 64:64 128:64 192:8" << "0";
        QTest::newRow("248-byte windows") << QStringList{"0:600"} << 248 << "0:248 248:248 496:104" << "0";
        QTest::newRow("odd start and end widened") << QStringList{"3:4"} << 64 << "2:6" << "0";
        QTest::newRow("across a window") << QStringList{"60:10"} << 64 << "60:4 64:6" << "0";
        QTest::newRow("gap in a window") << QStringList{"0:10", "20:10"} << 64 << "0:10 20:10" << "0";
        QTest::newRow("blank block, far page") << QStringList{"64:64ff", "7169:2"} << 64 << "64:64* 7168:4" << "0 7168";
    }

    void plan()
    {
        QFETCH(QStringList, pieces);
        QFETCH(int, blockSize);
        ImageBuilder builder;
        for (const QString &piece : pieces) {
            const QStringList parts = piece.split(':');
            const int length = QString(parts[1]).remove("ff").toInt();
            builder.Add(AppStart + parts[0].toUInt(), parts[1].endsWith("ff") ? QByteArray(length, '\xFF') : Image(length));
        }
        const FirmwareImage image = builder.Finish();
        QStringList blocks, pages;
        for (const FlashBlock &block : PlanImageBlocks(image, AppStart, blockSize))
            blocks << QStringLiteral("%1:%2%3").arg(block.address - AppStart).arg(block.length).arg(block.Blank() ? "*" : "");
        for (quint32 page : PlanPages(image, AppStart, PageSize))
            pages << QString::number(page - AppStart);
        QTEST(blocks.join(' '), "blocks");
        QTEST(pages.join(' '), "pages");
    }

    // The range runs from start to end, end included, and no address wraps past 0xFFFFFFFF.
    // data: a raw file of that many bytes, or "address:length" pieces placed by the file.
    void range_data()
    {
        QTest::addColumn<RangeRow>("row");
        const RangeUse W = RangeUse::Write, R = RangeUse::Read;
        QTest::newRow("raw, the whole area") << RangeRow{AppStart, 0x0800FFFF, 1024, "53248", W, RangeCheck::Fits};
        QTest::newRow("raw, one byte more") << RangeRow{AppStart, 0x0800FFFF, 1024, "53249", W, RangeCheck::TooLarge};
        QTest::newRow("raw, start at end: one byte") << RangeRow{AppStart, AppStart, 1024, "1", W, RangeCheck::Fits};
        QTest::newRow("raw, start past end") << RangeRow{AppStart + 2, AppStart, 1024, "1", R, RangeCheck::TooLarge};
        QTest::newRow("last byte at the end address") << RangeRow{AppStart, 0x0800FFFF, 1024, "0x0800FFFF:1", W, RangeCheck::Fits};
        QTest::newRow("a byte past the end") << RangeRow{AppStart, 0x0800FFFF, 1024, "0x08010000:1", W, RangeCheck::TooLarge};
        QTest::newRow("below the start") << RangeRow{AppStart, 0x0800FFFF, 1024, "0x08002FFF:2", R, RangeCheck::BelowStart};
        QTest::newRow("a byte at 0xFFFFFFFF does not wrap") << RangeRow{0, 0xFFFF, 1024, "0:4 0xFFFFFFFF:1", W, RangeCheck::TooLarge};
        QTest::newRow("the whole address space") << RangeRow{0, 0xFFFFFFFF, 1024, "0:4 0xFFFFFFFF:1", W, RangeCheck::Fits};
        QTest::newRow("odd start") << RangeRow{AppStart + 1, 0x0800FFFF, 1, "100", R, RangeCheck::OddStart};
        QTest::newRow("odd page size") << RangeRow{AppStart, 0x0800FFFF, 1, "100", W, RangeCheck::OddPageSize};
        QTest::newRow("odd page size, nothing erased") << RangeRow{AppStart, 0x0800FFFF, 1, "100", R, RangeCheck::Fits};
        QTest::newRow("start inside a page") << RangeRow{AppStart + 0x100, 0x0800FFFF, 1024, "100", W, RangeCheck::Unaligned};
        QTest::newRow("inside a page, nothing erased") << RangeRow{AppStart + 0x100, 0x0800FFFF, 1024, "100", R, RangeCheck::Fits};
        QTest::newRow("zero page size") << RangeRow{AppStart, 0x0800FFFF, 0, "100", W, RangeCheck::Unaligned};
    }

    void range()
    {
        QFETCH(RangeRow, row);
        if (!row.data.contains(':')) {
            QCOMPARE(CheckRawRange(row.start, row.end, row.pageSize, row.data.toLongLong(), row.use), row.check);
            return;
        }
        ImageBuilder builder;
        for (const QString &piece : row.data.split(' ')) {
            builder.Add(piece.section(':', 0, 0).toUInt(nullptr, 0), Image(piece.section(':', 1).toInt()));
        }
        QCOMPARE(CheckImageRange(row.start, row.end, row.pageSize, builder.Finish(), row.use), row.check);
    }
};

QTEST_GUILESS_MAIN(TestProgrammingJob)
#include "tst_programmingjob.moc"
