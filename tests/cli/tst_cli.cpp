// tamrivo-cli against tamrivo-loader-sim, each a separate process talking
// over a pseudo-terminal, the way a production bench would run them.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int AppOffset = 0x3000;   // the simulated loader's own pages
constexpr int FlashSize = 0x10000;

QString BinDir()
{
    const QByteArray dir = qgetenv("TAMRIVO_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../bin" : QString::fromLocal8Bit(dir);
}

QByteArray Image(int size)
{
    QByteArray bytes(size, '\0');
    quint32 seed = 11;
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char((seed >> 16) & 0xFE);
    }
    return bytes;
}

// The simulated device as its own program. It prints the pseudo-terminal's
// path first, and dumps its flash when told to stop with SIGTERM.
class Simulator
{
public:
    bool Start(const QStringList &arguments, const QString &dump)
    {
        process.start(BinDir() + "/tamrivo-loader-sim", QStringList(arguments) << "--dump" << dump);
        if (!process.waitForStarted(5000))
            return false;
        while (!process.canReadLine() && process.waitForReadyRead(5000)) {
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !path.isEmpty();
    }

    bool Stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(5000) && process.exitCode() == 0;
    }

    ~Simulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    QProcess process;
    QString path;
};

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

// Fills in {port} and {file} and runs the tool to its end.
CliRun RunCli(const QStringList &arguments, const QString &port, const QString &file)
{
    QStringList filled;
    for (QString argument : arguments)
        filled << argument.replace("{port}", port).replace("{file}", file);
    QProcess cli;
    cli.start(BinDir() + "/tamrivo-cli", filled);
    CliRun run;
    if (!cli.waitForFinished(60000))
        return run;
    run.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(cli.readAllStandardError());
    return run;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exitStatus_data();
    void exitStatus();
    void info_data();
    void info();
    void writeReadAndDump();
    void interruptedWrite();

private:
    QTemporaryDir dir;
    QString imagePath;
    QByteArray image;
};

void TestCli::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QFile::exists(BinDir() + "/tamrivo-cli"));
    QVERIFY(QFile::exists(BinDir() + "/tamrivo-loader-sim"));
    image = Image(3000);
    imagePath = dir.filePath("image.bine");
    QVERIFY(WriteFile(imagePath, image));
}

void TestCli::exitStatus_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");   // a part of standard output
    QTest::addColumn<QString>("err");   // a part of standard error; empty: nothing at all

    const QStringList write = {"--port", "{port}", "write", "{file}"};
    const QStringList none;
    QTest::newRow("write")
        << none << write << 0 << "wrote and verified 3000 bytes (3 pages) at 0x8003000"
        << "verify [########################] 3000/3000 bytes";
    QTest::newRow("quiet write")
        << none << (QStringList(write) << "--quiet") << 0 << "3000 bytes" << "";
    QTest::newRow("trace")
        << none << (QStringList(write) << "--quiet" << "--trace") << 0 << "3000 bytes" << "LineCode = ^001F";
    QTest::newRow("worn cell found by verify")
        << QStringList({"--fault", "worn:cmd=0x64:arg=0x12:addr=0x08003280"}) << write << 1 << ""
        << "verify failed at offset 640 (flash address 0x8003280, block of 64 bytes): mismatch";
    QTest::newRow("erase refused")
        << QStringList({"--fault", "status:cmd=0x21:count=-1:addr=0x08003400"}) << write << 1 << ""
        << "erase failed at page 1 (flash address 0x8003400): bad reply";
    QTest::newRow("write unanswered")
        << QStringList({"--fault", "drop:cmd=0x64:arg=0x12:count=-1:addr=0x08003080"}) << write << 1 << ""
        << "write failed at offset 128 (flash address 0x8003080, block of 64 bytes): no reply";
    QTest::newRow("verify against erased flash")
        << none << QStringList({"--port", "{port}", "verify", "{file}"}) << 1 << ""
        << "verify failed at offset 0 (flash address 0x8003000, block of 64 bytes): mismatch";
    QTest::newRow("silent device")
        << QStringList({"--fault", "drop:count=-1"}) << write << 1 << ""
        << "did not report its flash parameters: no reply";
    QTest::newRow("file larger than the range")
        << none << (QStringList(write) << "--end" << "0x8003800") << 2 << ""
        << "3000 bytes, more than the 2048 bytes";
    QTest::newRow("start inside a page")
        << none << (QStringList(write) << "--start" << "0x8003100") << 2 << ""
        << "start 0x8003100 is not a whole number of pages of 1024 bytes";
    QTest::newRow("unreadable file")
        << none << QStringList({"--port", "{port}", "write", "{file}.missing"}) << 2 << "" << "cannot read";
    QTest::newRow("unknown command")
        << none << QStringList({"--port", "{port}", "flash", "{file}"}) << 2 << "" << "unknown command";
    QTest::newRow("port that does not exist")
        << none << QStringList({"--port", "/dev/tamrivo-none", "info"}) << 1 << "" << "cannot open port";
}

