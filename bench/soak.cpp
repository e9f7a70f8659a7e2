// tamrivo-soak: runs many seeded jobs through the real programs, the
// simulated loader and tamrivo-cli, and sorts out how each one ended. What
// it looks for is the tool reporting success for flash that does not hold
// the image (or for a backup that does not hold the flash): under faults
// by chance that can hide in a few frames out of thousands, where tests
// with hand-placed faults do not look.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cstdio>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr int BlockLength = 64;         // what the tool writes and reads back at a time
constexpr int BitsPerChar = 10;         // 8N1
constexpr int LinkWaitMs = 5000;
constexpr int StopWaitMs = 10000;
const char ToolPrefix[] = "tamrivo-cli: ";
constexpr int MismatchStatus = 6;       // the tool's exit status when a verify finds a difference

enum class Mode { Write, SkipUnchanged, Verify, Read, Mix };

const std::pair<Mode, QLatin1String> ModeNames[] = {
    {Mode::Write, QLatin1String("write")},
    {Mode::SkipUnchanged, QLatin1String("skip-unchanged")},
    {Mode::Verify, QLatin1String("verify")},
    {Mode::Read, QLatin1String("read")},
    {Mode::Mix, QLatin1String("mix")},
};

QString ModeName(Mode mode)
{
    for (const auto &[known, name] : ModeNames) {
        if (known == mode)
            return name;
    }
    return QString();
}

struct SoakOptions {
    int jobs = 10;
    int baud = 19200;
    int size = 3000;
    int seed = 1;
    int parallel = 2;
    Mode mode = Mode::Write;
    bool zeroHalf = false;          // the image's second half zeros
    bool keep = false;              // leave each job's directory behind
    int hangLimitS = 0;             // 0: from the wire time
    quint32 appOffset = 0x3000;     // application start in the flash dump
    quint32 pageSize = 1024;
    QStringList simArguments;
};

// What the device holds where the image goes when a job starts.
enum class Start { Erased, Image, OneByteDiffers, OnePageDiffers };

// What one job does, drawn from its seed alone, so that --seed S --jobs 1
// repeats it: in the mixed mode any of the others; a write starts from
// erased flash, a read from a random image, a verify from the image or one
// byte off, a write that skips unchanged pages from any of the four.
struct JobPlan {
    Mode mode = Mode::Write;
    Start start = Start::Erased;
    int at = 0;                     // an offset in the image that differs
    char flip = 1;                  // XORed into the bytes that differ
};

// Raw generator output, not a standard distribution, whose results differ
// between library vendors.
JobPlan PlanJob(const SoakOptions &options, quint32 seed)
{
    std::seed_seq sequence{seed, 1u};
    std::mt19937 generator(sequence);
    const quint32 modeDraw = generator();
    const quint32 startDraw = generator();
    JobPlan plan;
    plan.mode = options.mode == Mode::Mix ? Mode(modeDraw % quint32(Mode::Mix)) : options.mode;
    if (plan.mode == Mode::Read)
        plan.start = Start::Image;
    else if (plan.mode == Mode::Verify)
        plan.start = startDraw % 2 ? Start::OneByteDiffers : Start::Image;
    else if (plan.mode == Mode::SkipUnchanged)
        plan.start = Start(startDraw % 4);
    plan.at = int(generator() % quint32(options.size));
    plan.flip = char(1 + generator() % 255);
    return plan;
}

// The offsets [first, end) where the device's bytes differ from the image.
std::pair<int, int> DifferingSpan(const SoakOptions &options, const JobPlan &plan)
{
    if (plan.start == Start::OneByteDiffers)
        return {plan.at, plan.at + 1};
    if (plan.start != Start::OnePageDiffers)
        return {0, 0};
    const quint32 address = options.appOffset + quint32(plan.at);
    const int page = int(address - address % options.pageSize - options.appOffset);
    return {qMax(0, page), qMin(options.size, page + int(options.pageSize))};
}

// The device's bytes where the image goes; empty if erased.
QByteArray StartBytes(const SoakOptions &options, const JobPlan &plan, const QByteArray &image)
{
    if (plan.start == Start::Erased)
        return QByteArray();
    QByteArray bytes = image;
    const auto [first, end] = DifferingSpan(options, plan);
    for (int i = first; i < end; ++i)
        bytes[i] = char(bytes.at(i) ^ plan.flip);
    return bytes;
}

