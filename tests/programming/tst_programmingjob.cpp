// The engine against the simulated loader, both in this thread: the
// link's wait for a reply runs the event loop, and with it the loader.

#include "devicelink.h"
#include "programmingjob.h"
#include "simulatedloader.h"

#include <QSerialPort>
#include <QStringList>
#include <QTest>


Q_DECLARE_METATYPE(JobPass)
Q_DECLARE_METATYPE(RangeCheck)
Q_DECLARE_METATYPE(FaultRule)

namespace {

constexpr quint32 FlashBase = 0x08000000;
constexpr quint32 AppStart = 0x08003000;
constexpr quint32 PageSize = 1024;

// Firmware-like bytes that differ from block to block and are never all
// 0xFF, so an unwritten block cannot pass for a written one.
QByteArray Image(int size, quint32 seed = 7)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char((seed >> 16) & 0xFE);
    }
    return bytes;
}

// Records what the engine tells its front end, and stops it at the
// chosen question.
class Recorder : public JobObserver
{
public:
    JobPass stopPass = JobPass::Read;
    int stopAtQuestion = -1;    // 1-based question within stopPass; -1 never

    QStringList starts;
    QList<int> lastProgress;
    QList<int> questions;

    void PassStarted(JobPass pass, int maximum) override
    {
        starts << QStringLiteral("%1:%2").arg(int(pass)).arg(maximum);
        lastProgress << -1;
        questions << 0;
    }
    void Progress(int value) override { lastProgress.last() = value; }
    bool ShouldStop(JobPass pass) override
    {
        ++questions.last();
        return pass == stopPass && questions.last() == stopAtQuestion;
    }
};

// One simulated device on a pseudo-terminal and the tool's end of the line.
struct Bench
{
    explicit Bench(const SimConfig &config = SimConfig())
        : sim(config)
    {
        QString error;
        opened = sim.OpenPty(&error);
        if (!opened)
            qWarning("pty: %s", qPrintable(error));
        port.setPortName(sim.SlavePath());
        opened = opened && port.open(QIODevice::ReadWrite);
        port.setBaudRate(9600);
        link.SetPort(&port);
        link.SetTrace(nullptr);
    }

    // Fills the whole application area, so that a page erased by mistake
    // shows up as 0xFF where this pattern should still be.
    void Prefill()
    {
        const QByteArray pattern = Image(int(FlashBase + sim.Flash().Size() - AppStart), 99);
        sim.Flash().Write(AppStart, pattern);
        before = sim.Flash().Contents();
    }

    SimulatedLoader sim;
    QSerialPort port;
    DeviceLink link;
    QByteArray before;
    bool opened = false;
};

FaultRule Fault(FaultKind kind, int command, int argument, qint64 address)
{
    FaultRule rule;
    rule.kind = kind;
    rule.frame = 1;
    rule.count = -1;    // every attempt, so the link's own retries cannot hide it
    rule.command = command;
    rule.argument = argument;
    rule.address = address;
    return rule;
}

} // namespace

class TestProgrammingJob : public QObject
{
    Q_OBJECT

private slots:
    void fullJob_data();
    void fullJob();
    void cancel_data();
    void cancel();
    void failure_data();
    void failure();
    void vanishingDevice();
    void readBack();
    void range_data();
    void range();
};

void TestProgrammingJob::fullJob_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pages");

    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("short last block") << 100 << 1;
    QTest::newRow("exactly one page") << 1024 << 1;
    QTest::newRow("into the fourth page") << 3 * 1024 + 17 << 4;
}

void TestProgrammingJob::fullJob()
{
    QFETCH(int, size);
    QFETCH(int, pages);
    Bench bench;
    QVERIFY(bench.opened);
    bench.Prefill();
    const QByteArray image = Image(size);

    Recorder recorder;
    ProgrammingJob job(bench.link, AppStart, PageSize, image);
    const JobOutcome outcome = job.Run(recorder);

    QCOMPARE(int(outcome.status), int(JobOutcome::Done));
    QCOMPARE(recorder.starts, QStringList({QStringLiteral("0:%1").arg(pages),
                                           QStringLiteral("1:%1").arg(size),
                                           QStringLiteral("2:%1").arg(size)}));
    const int blocks = (size + 63) / 64;
    const int last = size > 0 ? size : -1;
    QCOMPARE(recorder.lastProgress, QList<int>({pages > 0 ? pages : -1, last, last}));
    QCOMPARE(recorder.questions, QList<int>({pages, blocks, blocks}));
    QCOMPARE(bench.sim.FramesReceived(), pages + 2 * blocks);

    // The image, then erased bytes to the end of its last page, then the
    // untouched rest: nothing below the start or past the pages is lost.
    QByteArray expected = bench.before;
    const int offset = int(AppStart - FlashBase);
    expected.replace(offset, pages * int(PageSize), QByteArray(pages * int(PageSize), '\xFF'));
    expected.replace(offset, size, image);
    QVERIFY(bench.sim.Flash().Contents() == expected);
}