void TestCli::exitStatus()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    Simulator sim;
    QVERIFY(sim.Start(simArguments, dir.filePath("dump.bin")));

    const CliRun run = RunCli(arguments, sim.path, imagePath);

    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    if (err.isEmpty())
        QCOMPARE(run.err, QString());
    else
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
    QCOMPARE(run.status, status);
}

void TestCli::info_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("out");

    QTest::newRow("default device") << QStringList()
        << "start 0x8003000\nend 0x800ffff\npage-size 1024\n";
    QTest::newRow("larger flash, 2 KiB pages")
        << QStringList({"--flash-size", "0x20000", "--page-size", "2048", "--loader-size", "0x4000"})
        << "start 0x8004000\nend 0x801ffff\npage-size 2048\n";
}

void TestCli::info()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, out);
    Simulator sim;
    QVERIFY(sim.Start(simArguments, dir.filePath("dump.bin")));

    const CliRun run = RunCli({"--port", "{port}", "--baud", "19200", "info"}, sim.path, QString());

    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, out);
}

void TestCli::writeReadAndDump()
{
    Simulator sim;
    const QString dump = dir.filePath("flash.bin");
    QVERIFY(sim.Start({}, dump));
    const QString backup = dir.filePath("backup.bin");

    QCOMPARE(RunCli({"--port", "{port}", "--quiet", "write", "{file}"}, sim.path, imagePath).status, 0);
    const CliRun read = RunCli({"--port", "{port}", "--quiet", "--length", "3000", "read", "{file}"},
                               sim.path, backup);
    QCOMPARE(read.status, 0);
    QVERIFY(ReadFile(backup) == image);
    QVERIFY(sim.Stop());

    // The whole flash: the loader's pages and everything past the image
    // must still be erased.
    QByteArray expected(FlashSize, '\xFF');
    expected.replace(AppOffset, image.size(), image);
    QVERIFY(ReadFile(dump) == expected);
}

void TestCli::interruptedWrite()
{
    // Paced at 9600 baud the write pass of this image takes several
    // seconds, so SIGINT lands in its middle.
    Simulator sim;
    const QString dump = dir.filePath("interrupted.bin");
    QVERIFY(sim.Start({"--baud", "9600"}, dump));
    QProcess cli;
    cli.start(BinDir() + "/tamrivo-cli", {"--port", sim.path, "write", imagePath});
    QByteArray progress;
    QTRY_VERIFY2_WITH_TIMEOUT((progress += cli.readAllStandardError()).contains("write "),
                              progress.constData(), 10000);
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(10000));

    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    progress += cli.readAllStandardError();
    QVERIFY2(progress.contains("interrupted: write stopped after offset"), progress.constData());
    QVERIFY(sim.Stop());
    // Stopped after the block in flight: the start is written, the end is
    // still erased.
    const QByteArray flash = ReadFile(dump);
    QCOMPARE(flash.mid(AppOffset, 64), image.left(64));
    QCOMPARE(flash.mid(AppOffset + image.size() - 64, 64), QByteArray(64, '\xFF'));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