QString PlanText(const SoakOptions &options, const JobPlan &plan)
{
    const auto [first, end] = DifferingSpan(options, plan);
    QString start;
    if (plan.start == Start::Erased)
        start = QStringLiteral("erased");
    else if (first == end)
        start = QStringLiteral("holds the image");
    else
        start = end - first == 1 ? QStringLiteral("differs at %1").arg(first)
                                 : QStringLiteral("differs at %1-%2").arg(first).arg(end - 1);
    return QStringLiteral("%1, %2").arg(ModeName(plan.mode), start);
}

enum class Verdict { Succeeded, FailedCleanly, FalseSuccess, FalseMismatch, Crash, Hang, SetupError, Count };

struct JobReport {
    quint32 seed = 0;
    Mode mode = Mode::Write;
    QString plan;
    Verdict verdict = Verdict::SetupError;
    double seconds = 0.0;           // the tool's run
    int exitStatus = -1;            // -1: hung or killed by a signal
    QString detail;
    QString keptIn;                 // the job's directory, if left behind
};

QString VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Succeeded: return QStringLiteral("succeeded");
    case Verdict::FailedCleanly: return QStringLiteral("failed cleanly");
    case Verdict::FalseSuccess: return QStringLiteral("FALSE SUCCESS");
    case Verdict::FalseMismatch: return QStringLiteral("FALSE MISMATCH");
    case Verdict::Crash: return QStringLiteral("CRASH");
    case Verdict::Hang: return QStringLiteral("HANG");
    default: return QStringLiteral("setup error");
    }
}

// Characters on the line per block, hex doubling every byte between the
// start character and the carriage return: the read-back (request with
// address and length, reply with the data) and, when writing, the write
// request and its bare acknowledgement before it; skipping unchanged pages
// reads them all first.
int CharsPerBlock(Mode mode)
{
    const int readBack = (2 + 2 * (2 + 6 + 2)) + (2 + 2 * (2 + BlockLength + 2));
    const int write = (2 + 2 * (2 + 6 + BlockLength + 2)) + (2 + 2 * (2 + 2));
    switch (mode) {
    case Mode::Write: return write + readBack;
    case Mode::SkipUnchanged:
    case Mode::Mix: return write + 2 * readBack;
    default: return readBack;
    }
}

int HangLimitMs(const SoakOptions &options, Mode mode)
{
    if (options.hangLimitS > 0)
        return options.hangLimitS * 1000;
    const int blocks = (options.size + BlockLength - 1) / BlockLength;
    const double wireS = double(blocks) * CharsPerBlock(mode) * BitsPerChar / options.baud;
    return int((10 * wireS + 30) * 1000);
}

QString ProgramPath(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

// With the second half zeros, many blocks read back alike, so a reply
// taken for the wrong request can hold the very bytes expected.
QByteArray RandomImage(quint32 seed, int size, bool zeroHalf)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, '\0');
    const int randomBytes = zeroHalf ? size - size / 2 : size;
    for (int i = 0; i < randomBytes; ++i)
        bytes[i] = char(generator());
    return bytes;
}

bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString LastLine(const QString &path)
{
    return QString::fromLocal8Bit(ReadFile(path).trimmed().split('\n').last()).trimmed();
}

// -1 if equal; a shorter one differs where it ends.
int FirstDifference(const QByteArray &a, const QByteArray &b)
{
    const int common = qMin(a.size(), b.size());
    for (int i = 0; i < common; ++i) {
        if (a.at(i) != b.at(i))
            return i;
    }
    return a.size() == b.size() ? -1 : common;
}

// One job in a directory of its own: a simulator on its own link, the
// tool against it, then the flash the simulator saves when stopped.
class Job
{
public:
    Job(const SoakOptions &options, quint32 seed)
        : options(options), seed(seed), plan(PlanJob(options, seed)),
          image(RandomImage(seed, options.size, options.zeroHalf)), startBytes(StartBytes(options, plan, image)) {}