void TestProgrammingJob::cancel_data()
{
    QTest::addColumn<JobPass>("pass");
    QTest::addColumn<int>("question");
    QTest::addColumn<int>("pagesErased");
    QTest::addColumn<int>("bytesWritten");
    QTest::addColumn<int>("frames");

    // A 3000-byte image: 3 pages, 47 blocks.
    QTest::newRow("erase, first page") << JobPass::Erase << 1 << 1 << 0 << 1;
    QTest::newRow("erase, second page") << JobPass::Erase << 2 << 2 << 0 << 2;
    QTest::newRow("write, third block") << JobPass::Write << 3 << 3 << 192 << 3 + 3;
    QTest::newRow("write, last block") << JobPass::Write << 47 << 3 << 3000 << 3 + 47;
    QTest::newRow("verify, first block") << JobPass::Verify << 1 << 3 << 3000 << 3 + 47 + 1;
}

void TestProgrammingJob::cancel()
{
    QFETCH(JobPass, pass);
    QFETCH(int, question);
    QFETCH(int, pagesErased);
    QFETCH(int, bytesWritten);
    QFETCH(int, frames);
    Bench bench;
    QVERIFY(bench.opened);
    bench.Prefill();
    const QByteArray image = Image(3000);

    Recorder recorder;
    recorder.stopPass = pass;
    recorder.stopAtQuestion = question;
    ProgrammingJob job(bench.link, AppStart, PageSize, image);
    const JobOutcome outcome = job.Run(recorder);

    QCOMPARE(int(outcome.status), int(JobOutcome::Cancelled));
    QCOMPARE(outcome.pass, pass);
    QCOMPARE(recorder.starts.size(), int(pass) + 1);
    QCOMPARE(recorder.questions.last(), question);
    // The command in flight when the stop was asked for is finished, and
    // nothing is sent after it.
    QCOMPARE(bench.sim.FramesReceived(), frames);

    QByteArray expected = bench.before;
    const int offset = int(AppStart - FlashBase);
    expected.replace(offset, pagesErased * int(PageSize), QByteArray(pagesErased * int(PageSize), '\xFF'));
    expected.replace(offset, bytesWritten, image.left(bytesWritten));
    QVERIFY(bench.sim.Flash().Contents() == expected);
}

void TestProgrammingJob::failure_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<FaultRule>("fault");
    QTest::addColumn<JobPass>("pass");
    QTest::addColumn<int>("index");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("blockLength");
    QTest::addColumn<int>("linkResult");
    QTest::addColumn<int>("readBackLength");

    const quint32 page2 = AppStart + 2 * PageSize;
    QTest::newRow("erase refused at page 2")
        << 4000 << Fault(FaultKind::BadStatus, 0x21, 0x12, page2)
        << JobPass::Erase << 2 << page2 << 0 << int(LinkBadReply) << 0;
    QTest::newRow("write refused in the third block")
        << 4000 << Fault(FaultKind::BadStatus, 0x64, 0x12, AppStart + 128)
        << JobPass::Write << 128 << AppStart + 128 << 64 << int(LinkBadReply) << 0;
    QTest::newRow("write unanswered in the short last block")
        << 100 << Fault(FaultKind::DropReply, 0x64, 0x12, AppStart + 64)
        << JobPass::Write << 64 << AppStart + 64 << 36 << int(LinkNoReply) << 0;
    QTest::newRow("read-back with a broken CRC")
        << 4000 << Fault(FaultKind::CorruptCrc, 0x64, 0x02, AppStart + 1024)
        << JobPass::Verify << 1024 << AppStart + 1024 << 64 << int(LinkBadReply) << 0;
    QTest::newRow("worn cell found by verify")
        << 4000 << Fault(FaultKind::WornCell, 0x64, 0x12, AppStart + 640)
        << JobPass::Verify << 640 << AppStart + 640 << 64 << 0 << 64;
    QTest::newRow("worn cell in the short last block")
        << 100 << Fault(FaultKind::WornCell, 0x64, 0x12, AppStart + 64)
        << JobPass::Verify << 64 << AppStart + 64 << 36 << 0 << 36;
}