    JobReport Run();

private:
    QString Path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    bool StartSimulator(QString *error);
    bool StopSimulator(QString *error);
    void RunTool(JobReport *report);
    void Classify(bool finished, JobReport *report);
    void Judge(JobReport *report) const;

    const SoakOptions &options;
    const quint32 seed;
    const JobPlan plan;
    const QByteArray image;
    const QByteArray startBytes;
    QTemporaryDir dir;
    QProcess simulator;
    QProcess tool;
};

JobReport Job::Run()
{
    JobReport report;
    report.seed = seed;
    report.mode = plan.mode;
    report.plan = PlanText(options, plan);
    QString error;
    if (!dir.isValid()) {
        report.detail = QStringLiteral("no temporary directory");
        return report;
    }
    if (options.keep) {
        dir.setAutoRemove(false);
        report.keptIn = dir.path();
    }
    if (!StartSimulator(&error)) {
        report.detail = error;
        return report;
    }
    RunTool(&report);
    if (!StopSimulator(&error)) {
        report.verdict = Verdict::SetupError;
        report.detail = error;
    } else if (report.exitStatus == 0 || (plan.mode == Mode::Verify && report.exitStatus == MismatchStatus)) {
        Judge(&report);
    }
    return report;
}

// A read job starts from a flash holding random bytes at the application
// start, so that a backup shifted by a block shows.
bool Job::StartSimulator(QString *error)
{
    QStringList arguments = {
        QStringLiteral("--link"), Path("line"), QStringLiteral("--baud"), QString::number(options.baud),
        QStringLiteral("--seed"), QString::number(seed), QStringLiteral("--dump"), Path("flash.bin"),
    };
    const bool preload = !startBytes.isEmpty();
    if (preload)
        arguments << QStringLiteral("--image") << Path("preload.bin");
    if (preload && !WriteFile(Path("preload.bin"), QByteArray(int(options.appOffset), '\0') + startBytes)) {
        *error = QStringLiteral("cannot write the flash image");
        return false;
    }
    simulator.setStandardOutputFile(QProcess::nullDevice());
    simulator.setStandardErrorFile(Path("sim.log"));
    simulator.start(ProgramPath("tamrivo-loader-sim"), arguments + options.simArguments);
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo(Path("line")).isSymLink()) {
        const bool ended = simulator.waitForFinished(20) || simulator.state() == QProcess::NotRunning;
        if (ended || waited.elapsed() > LinkWaitMs) {
            *error = QStringLiteral("simulator made no link: %1").arg(LastLine(Path("sim.log")));
            simulator.kill();
            simulator.waitForFinished(StopWaitMs);
            return false;
        }
    }
    return true;
}

// The simulator saves its flash on SIGTERM; it may have ended on its own
// already, when a fault closed the line.
bool Job::StopSimulator(QString *error)
{
    if (simulator.state() != QProcess::NotRunning) {
        simulator.terminate();
        if (!simulator.waitForFinished(StopWaitMs)) {
            simulator.kill();
            simulator.waitForFinished(StopWaitMs);
            *error = QStringLiteral("simulator did not stop on SIGTERM");
            return false;
        }
    }
    if (simulator.exitStatus() != QProcess::NormalExit || simulator.exitCode() != 0) {
        *error = QStringLiteral("simulator failed: %1").arg(LastLine(Path("sim.log")));
        return false;
    }
    return true;
}

void Job::RunTool(JobReport *report)
{
    QStringList arguments = {
        QStringLiteral("--port"), Path("line"), QStringLiteral("--baud"), QString::number(options.baud),
        QStringLiteral("--quiet"),
    };
    if (plan.mode == Mode::Read) {
        arguments << QStringLiteral("--length") << QString::number(options.size)
                  << QStringLiteral("read") << Path("out.bin");
    } else if (!WriteFile(Path("image.bin"), image)) {
        report->detail = QStringLiteral("cannot write the image");
        return;
    } else if (plan.mode == Mode::Verify) {
        arguments << QStringLiteral("verify") << Path("image.bin");
    } else {
        if (plan.mode == Mode::SkipUnchanged)
            arguments << QStringLiteral("--skip-unchanged");
        arguments << QStringLiteral("write") << Path("image.bin");
    }
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(Path("cli.log"));
    QElapsedTimer clock;
    clock.start();
    tool.start(ProgramPath("tamrivo-cli"), arguments);
    if (!tool.waitForStarted()) {
        report->detail = QStringLiteral("cannot start tamrivo-cli: %1").arg(tool.errorString());
        return;
    }
    const bool finished = tool.waitForFinished(HangLimitMs(options, plan.mode));
    report->seconds = clock.elapsed() / 1000.0;
    Classify(finished, report);
}

// A clean failure is exit status 1 with the tool's own message last; an
// exit status it does not document counts with the crashes.
void Job::Classify(bool finished, JobReport *report)
{
    const QString said = LastLine(Path("cli.log"));
    if (!finished) {
        tool.kill();
        tool.waitForFinished(StopWaitMs);
        report->verdict = Verdict::Hang;
        report->detail = said;
        return;
    }
    if (tool.exitStatus() == QProcess::CrashExit) {
        report->verdict = Verdict::Crash;
        report->detail = QStringLiteral("killed by a signal: %1").arg(said);
        return;
    }
    const int status = tool.exitCode();
    report->exitStatus = status;
    if (status == 0) {
        report->verdict = Verdict::Succeeded;
    } else if (status >= 1 && status <= 7 && status != 2 && said.startsWith(QLatin1String(ToolPrefix))) {
        // The classes of a device that failed (port, no answer, refused,
        // mismatch, incomplete); 2 (usage) and 8 (store) never come of a fault.
        report->verdict = Verdict::FailedCleanly;
        report->detail = said;
    } else {
        report->verdict = Verdict::Crash;
        report->detail = QStringLiteral("exit status %1: %2").arg(status).arg(said);
    }
}

// A success stands only if the flash holds the image (write, verify) or
// the backup holds the flash (read); a verify's mismatch only if the flash
// differs from the image.
void Job::Judge(JobReport *report) const
{
    const QByteArray flash = ReadFile(Path("flash.bin")).mid(int(options.appOffset), options.size);
    if (flash.size() != options.size) {
        report->verdict = Verdict::SetupError;
        report->detail = QStringLiteral("flash dump missing or short");
        return;
    }
    if (plan.mode == Mode::Read) {
        const int at = FirstDifference(ReadFile(Path("out.bin")), flash);
        if (at >= 0) {
            report->verdict = Verdict::FalseSuccess;
            report->detail = QStringLiteral("backup differs from the flash at offset %1").arg(at);
        }
        return;
    }
    const int at = FirstDifference(flash, image);
    if (report->exitStatus == 0 && at >= 0) {
        report->verdict = Verdict::FalseSuccess;
        report->detail = QStringLiteral("flash differs from the image at offset %1").arg(at);
    } else if (report->exitStatus == MismatchStatus && at < 0) {
        report->verdict = Verdict::FalseMismatch;
        report->detail = QStringLiteral("flash holds the image: %1").arg(report->detail);
    } else if (report->exitStatus == MismatchStatus) {
        report->verdict = Verdict::Succeeded;
    }
}

void PrintJob(const JobReport &report)
{
    const QString line = QStringLiteral("seed %1  %2 %3 %4 s  %5")
                             .arg(report.seed, -6)
                             .arg(report.plan, -38)
                             .arg(VerdictName(report.verdict), -14)
                             .arg(report.seconds, 7, 'f', 2)
                             .arg(report.detail);
    const QString kept = report.keptIn.isEmpty() ? QString() : QStringLiteral("  [%1]").arg(report.keptIn);
    std::printf("%s%s\n", qPrintable(line.trimmed()), qPrintable(kept));
    std::fflush(stdout);
}

// What a set of jobs came to.
struct Tally {
    int jobs = 0;
    int verdicts[int(Verdict::Count)] = {};
    std::map<int, int> exits;       // by exit status, -1 for none
    double seconds = 0.0;

    void Add(const JobReport &report)
    {
        ++jobs;
        ++verdicts[int(report.verdict)];
        ++exits[report.exitStatus];
        seconds += report.seconds;
    }
    int Of(Verdict verdict) const { return verdicts[int(verdict)]; }
    QString Text() const;
};