void TestProgrammingJob::failure()
{
    QFETCH(int, size);
    QFETCH(FaultRule, fault);
    QFETCH(JobPass, pass);
    QFETCH(int, index);
    QFETCH(quint32, address);
    QFETCH(int, blockLength);
    QFETCH(int, linkResult);
    QFETCH(int, readBackLength);
    SimConfig config;
    config.faults << fault;
    Bench bench(config);
    QVERIFY(bench.opened);

    Recorder recorder;
    ProgrammingJob job(bench.link, AppStart, PageSize, Image(size));
    const JobOutcome outcome = job.Run(recorder);

    QCOMPARE(int(outcome.status), int(JobOutcome::Failed));
    QCOMPARE(outcome.pass, pass);
    QCOMPARE(outcome.index, index);
    QCOMPARE(outcome.address, address);
    QCOMPARE(outcome.blockLength, blockLength);
    QCOMPARE(outcome.linkResult, linkResult);
    QCOMPARE(outcome.mismatch, linkResult == 0);
    QCOMPARE(outcome.readBackLength, readBackLength);
    // The failing step is not reported as progress (pages or bytes done
    // before it equal its index), and the job stops in that pass.
    QCOMPARE(recorder.starts.size(), int(pass) + 1);
    QCOMPARE(recorder.lastProgress.last(), index > 0 ? index : -1);
}

void TestProgrammingJob::vanishingDevice()
{
    // The line goes dead after the second block is written: the job must
    // end in a failure of the write pass, never in a success.
    SimConfig config;
    FaultRule vanish = Fault(FaultKind::Vanish, 0x64, 0x12, AppStart + 64);
    vanish.count = 1;
    config.faults << vanish;
    Bench bench(config);
    QVERIFY(bench.opened);

    Recorder recorder;
    ProgrammingJob job(bench.link, AppStart, PageSize, Image(2000));
    const JobOutcome outcome = job.Run(recorder);

    QCOMPARE(int(outcome.status), int(JobOutcome::Failed));
    QCOMPARE(outcome.pass, JobPass::Write);
    QCOMPARE(outcome.index, 64);
    QCOMPARE(outcome.linkResult, int(LinkNoReply));
}

void TestProgrammingJob::readBack()
{
    Bench bench;
    QVERIFY(bench.opened);
    bench.Prefill();

    Recorder recorder;
    ProgrammingJob job(bench.link, AppStart + 2048, PageSize, QByteArray());
    QByteArray data;
    const JobOutcome outcome = job.Read(recorder, 1000, &data);

    QCOMPARE(int(outcome.status), int(JobOutcome::Done));
    QCOMPARE(data, bench.sim.Flash().Read(AppStart + 2048, 1000));
    QCOMPARE(recorder.starts, QStringList({QStringLiteral("3:1000")}));
    QCOMPARE(recorder.lastProgress.last(), 1000);
    QCOMPARE(bench.sim.FramesReceived(), 16);
}

void TestProgrammingJob::range_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<quint32>("end");
    QTest::addColumn<quint32>("pageSize");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<RangeCheck>("check");
    QTest::addColumn<quint32>("pages");

    QTest::newRow("exactly end - start") << AppStart << 0x0800FFFFu << 1024u << 0xCFFFu << RangeCheck::Fits << 52u;
    QTest::newRow("one byte more") << AppStart << 0x0800FFFFu << 1024u << 0xD000u << RangeCheck::TooLarge << 52u;
    QTest::newRow("two whole pages") << 0x08000000u << 0x08020000u << 2048u << 4096u << RangeCheck::Fits << 2u;
    QTest::newRow("one byte into a third") << 0x08000000u << 0x08020000u << 2048u << 4097u << RangeCheck::Fits << 3u;
    QTest::newRow("empty") << AppStart << 0x0800FFFFu << 1024u << 0u << RangeCheck::Fits << 0u;
    QTest::newRow("start past end") << 0x08010000u << AppStart << 1024u << 1u << RangeCheck::TooLarge << 1u;
    QTest::newRow("start at end, empty") << AppStart << AppStart << 1024u << 0u << RangeCheck::Fits << 0u;
    QTest::newRow("unaligned start") << AppStart + 0x100 << 0x0800FFFFu << 1024u << 100u << RangeCheck::Unaligned << 1u;
    QTest::newRow("unaligned and too large") << AppStart + 0x100 << AppStart + 0x200 << 1024u << 0x101u << RangeCheck::TooLarge << 1u;
    QTest::newRow("zero page size") << AppStart << 0x0800FFFFu << 0u << 100u << RangeCheck::Unaligned << 0u;
    QTest::newRow("whole address space") << 0u << 0xFFFFFFFFu << 1024u << 0xFFFFFFFFu << RangeCheck::Fits << 0x400000u;
}

void TestProgrammingJob::range()
{
    QFETCH(quint32, start);
    QFETCH(quint32, end);
    QFETCH(quint32, pageSize);
    QFETCH(quint32, size);
    QFETCH(RangeCheck, check);
    QFETCH(quint32, pages);

    QCOMPARE(CheckRange(start, end, pageSize, size), check);
    QCOMPARE(PagesFor(size, pageSize), pages);
}

QTEST_GUILESS_MAIN(TestProgrammingJob)
#include "tst_programmingjob.moc"