QString Tally::Text() const
{
    QStringList byStatus;
    for (const auto &[status, count] : exits)
        byStatus << QStringLiteral("%1: %2").arg(status < 0 ? QStringLiteral("none") : QString::number(status)).arg(count);
    return QStringLiteral("jobs %1, succeeded %2, failed cleanly %3, false successes %4, false mismatches %5, "
                          "crashes %6, hangs %7, setup errors %8; mean job time %9 s; exit statuses %10")
        .arg(jobs)
        .arg(Of(Verdict::Succeeded))
        .arg(Of(Verdict::FailedCleanly))
        .arg(Of(Verdict::FalseSuccess))
        .arg(Of(Verdict::FalseMismatch))
        .arg(Of(Verdict::Crash))
        .arg(Of(Verdict::Hang))
        .arg(Of(Verdict::SetupError))
        .arg(jobs > 0 ? seconds / jobs : 0.0, 0, 'f', 2)
        .arg(byStatus.join(QStringLiteral(", ")));
}

// Prints the tally of all jobs, then of each mode if they were mixed.
// Returns the exit status: 1 if any job shows a fault of the tool or the
// soak could not judge it.
int Summarize(const std::vector<JobReport> &reports)
{
    Tally all;
    std::map<Mode, Tally> byMode;
    for (const JobReport &report : reports) {
        all.Add(report);
        byMode[report.mode].Add(report);
    }
    std::printf("\n%s\n", qPrintable(all.Text()));
    if (byMode.size() > 1) {
        for (const auto &[mode, tally] : byMode)
            std::printf("  %s: %s\n", qPrintable(ModeName(mode)), qPrintable(tally.Text()));
    }
    return all.Of(Verdict::Succeeded) + all.Of(Verdict::FailedCleanly) < all.jobs ? 1 : 0;
}

// A number option of the simulator, such as --loader-size, in either of
// its spellings.
quint32 SimNumber(const QStringList &simArguments, const QString &name, quint32 fallback)
{
    quint32 number = fallback;
    for (int i = 0; i < simArguments.size(); ++i) {
        const QString &argument = simArguments.at(i);
        QString value;
        if (argument == name && i + 1 < simArguments.size())
            value = simArguments.at(i + 1);
        else if (argument.startsWith(name + QLatin1Char('=')))
            value = argument.mid(name.size() + 1);
        bool ok = false;
        const quint32 parsed = value.toUInt(&ok, 0);
        if (ok)
            number = parsed;
    }
    return number;
}

bool TakeNumber(const QCommandLineParser &parser, const char *name, int minimum, int *target, QString *error)
{
    const QString key = QLatin1String(name);
    if (!parser.isSet(key))
        return true;
    bool ok = false;
    const int value = parser.value(key).toInt(&ok);
    if (!ok || value < minimum) {
        *error = QStringLiteral("--%1: bad number '%2'").arg(key, parser.value(key));
        return false;
    }
    *target = value;
    return true;
}

void AddOptions(QCommandLineParser *parser)
{
    parser->setApplicationDescription(QStringLiteral(
        "Runs seeded jobs of tamrivo-cli against tamrivo-loader-sim, each with its own simulator, "
        "and checks the flash each leaves. Arguments after -- go to every simulator, e.g. "
        "-- --fault late:p=0.05 --late-delay 300. A job is repeated with --seed S --jobs 1 and the "
        "same simulator arguments; with --keep and the simulator's --verbose, its log stays in the job's "
        "sim.log. Exit status 1 if any job ended in a false success, a false mismatch (a verify finding "
        "a difference where there is none), a crash, a hang or a setup error."));
    parser->addHelpOption();
    parser->addOptions({
        {QStringLiteral("jobs"), QStringLiteral("Jobs to run (default 10)."), QStringLiteral("n")},
        {QStringLiteral("baud"), QStringLiteral("Line rate of simulator and tool (default 19200)."), QStringLiteral("rate")},
        {QStringLiteral("size"), QStringLiteral("Image bytes per job (default 3000)."), QStringLiteral("bytes")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the first job, the next ones counting up (default 1)."), QStringLiteral("n")},
        {QStringLiteral("parallel"), QStringLiteral("Jobs run at once (default 2)."), QStringLiteral("k")},
        {QStringLiteral("mode"), QStringLiteral("write: flash a random image to erased flash; skip-unchanged: the same "
                                                "with --skip-unchanged, the device erased or holding the image, or it "
                                                "with one byte or one page off; verify: the device holding the image or "
                                                "it with one byte off (exit status 6 expected); read: back up a random "
                                                "flash; mix: each job one of these, drawn from its seed (default write)."),
         QStringLiteral("mode")},
        {QStringLiteral("zero-half"), QStringLiteral("Zeros in the second half of every image.")},
        {QStringLiteral("keep"), QStringLiteral("Leave each job's directory (image, flash dump, the tool's and the "
                                                "simulator's logs) behind and name it after the job's line.")},
        {QStringLiteral("hang-limit"), QStringLiteral("Seconds the tool may take before it counts as hung "
                                                      "(default: ten times the wire time plus 30)."), QStringLiteral("s")},
    });
}

bool ParseOptions(const QStringList &arguments, SoakOptions *options, QString *error)
{
    const int split = arguments.indexOf(QStringLiteral("--"));
    if (split >= 0)
        options->simArguments = arguments.mid(split + 1);
    QCommandLineParser parser;
    AddOptions(&parser);
    const QStringList own = split >= 0 ? QStringList(arguments.mid(0, split)) : arguments;
    if (!parser.parse(own)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(QStringLiteral("mode"))) {
        const QString mode = parser.value(QStringLiteral("mode"));
        QStringList names;
        for (const auto &[known, name] : ModeNames) {
            names << name;
            if (mode == name)
                options->mode = known;
        }
        if (!names.contains(mode)) {
            *error = QStringLiteral("--mode: '%1' is none of %2").arg(mode, names.join(QStringLiteral(", ")));
            return false;
        }
    }
    options->zeroHalf = parser.isSet(QStringLiteral("zero-half"));
    options->keep = parser.isSet(QStringLiteral("keep"));
    options->appOffset = SimNumber(options->simArguments, QStringLiteral("--loader-size"), options->appOffset);
    options->pageSize = SimNumber(options->simArguments, QStringLiteral("--page-size"), options->pageSize);
    if (options->pageSize == 0) {
        *error = QStringLiteral("the simulator's --page-size is 0");
        return false;
    }
    return TakeNumber(parser, "jobs", 1, &options->jobs, error)
        && TakeNumber(parser, "baud", 1, &options->baud, error)
        && TakeNumber(parser, "size", 1, &options->size, error)
        && TakeNumber(parser, "seed", 0, &options->seed, error)
        && TakeNumber(parser, "parallel", 1, &options->parallel, error)
        && TakeNumber(parser, "hang-limit", 1, &options->hangLimitS, error);
}

int Fail(const QString &message)
{
    std::fprintf(stderr, "tamrivo-soak: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SoakOptions options;
    QString error;
    if (!ParseOptions(app.arguments(), &options, &error))
        return Fail(error);
    for (const char *name : {"tamrivo-loader-sim", "tamrivo-cli"}) {
        if (!QFileInfo(ProgramPath(name)).isExecutable())
            return Fail(QStringLiteral("%1 not found next to this program").arg(ProgramPath(name)));
    }
    std::printf("%d %s jobs of %d bytes%s at %d baud, %d at once, hang limit %d s, simulator: %s\n",
                options.jobs, qPrintable(ModeName(options.mode)), options.size,
                options.zeroHalf ? " (second half zeros)" : "", options.baud,
                options.parallel, HangLimitMs(options, options.mode) / 1000,
                options.simArguments.isEmpty() ? "no extra arguments" : qPrintable(options.simArguments.join(' ')));
    std::fflush(stdout);

    // Each job runs its processes to the end with blocking waits, on a
    // pool thread of its own.
    std::vector<JobReport> reports(size_t(options.jobs));
    QThreadPool pool;
    pool.setMaxThreadCount(options.parallel);
    for (int i = 0; i < options.jobs; ++i) {
        pool.start([&options, &reports, i] {
            Job job(options, quint32(options.seed) + quint32(i));
            reports[size_t(i)] = job.Run();
            PrintJob(reports[size_t(i)]);
        });
    }
    pool.waitForDone();
    return Summarize(reports);
}
