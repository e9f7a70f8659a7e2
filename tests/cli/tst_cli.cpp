// tamrivo-cli against tamrivo-loader-sim, each a separate process talking
// over a pseudo-terminal, the way a production bench would run them.

#include "devicelink.h"
#include "messages.h"
#include "progress.h"
#include "recordstore.h"
#include "report.h"
#include "serialnumber.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <QtEndian>

#include <csignal>

#include <unistd.h>

#include <zlib.h>

namespace {

constexpr int AppOffset = 0x3000;   // the simulated loader's own pages

QString Bin(const QString &name)
{
    const QString dir = qEnvironmentVariable("TAMRIVO_BIN_DIR", QCoreApplication::applicationDirPath() + "/../bin");
    return dir + '/' + name;
}

quint32 Crc32(const QByteArray &bytes)
{
    return quint32(crc32(0L, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

QString Crc32Hex(const QByteArray &bytes)
{
    return QString::number(Crc32(bytes), 16).rightJustified(8, '0');
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts the simulated device as its own program and returns the path of
// its pseudo-terminal. It dumps its flash when stopped with SIGTERM.
QString StartSim(QProcess &sim, QStringList arguments, const QString &dump)
{
    sim.start(Bin("tamrivo-loader-sim"), arguments << "--dump" << dump);
    while (sim.waitForStarted(5000) && !sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

bool StopSim(QProcess &sim)
{
    ::kill(pid_t(sim.processId()), SIGTERM);
    return sim.waitForFinished(5000) && sim.exitCode() == 0;
}

struct CliRun { int status = -1; QString out, err; };

// program: another way to start the tool, and its arguments before the tool's.
CliRun RunCli(QStringList arguments, const QString &port, const QString &file, const QString &dir = QString(),
              QStringList program = {})
{
    QProcess cli;
    const QString tool = program.isEmpty() ? Bin("tamrivo-cli") : program.takeFirst();
    cli.start(tool, program + arguments.replaceInStrings("{port}", port).replaceInStrings("{file}", file)
                                  .replaceInStrings("{dir}", dir));
    CliRun run;
    if (cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit)
        run.status = cli.exitCode();
    run.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(cli.readAllStandardError());
    return run;
}

// The number at the serial number's place (0x08003400) in a dump, its check left aside.
qint64 FlashNumber(const QByteArray &flash, const QString &format)
{
    const QByteArray bytes = flash.mid(0x3400, format.startsWith("dec") ? 8 : 4);
    return format.startsWith("dec") ? bytes.toLongLong() : format.startsWith("le32") ? qint64(qFromLittleEndian<quint32>(bytes.constData()))
                                                                                   : qint64(qFromBigEndian<quint32>(bytes.constData()));
}

// The store of a serial row: a SQLite file in dir, or the test cluster's PostgreSQL; empty when there is none.
QString Store(const QString &kind, const QString &file)
{
    const QString cluster = qEnvironmentVariable("TAMRIVO_TEST_PG");
    if (kind == "sqlite")
        return "sqlite:" + file;
    return cluster.isEmpty() ? QString() : "postgresql://tamrivo@127.0.0.1:" + ReadFile(cluster + "/port").trimmed() + "/postgres";
}

// out: a pattern for all of standard output; err: a part of standard error, or empty for none at all.
// {dir} stands for the test's directory, where several simulated boards keep their links a, b and c.
struct ExitRow { QStringList simArguments, arguments; int status; QString out, err; };

const QStringList Boards = {"--link", "{dir}/a", "--link", "{dir}/b", "--link", "{dir}/c"};

// pgcluster.sh's actions on the throwaway PostgreSQL server.
bool Pg(const QString &action)
{
    return QProcess::execute("sh", {PGCLUSTER, action, qEnvironmentVariable("TAMRIVO_TEST_PG")}) == 0;
}

const QStringList OnBoards = {"--port", "{dir}/a", "--port", "{dir}/b", "--port", "{dir}/c", "--quiet", "write", "{file}"};

// The table after a write to boards a, b and c: a pattern for each one's failure, empty for success.
QString Table(const QStringList &failures)
{
    QString table = R"(port +result +bytes +time +details\n)";
    for (int i = 0; i < failures.size(); ++i)
        table += QStringLiteral(R"({dir}/%1 +%2 +3000 +[\d.]+ s%3\n)").arg(QChar('a' + i))
                     .arg(failures.at(i).isEmpty() ? "ok" : "failed", failures.at(i).isEmpty() ? "" : "  " + failures.at(i));
    return table;
}

// A connection to a store past the tool; a lock it takes is held until it goes.
struct Direct
{
    QSqlDatabase db;
    explicit Direct(const QString &address)
    {
        const StoreAddress a = ParseStoreAddress(address).value;
        db = QSqlDatabase::addDatabase(a.file.isEmpty() ? "QPSQL" : "QSQLITE", QUuid::createUuid().toString());
        db.setDatabaseName(a.file + a.database);
        db.setHostName(a.host);
        db.setPort(a.port);
        db.setUserName(a.user);
    }
    ~Direct() { const QString name = db.connectionName(); db = QSqlDatabase(); QSqlDatabase::removeDatabase(name); }
    QString Run(const QStringList &statements)
    {
        QString error = db.open() ? QString() : db.lastError().text();
        QSqlQuery query(db);
        for (const QString &statement : statements)
            error += query.exec(statement) ? QString() : query.lastError().text();
        return error;
    }
};

// Pool p, made 1 to 9: 1 committed, 2 held at station A, 3 in doubt at station B, 4 held and settled void by
// hand; pool full, made 1 to 1, used up. Every job ended ok.
QString Seed(const QString &db)
{
    RecordStore store;
    QString error = store.Open(ParseStoreAddress(db).value).error;
    for (const char *station : {"A", "A", "B", "A"})
        error += store.Reserve("p", PoolRange(1, 9), station, "tty", QUuid::createUuid().toString()).error;
    error += store.Reserve("full", PoolRange(1, 1), "A", "tty", QUuid::createUuid().toString()).error;
    for (const auto &[pool, serial, state] : {std::tuple("p", 1, SerialState::Committed), std::tuple("p", 2, SerialState::Held),
                                              std::tuple("p", 4, SerialState::Held), std::tuple("full", 1, SerialState::Committed)}) {
        JobRecord job;
        std::tie(job.station, job.pool, job.serial, job.resultClass) = std::tuple("A", pool, serial, "ok");
        error += store.Finish(job, state).error;
    }
    return error + store.Settle({{}, "p", 4, {}, SerialState::Void, "sup", "lost, with a comma", "A"}).error;
}

// A command, against a store Seed filled when it names {db}. setup: "missing" (no store: run twice, as a store
// the first run made would answer the second; "missing file": SQLite only), "readonly" (file and folder
// read-only, run as nobody under root, who ignores modes; PostgreSQL: the database), "locked" (another session
// holds a writer's lock), "busy" (another job has the device open by its other name), "cut" (PostgreSQL ends
// the session after 300 ms idle). {port}, {link}: a simulated board's pseudo-terminal and a link to it. out: a
// pattern for standard output; err: text standard error holds (empty: none), and nothing but the tool's lines.
struct StoreRow { QString setup; QStringList arguments; int status; QString out, err = {}; };

} // namespace

Q_DECLARE_METATYPE(ExitRow)
Q_DECLARE_METATYPE(StoreRow)
Q_DECLARE_METATYPE(JobOutcome)

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QTemporaryDir stores;       // that anyone may enter, as the tool run as nobody does
    QString imagePath;
    QByteArray image = QByteArray(3000, '\0');

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(QFile::setPermissions(stores.path(), QFile::Permissions(0x7755)));
        QVERIFY(QFile::exists(Bin("tamrivo-cli")) && QFile::exists(Bin("tamrivo-loader-sim")));
        quint32 seed = 11;
        for (char &byte : image)
            byte = char(((seed = seed * 1103515245u + 12345u) >> 16) & 0xFE);
        imagePath = dir.filePath("image.bin");
        QFile file(imagePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        // The serial numbers' image leaves their place at 0x08003400 erased.
        QFile serialFile(imagePath + ".serial");
        const QByteArray serialImage = QByteArray(image).replace(0x400, 16, QByteArray(16, '\xFF'));
        QVERIFY(serialFile.open(QIODevice::WriteOnly) && serialFile.write(serialImage) == serialImage.size());
        QVERIFY(QFile(imagePath + ".empty").open(QIODevice::WriteOnly));
        const QByteArray top(":0400000001020304F2\n:02000004FFFFFC\n:01FFFF0005FC\n:00000001FF\n");
        QFile topFile(imagePath + ".top.hex");
        QVERIFY(topFile.open(QIODevice::WriteOnly) && topFile.write(top) == top.size());
        QByteArray hex = ReadFile(IMAGE_DATA_DIR "/app.hex");
        hex[hex.indexOf('\n') + 12] = hex[hex.indexOf('\n') + 12] == '0' ? '1' : '0';   // a data digit on line 2
        QFile bad(dir.filePath("bad.hex"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(hex) == hex.size());
    }

    void exitStatus_data()
    {
        const QStringList write = {"--port", "{port}", "write", "{file}"}, noPort = {"--port", "/dev/tamrivo-none"};
        QTest::addColumn<ExitRow>("row");
        QTest::newRow("write") << ExitRow{{}, write, 0, R"(wrote and verified 3000 bytes \(3 pages\) at 0x8003000 in [\d.]+ s, first block last; )"
                                          R"(raw, 1 segment, 3000 bytes written, 0 blank blocks skipped; crc32 {crc}, sha256 {sha}\n)",
                                          "verify [########################] 3000/3000 bytes"};
        QTest::newRow("info") << ExitRow{{"--flash-size", "0x20000", "--page-size", "2048", "--loader-size", "0x4000"},
            {"--port", "{port}", "--baud", "19200", "info"}, 0, "start 0x8004000\nend 0x801ffff\npage-size 2048\n", ""};
        QTest::newRow("verify against erased flash") << ExitRow{{}, {"--port", "{port}", "verify", "{file}"}, 6, "",
            "verify failed at offset 0 (flash address 0x8003000, block of 64 bytes): mismatch (64 bytes read back)"};
        QTest::newRow("erase refused") << ExitRow{{"--fault", "status:cmd=0x21:count=-1:addr=0x08003400"}, write, 5, "",
                                                  "erase failed at page 1 (flash address 0x8003400): refused"};
        QTest::newRow("flash parameters refused") << ExitRow{{"--fault", "status:cmd=0xa3:count=-1"}, {"--port", "{port}",
            "info"}, 5, "", "did not report its flash parameters: refused"};
        QTest::newRow("silent device")
            << ExitRow{{"--fault", "drop:count=-1"}, write, 4, "", "did not report its flash parameters: no reply"};
        QTest::newRow("no such port") << ExitRow{{}, {"--port", "/dev/tamrivo-none", "info"}, 3, "", "cannot open port"};
        QTest::newRow("store out of reach") << ExitRow{{}, QStringList(noPort) << "--db" << "postgresql://alice@127.0.0.1:1/records"
            << "info", 8, "", "the record store failed: cannot open postgresql://127.0.0.1:1/records: "};
        QTest::newRow("password in the store address") << ExitRow{{}, QStringList(noPort) << "--db"
            << "postgresql://alice:s3cret/s3cret@127.0.0.1/records" << "info", 2, "", "holds a password"};
        QTest::newRow("log out of reach") << ExitRow{{}, QStringList(noPort) << "--log" << "/dev/null/audit.log" << "write"
            << "{file}", 8, "", "cannot open /dev/null/audit.log"};
        // Opened, but no line can be written: the board's record says the log failed, never "ok".
        QTest::newRow("log line lost") << ExitRow{{}, {"--port", "{port}", "--quiet", "--json", "--log", "/dev/full", "write",
            "{file}"}, 8, R"(\{.*"class":"store",.*"pass":"log",.*"status":"failed".*\}\n)", "the job succeeded, but the log failed"};
        // Geometry given, so that nothing at all needs asking: a silent device shows no frame was needed.
        QTest::newRow("serial number outside the image's pages") << ExitRow{{"--fault", "drop:count=-1"}, {"--port", "{port}",
            "--start", "0x8003000", "--end", "0x800ffff", "--page-size", "1024", "--serial-at", "0x8003c00", "--db",
            "sqlite:{dir}/outside.sqlite", "write", "{file}"}, 2, "", "--serial-at 0x8003c00: the serial number's 4 bytes must lie in pages"};
        // Bytes of the image where the number goes: the board would carry them as its number.
        QTest::newRow("image bytes at the serial's place, HEX") << ExitRow{{}, QStringList(noPort) << "--serial-at"
            << "0x8003000" << "--db" << "sqlite:{dir}/placed.sqlite" << "write" << IMAGE_DATA_DIR "/app.hex", 2, "",
            "--serial-at 0x08003000: " IMAGE_DATA_DIR "/app.hex holds "};
        QTest::newRow("image bytes at the serial's place, raw from the device's start") << ExitRow{{}, {"--port", "{port}",
            "--serial-at", "0x8003402", "--serial-format", "dec2c", "--json", "--db", "sqlite:{dir}/placed.sqlite", "write",
            "{file}"}, 2, R"(\{.*"class":"usage",.*"pass":"image",(?!.*"serial").*\}\n)", "holds " + image.mid(0x402, 3).toHex(' ') + " there"};
        QTest::newRow("file larger than the range")
            << ExitRow{{}, QStringList(write) << "--end" << "0x8003800", 2, "", "3000 bytes, more than the 2049 bytes"};
        // Start 0 to 0xffff and a byte at 0xffffffff: the span from the start must not wrap to a fit.
        QTest::newRow("data at 0xffffffff") << ExitRow{{}, {"--port", "{port}", "--start", "0", "--end", "0xffff",
            "--page-size", "1024", "write", "{file}.top.hex"}, 2, "", "has data up to 0xffffffff, past the range"};
        QTest::newRow("odd start") << ExitRow{{}, QStringList(noPort) << "--start" << "0x8003001" << "verify" << "{file}",
                                              2, "", "--start 0x8003001 is odd"};
        QTest::newRow("port lost") << ExitRow{{"--fault", "vanish:cmd=0x64:arg=0x12:frame=3"}, write, 4, "",
            "write failed at offset 192 (flash address 0x80030c0, block of 64 bytes): port lost ({port}); "
            "the application's first block is erased: it will not start until a write completes"};
        QTest::newRow("in order") << ExitRow{{}, QStringList(write) << "--in-order", 0,
                                             R"(wrote and verified 3000 bytes .* s, in order; .*\n)", "3000/3000 bytes"};
        QTest::newRow("block too long for the loader") << ExitRow{{"--max-frame", "300"}, QStringList(write) << "--block-size"
            << "248", 4, "", "(flash address 0x80030f8, block of 248 bytes): no reply; the device did not take a 248-byte "
            "block: try a smaller --block-size; the application's first block is erased"};
        QTest::newRow("malformed HEX") << ExitRow{{}, QStringList(noPort) << "write" << dir.filePath("bad.hex"), 2, "",
                                                  "bad.hex line 2: checksum"};
        QTest::newRow("ELF below the start") << ExitRow{{}, {"--port", "{port}", "write", IMAGE_DATA_DIR "/tiny.elf"}, 2,
                                                        "", "tiny.elf has data at 0x8000000, below the start address 0x8003000"};
        QTest::newRow("odd block size") << ExitRow{{}, QStringList(noPort) << "--block-size" << "131" << "read" << "{file}.r",
                                                   2, "", "--block-size must be an even number from 64 to 248"};
        // Refused before the port is opened: noPort would fail with status 1.
        QTest::newRow("empty image") << ExitRow{{}, QStringList(noPort) << "write" << "{file}.empty", 2, "", "is empty"};
        QTest::newRow("read of 0 bytes")
            << ExitRow{{}, QStringList(noPort) << "--length" << "0" << "read" << "{file}.r", 2, "", "reads nothing"};
        QTest::newRow("read past 0xffffffff") << ExitRow{{}, QStringList(noPort) << "--start" << "0xffffff00"
            << "--length" << "0x101" << "read" << "{file}.r", 2, "", "257 bytes from start 0xffffff00 run past"};
        QTest::newRow("read of all 4 GiB") << ExitRow{{}, QStringList(noPort) << "--start" << "0" << "--end"
            << "0xffffffff" << "read" << "{file}.r", 2, "", "4294967296 bytes is more than"};
        QTest::newRow("read from beyond the end") << ExitRow{{}, {"--port", "{port}", "--end", "0x8002fff", "read",
            "{file}.r"}, 2, "", "start 0x8003000 is beyond end 0x8002fff"};
        QTest::newRow("unreadable file") << ExitRow{{}, {"--port", "{port}", "write", "{file}.x"}, 2, "", "cannot read"};
        QTest::newRow("unknown command") << ExitRow{{}, {"--port", "{port}", "flash", "{file}"}, 2, "", "unknown command"};
        QTest::newRow("one port named twice") << ExitRow{{}, {"--port", "tamrivo-none", "--port", "/dev/tamrivo-none", "info"},
                                                         2, "", "--port tamrivo-none and --port /dev/tamrivo-none are one device"};
        QTest::newRow("read from two ports") << ExitRow{{}, QStringList(noPort) << "--port" << "{port}" << "read" << "{file}.r",
                                                        2, "", "read takes one --port"};
        QTest::newRow("three boards") << ExitRow{Boards, OnBoards, 0, Table({"", "", ""}), ""};
        QTest::newRow("a board vanishing mid-job")
            << ExitRow{QStringList(Boards) << "--fault" << "vanish:cmd=0x64:arg=0x12:frame=3:link=2", OnBoards, 1,
                       Table({"", R"(write failed at offset 192 .*: port lost \({dir}/b\); .*)", ""}),
                       "tamrivo-cli: {dir}/b: write failed at offset 192"};
    }

    void exitStatus()
    {
        QFETCH(ExitRow, row);
        QProcess sim;
        const QString port = StartSim(sim, row.simArguments.replaceInStrings("{dir}", dir.path()), dir.filePath("dump.bin"));
        QVERIFY(!port.isEmpty());
        row.err.replace("{port}", port).replace("{dir}", dir.path());
        row.out.replace("{dir}", QRegularExpression::escape(dir.path())).replace("{crc}", Crc32Hex(image))
            .replace("{sha}", QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());

        const CliRun run = RunCli(row.arguments, port, imagePath, dir.path());

        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(row.out)).match(run.out).hasMatch(),
                 qPrintable(run.out));
        QVERIFY2(row.err.isEmpty() ? run.err.isEmpty() : run.err.contains(row.err), qPrintable(run.err));
        QVERIFY2(!(run.out + run.err).contains("s3cret") && !(run.out + run.err).contains("alice"), qPrintable(run.err));
        QCOMPARE(run.status, row.status);
        QVERIFY(StopSim(sim));
    }

    void formats_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QList<int>>("pages");      // erased and written, from the application's start
        QTest::addColumn<QString>("content");       // what goes there: "src" twice, or the ELF's flash bytes
        const QString hex = R"(wrote and verified 2256 bytes \(3 pages\) at 0x8003000 .*; %1, 3 segments, 2000 bytes )"
                            R"(written, 4 blank blocks skipped; crc32 {crc}, sha256 [0-9a-f]{64}\n)";
        QTest::newRow("Intel HEX") << "app.hex" << hex.arg("ihex") << QList<int>{0, 1, 7} << "src";
        QTest::newRow("S-record") << "app.s37" << hex.arg("srec") << QList<int>{0, 1, 7} << "src";
        QTest::newRow("ELF, .data stored after .text")
            << "app.elf" << R"(wrote and verified 56 bytes \(1 page\) .*; elf, 1 segment, 56 bytes written, .*; crc32 {crc}, .*\n)"
            << QList<int>{0} << "app-elf.bin";
    }

    // Each format goes to its own addresses; pages it leaves alone keep the older image.
    void formats()
    {
        QFETCH(QString, file);
        QFETCH(QString, summary);
        QFETCH(QList<int>, pages);
        QFETCH(QString, content);
        const QString data = QStringLiteral(IMAGE_DATA_DIR "/"), old = dir.filePath("old.bin");
        QByteArray flash(0x10000, '\0');
        for (int i = 0; i < flash.size(); ++i)
            flash[i] = char(i % 127 + 1);
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write(flash) == flash.size());
        oldFile.close();
        QProcess sim;
        const QString port = StartSim(sim, {"--image", old, "--strict-rewrite"}, dir.filePath("formats.bin"));

        const CliRun run = RunCli({"--port", "{port}", "--quiet", "write", "{file}"}, port, data + file);
        // The CRC covers the flash from the lowest address to the highest, the gap between as 0xFF.
        const QByteArray src = ReadFile(data + "src.bin");
        const QByteArray span = content == "src" ? src + QByteArray(0x1C01 - src.size(), '\xFF') + src : ReadFile(data + content);
        summary.replace("{crc}", Crc32Hex(span));

        QCOMPARE(run.err, QString());
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(summary)).match(run.out).hasMatch(),
                 qPrintable(run.out));
        QVERIFY(StopSim(sim));
        for (int page : pages)
            flash.replace(AppOffset + page * 1024, 1024, QByteArray(1024, '\xFF'));
        if (content == "src")
            flash.replace(AppOffset, src.size(), src).replace(AppOffset + 0x1C01, src.size(), src);
        else
            flash.replace(AppOffset, ReadFile(data + content).size(), ReadFile(data + content));
        QVERIFY(ReadFile(dir.filePath("formats.bin")) == flash);
    }

    // The image again with one byte changed, on flash that refuses to program a cell twice: a
    // dry run sends no erase or write and counts what the job then does, which only the changed
    // page and the first block's need; the record keeps the counts and the CRC. A file of any
    // other SHA-256 is refused before a frame is sent.
    void reflash()
    {
        QProcess sim;
        const QString log = dir.filePath("reflash.log");
        sim.setStandardErrorFile(log);
        const QString port = StartSim(sim, {"--strict-rewrite", "--verbose"}, dir.filePath("reflash.bin"));
        QVERIFY(!port.isEmpty());
        QByteArray changed = image;
        changed[2500] = char(changed[2500] ^ 1);
        const QString changedPath = dir.filePath("changed.bin");
        QFile file(changedPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(changed) == changed.size());
        file.close();
        const QString sha = QCryptographicHash::hash(changed, QCryptographicHash::Sha256).toHex();
        const QStringList skip = {"--port", "{port}", "--quiet", "--json", "--skip-unchanged", "write", "{file}"};
        auto json = [](const CliRun &run) { return QJsonDocument::fromJson(run.out.toUtf8()).object(); };
        // Frames the loader took since last asked: erases, writes, or any.
        qsizetype seen = 0;
        auto frames = [&](const auto &kind) {
            const QString sent = QString(ReadFile(log)).mid(seen);
            seen += sent.size();
            return sent.count(kind);
        };

        QCOMPARE(RunCli({"--port", "{port}", "--quiet", "write", "{file}"}, port, imagePath).status, 0);
        frames(" rx #");
        const CliRun dry = RunCli(QStringList(skip) << "--dry-run", port, changedPath);
        QCOMPARE(dry.status, 0);
        QCOMPARE(frames(QRegularExpression(" rx #(21|6412)")), 0);
        const QJsonObject plan = json(dry)["plan"].toObject();
        QCOMPARE(plan["pagesToErase"].toInt(), 2);

        const CliRun real = RunCli(QStringList(skip) << "--expect-sha256" << sha.toUpper() << "--db"
                                       << "sqlite:" + dir.filePath("reflash.sqlite"), port, changedPath);
        QCOMPARE(real.status, 0);
        QCOMPARE(frames(" rx #21"), plan["pagesToErase"].toInt());
        QCOMPARE(json(real)["crc32"].toString(), Crc32Hex(changed));
        const CliRun report = RunCli({"--db", "sqlite:" + dir.filePath("reflash.sqlite"), "report", "--json"}, port, "");
        QCOMPARE(json(report)["pagesSkipped"].toInt() + json(report)["pagesWritten"].toInt(), 1 + 2);

        const CliRun refused = RunCli(QStringList(skip) << "--expect-sha256" << QString(64, 'a'), port, changedPath);
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("not " + QString(64, 'a')), qPrintable(refused.err));
        QCOMPARE(frames(" rx #"), 0);
        QVERIFY(StopSim(sim));
        QVERIFY(ReadFile(dir.filePath("reflash.bin")).mid(AppOffset, 3072) == changed + QByteArray(72, '\xFF'));
    }

    // A backup of the whole application area, the device's last address
    // included, verifies against the device and writes back to a fresh one.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("backup");
        QTest::addColumn<QString>("blockSize");
        QTest::newRow("raw") << "backup.bine" << "64";
        QTest::newRow("Intel HEX, 248-byte blocks") << "backup.hex" << "248";
        QTest::newRow("S-record, 200-byte blocks") << "backup.s19" << "200";
    }

    void roundTrip()
    {
        QFETCH(QString, backup);
        QFETCH(QString, blockSize);
        QByteArray flash(0x10000, '\xFF');
        flash.replace(AppOffset, image.size(), image).replace(0x10000 - image.size(), image.size(), image);
        const QString old = dir.filePath("old.bin"), path = dir.filePath(backup);
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write(flash) == flash.size());
        oldFile.close();
        QProcess source, fresh;
        const QString from = StartSim(source, {"--image", old}, dir.filePath("source.bin"));
        const QString to = StartSim(fresh, {"--strict-rewrite"}, dir.filePath("fresh.bin"));
        const QStringList options = {"--quiet", "--block-size", blockSize};

        const CliRun read = RunCli(QStringList(options) << "--port" << "{port}" << "read" << "{file}", from, path);
        QCOMPARE(read.err, QString());
        QCOMPARE(read.status, 0);
        const CliRun verify = RunCli(QStringList(options) << "--trace" << "--port" << "{port}" << "verify" << "{file}", from, path);
        QCOMPARE(verify.status, 0);
        QVERIFY2(verify.err.contains("LineCode = ^001F"), qPrintable(verify.err.left(200)));
        const CliRun write = RunCli(QStringList(options) << "--port" << "{port}" << "write" << "{file}", to, path);
        QCOMPARE(write.err, QString());
        QCOMPARE(write.status, 0);
        QVERIFY(StopSim(source) && StopSim(fresh));
        QCOMPARE(ReadFile(dir.filePath("fresh.bin")).mid(AppOffset), flash.mid(AppOffset));
    }

    void interruptedWrite_data()
    {
        QTest::addColumn<QStringList>("links");
        QTest::newRow("one board") << QStringList();
        QTest::newRow("three boards") << QStringList{"a", "b", "c"};
    }

    void interruptedWrite()
    {
        QFETCH(QStringList, links);
        // Paced at 9600 baud the write pass takes seconds, so SIGINT lands in its middle.
        const QString dump = dir.filePath("interrupted.bin");
        QStringList simArguments = {"--baud", "9600", "--boot-check", imagePath}, arguments;
        for (const QString &link : links) {
            simArguments << "--link" << dir.filePath("int-" + link);
            arguments << "--port" << dir.filePath("int-" + link);
        }
        QProcess sim;
        // The boot check fails the simulator if the application could start half-written.
        const QString port = StartSim(sim, simArguments, dump);
        QVERIFY(!port.isEmpty());
        if (links.isEmpty())
            arguments << "--port" << port;
        QProcess cli;
        cli.start(Bin("tamrivo-cli"), arguments << "write" << imagePath);
        const int boards = qMax(1, links.size());
        QByteArray progress;
        QTRY_VERIFY2_WITH_TIMEOUT((progress += cli.readAllStandardError()).count("write  [") >= boards,
                                  progress.constData(), 10000);
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(10000));

        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        progress += cli.readAllStandardError();
        QVERIFY2(progress.count("interrupted: write stopped after offset") == boards, progress.constData());
        QVERIFY2(progress.count("it will not start until a write completes") == boards, progress.constData());
        QVERIFY(StopSim(sim));
        // Stopped after the block in flight: the second block is written, the first and the end still erased.
        for (int i = 1; i <= boards; ++i) {
            const QByteArray flash = ReadFile(links.isEmpty() ? dump : dump + '.' + QString::number(i));
            QCOMPARE(flash.mid(AppOffset, 128), QByteArray(64, '\xFF') + image.mid(64, 64));
            QCOMPARE(flash.mid(AppOffset + image.size() - 64, 64), QByteArray(64, '\xFF'));
        }
    }

    // Two runs on three boards, the second one silent: each prints a record per board and adds them to the log.
    void jsonAndLog()
    {
        QProcess sim;
        StartSim(sim, QStringList(Boards).replaceInStrings("{dir}", dir.path()) << "--fault" << "drop:count=-1:link=2",
                 dir.filePath("json.bin"));
        const QString log = dir.filePath("audit.log"), b = dir.filePath("b");
        const QString sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        for (int run = 1; run <= 2; ++run) {
            const CliRun cli = RunCli(QStringList(OnBoards) << "--json" << "--log" << log, QString(), imagePath, dir.path());
            QCOMPARE(cli.status, 1);
            QMap<QString, QJsonObject> records;
            for (const QString &line : cli.out.split('\n', Qt::SkipEmptyParts))
                records[QJsonDocument::fromJson(line.toUtf8())["port"].toString()] = QJsonDocument::fromJson(line.toUtf8()).object();
            QCOMPARE(records.keys(), (QStringList{dir.filePath("a"), b, dir.filePath("c")}));
            for (const QJsonObject &record : qAsConst(records)) {
                QCOMPARE(record["status"].toString(), record["port"] == b ? "failed" : "ok");
                QCOMPARE(record["class"].toString(), record["port"] == b ? "no-answer" : "ok");
                QCOMPARE(record["sha256"].toString(), sha);
            }
            QCOMPARE(records[b]["pass"].toString(), QString("params"));
            // The log keeps the earlier run's lines and adds the same records, stamped.
            const QList<QByteArray> lines = ReadFile(log).split('\n');
            QCOMPARE(lines.size(), 3 * run + 1);
            for (int i = 3 * run - 3; i < 3 * run; ++i) {
                QJsonObject record = QJsonDocument::fromJson(lines.at(i)).object();
                QVERIFY(QDateTime::fromString(record.take("time").toString(), Qt::ISODateWithMs).isValid());
                QVERIFY(!record.take("host").toString().isEmpty() && !record.take("version").toString().isEmpty());
                QCOMPARE(record.take("station").toString(), QSysInfo::machineHostName());
                QCOMPARE(record.take("exit").toInt(), record["port"] == b ? 4 : 0);
                QCOMPARE(record, records[record["port"].toString()]);
            }
        }
        QVERIFY(StopSim(sim));
        for (const char *board : {"1", "3"})
            QCOMPARE(ReadFile(dir.filePath("json.bin.") + board).mid(AppOffset, image.size()), image);
    }

    // A station flashes a board plugged in after it started, then the next one once the first is gone.
    void station()
    {
        const QString link = dir.filePath("station");
        QProcess cli;
        cli.start(Bin("tamrivo-cli"), {"--wait", "--json", "--port", link, "write", imagePath});
        QByteArray records, messages;
        for (int board = 1; board <= 2; ++board) {
            QTRY_VERIFY_WITH_TIMEOUT((messages += cli.readAllStandardError()).count("waiting for a device") == board, 10000);
            QProcess sim;
            StartSim(sim, {"--link", link}, dir.filePath("station.bin"));
            QTRY_VERIFY_WITH_TIMEOUT((records += cli.readAllStandardOutput()).count("\"status\":\"ok\"") == board, 10000);
            QVERIFY(StopSim(sim));
            QCOMPARE(ReadFile(dir.filePath("station.bin")).mid(AppOffset, image.size()), image);
        }
        // Ctrl-C while waiting for the third board.
        QTRY_VERIFY_WITH_TIMEOUT((messages += cli.readAllStandardError()).count("waiting for a device") == 3, 10000);
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY2((messages += cli.readAllStandardError()).endsWith("2 devices succeeded, 0 failed\n"), messages.constData());
    }

    void serialNumbers_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<QString>("onFail");
        QTest::addColumn<QString>("store");
        QTest::newRow("le32, reuse") << "le32" << qint64(1) << "reuse" << "sqlite";
        QTest::newRow("be32 from 70000, void") << "be32" << qint64(70000) << "void" << "sqlite";
        QTest::newRow("8 decimal digits, reuse") << "dec8" << qint64(4711) << "reuse" << "sqlite";
        QTest::newRow("PostgreSQL: le32, reuse") << "le32" << qint64(1) << "reuse" << "postgresql";
        QTest::newRow("checked le32c, reuse") << "le32c" << qint64(1) << "reuse" << "sqlite";
        QTest::newRow("Luhn digits on PostgreSQL: dec8c from 4711, void") << "dec8c" << qint64(4711) << "void" << "postgresql";
    }

    // A line's life: numbers go only to boards that verified, a failed board's number to the next one (or
    // nowhere), a board that may carry its number keeps it for rework if the number carries a check (else
    // the number goes void and the board gets another), and a killed job's number stays in doubt.
    void serialNumbers()
    {
        QFETCH(QString, format);
        QFETCH(qint64, first);
        QFETCH(QString, onFail);
        QFETCH(QString, store);
        // A pool of its own: the PostgreSQL server outlives the test.
        const QString tag = QString(QTest::currentDataTag()).left(4), pool = QUuid::createUuid().toString(QUuid::Id128);
        const QString db = Store(store, dir.filePath(tag + ".sqlite"));
        if (db.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        const auto number = [&](const QString &dump) { return FlashNumber(ReadFile(dump), format); };
        const auto write = [&](const QStringList &simArguments, const QStringList &ports, int status) {
            QProcess sim;
            const QString port = StartSim(sim, QStringList(simArguments).replaceInStrings("{dir}", dir.path()), dir.filePath(tag));
            QStringList arguments = {"--json", "--quiet", "--db", db, "--serial-pool", pool, "--serial-at", "0x8003400", "--serial-format", format,
                                     "--serial-first", QString::number(first), "--serial-on-fail", onFail, "write", imagePath + ".serial"};
            for (const QString &board : ports.isEmpty() ? QStringList{port} : ports)
                arguments << "--port" << QString(board).replace("{dir}", dir.path());
            const CliRun run = RunCli(arguments, port, imagePath);
            [&] { QCOMPARE(run.status, status); QVERIFY(StopSim(sim)); }();
            QMap<QString, QJsonObject> records;
            for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts))
                records[QJsonDocument::fromJson(line.toUtf8())["port"].toString()] = QJsonDocument::fromJson(line.toUtf8()).object();
            return records;
        };
        // Board b refuses its erases: its number never reached it.
        auto records = write(QStringList(Boards) << "--fault" << "status:cmd=0x21:count=-1:link=2",
                             {"{dir}/a", "{dir}/b", "{dir}/c"}, 1);
        const qint64 a = number(dir.filePath(tag + ".1")), c = number(dir.filePath(tag + ".3"));
        const qint64 b = records[dir.filePath("b")]["serial"].toVariant().toLongLong();
        // Under reuse b's number may go straight to a or c, which took theirs later.
        QVERIFY(a != c && qMin(a, c) >= first && qMax(a, c) <= first + 2);
        QVERIFY(onFail == "reuse" || (b != a && b != c && b >= first && b <= first + 2));
        QCOMPARE(records[dir.filePath("a")]["serial"].toVariant().toLongLong(), a);
        QCOMPARE(records[dir.filePath("b")]["class"].toString(), "refused");
        QCOMPARE(records[dir.filePath("b")]["serialState"].toString(), onFail == "void" ? "void" : "free");
        write({}, {}, 0);
        QCOMPARE(number(dir.filePath(tag)), onFail == "void" ? first + 3 : 3 * first + 3 - a - c);
        // The number's own block is stored wrong: read back, the board could pass for another number's board,
        // so the page is erased and the number goes back (or is burnt).
        records = write({"--fault", "worn:cmd=0x64:arg=0x12:addr=0x08003400"}, {}, 6);
        QCOMPARE(records.first()["serialState"].toString(), onFail == "void" ? "void" : "free");
        QCOMPARE(ReadFile(dir.filePath(tag)).mid(0x3400, 8), QByteArray(8, '\xFF'));
        const qint64 next = onFail == "void" ? first + 5 : first + 3;   // the lowest number free or never given out
        // A block after the number's is stored wrong: the number is on a board that failed.
        records = write({"--fault", "worn:cmd=0x64:arg=0x12:addr=0x08003800"}, {}, 6);
        QCOMPARE(number(dir.filePath(tag)), next);
        QCOMPARE(records.first()["serialState"].toString(), "held");
        QFile::remove(dir.filePath(tag + ".held"));
        QVERIFY(QFile::copy(dir.filePath(tag), dir.filePath(tag + ".held")));
        write({}, {}, 0);
        QCOMPARE(number(dir.filePath(tag)), next + 1);
        // The failed board comes back from rework.
        const bool checked = format.endsWith('c');
        records = write({"--image", dir.filePath(tag + ".held")}, {}, 0);
        QCOMPARE(records.first()["rework"].toBool(), checked);
        QCOMPARE(number(dir.filePath(tag)), checked ? next : next + 2);
        QCOMPARE(records.first()["replaced"].toDouble(-1), checked ? -1 : double(next));
        const qint64 killed = checked ? next + 2 : next + 3;
        // Killed in the middle of its write: the number is neither used up nor handed out again.
        QProcess sim, cli;
        const QString port = StartSim(sim, {"--baud", "9600"}, dir.filePath(tag));
        cli.start(Bin("tamrivo-cli"), {"--port", port, "--db", db, "--serial-pool", pool, "--serial-at", "0x8003400", "--serial-format", format,
                                       "--serial-first", QString::number(first), "write", imagePath + ".serial"});
        QByteArray progress;
        QTRY_VERIFY_WITH_TIMEOUT((progress += cli.readAllStandardError()).contains("write  ["), 10000);
        cli.kill();
        QVERIFY(cli.waitForFinished(5000) && StopSim(sim));
        const CliRun doubt = RunCli({"report", "--in-doubt", "--json", "--db", db, "--serial-pool", pool}, port, imagePath);
        QCOMPARE(QJsonDocument::fromJson(doubt.out.toUtf8())["serial"].toVariant().toLongLong(), killed);
        QCOMPARE(QJsonDocument::fromJson(doubt.out.toUtf8())["state"].toString(), "in doubt");
        write({}, {}, 0);
        QCOMPARE(number(dir.filePath(tag)), killed + 1);
        // One record a device job, the killed one aside.
        const CliRun counts = RunCli({"report", "--counts", "--csv", "--db", db, "--serial-pool", pool}, port, imagePath);
        QCOMPARE(counts.out, "class,jobs\r\nkilled,1\r\nmismatch,2\r\nok,6\r\nrefused,1\r\n");
    }

    // PostgreSQL stops while three boards are written and starts again after: each board's own status
    // stands and its record waits in the journal; the next run with the store delivers each once.
    void storeStoppedMidJob()
    {
        const QString db = Store("postgresql", {}), pool = QUuid::createUuid().toString(QUuid::Id128), journal = dir.filePath("journal-mid");
        if (db.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        QProcess sim, cli;
        StartSim(sim, QStringList{"--baud", "9600"} + QStringList(Boards).replaceInStrings("{dir}", dir.path()), dir.filePath("mid"));
        cli.start(Bin("tamrivo-cli"), QStringList(OnBoards.mid(0, 6)).replaceInStrings("{dir}", dir.path()) << "--json" << "--journal"
                  << journal << "--db" << db << "--serial-pool" << pool << "--serial-at" << "0x8003400" << "write" << imagePath + ".serial");
        QByteArray progress;
        QTRY_VERIFY_WITH_TIMEOUT((progress += cli.readAllStandardError()).count("write  [") >= 3, 20000);
        QVERIFY(Pg("pause"));
        const bool finished = cli.waitForFinished(60000);
        QVERIFY(Pg("resume") && finished);
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray out = cli.readAllStandardOutput();
        QVERIFY2(out.count("\"status\":\"ok\"") == 3 && out.count("\"record\":\"pending\"") == 3, out.constData());
        QVERIFY2((progress += cli.readAllStandardError()).contains("3 records wait in the journal"), progress.constData());
        for (const char *report : {"--counts", "--counts", "--in-doubt"})
            QCOMPARE(RunCli({"report", report, "--json", "--db", db, "--serial-pool", pool, "--journal", journal}, "", "").out,
                     report == QLatin1String("--counts") ? "{\"class\":\"ok\",\"jobs\":3}\n" : "");
        QVERIFY(StopSim(sim));
    }

    // A station goes on by itself once the store is back: a board that needs a number while the store is away, or
    // while a record waits, is refused untouched (its record waits too), and the next board delivers them all.
    void stationAcrossRestart()
    {
        const QString db = Store("postgresql", {}), pool = QUuid::createUuid().toString(QUuid::Id128), link = dir.filePath("restart");
        if (db.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        QProcess cli;
        cli.start(Bin("tamrivo-cli"), {"--wait", "--json", "--port", link, "--db", db, "--station", pool, "--serial-pool", pool,
                                       "--serial-at", "0x8003400", "--journal", dir.filePath("journal-restart"), "write", imagePath + ".serial"});
        const struct { const char *before, *record, *reason; } boards[] = {{"", "stored", ""},
            {"pause", "pending", "the record store failed: cannot look up numbers"}, {"", "pending", "1 record waiting in the journal"},
            {"resume", "stored", ""}};
        QByteArray records, messages;
        bool paused = false;
        const auto resume = qScopeGuard([&] { paused && Pg("resume"); });      // the other tests need the server
        for (int board = 0; board < 4; ++board) {
            const QByteArray before = boards[board].before;
            QVERIFY(before.isEmpty() || Pg(before));
            paused = before == "pause" || (paused && before != "resume");
            QTRY_VERIFY_WITH_TIMEOUT((messages += cli.readAllStandardError()).count("waiting for a device") == board + 1, 20000);
            QProcess sim;
            StartSim(sim, {"--link", link}, dir.filePath("restart.bin"));
            QTRY_VERIFY_WITH_TIMEOUT((records += cli.readAllStandardOutput()).count('\n') == board + 1, 20000);
            QVERIFY(StopSim(sim));
            const QJsonObject record = QJsonDocument::fromJson(records.split('\n').at(board)).object();
            QVERIFY2(record["record"] == boards[board].record && record["reason"].toString().contains(boards[board].reason),
                     QJsonDocument(record).toJson().constData());
            QCOMPARE(ReadFile(dir.filePath("restart.bin")).mid(AppOffset, 4), *boards[board].reason ? "\xFF\xFF\xFF\xFF" : image.left(4));
        }
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(RunCli({"report", "--counts", "--json", "--db", db, "--station", pool}, "", "").out,
                 "{\"class\":\"ok\",\"jobs\":2}\n{\"class\":\"store\",\"jobs\":2}\n");
    }

    // A transaction left open in another session holding the pool's row is reported within the lock time-outs.
    void storeLockedElsewhere()
    {
        const QString db = Store("postgresql", {}), pool = QUuid::createUuid().toString(QUuid::Id128);
        if (db.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        QProcess sim;
        const QString port = dir.filePath("locked");
        StartSim(sim, {"--link", port}, dir.filePath("locked.bin"));
        const QStringList write = {"--port", port, "--quiet", "--db", db, "--serial-pool", pool, "--serial-at", "0x8003400",
                                   "write", imagePath + ".serial"};
        QCOMPARE(RunCli(write, port, imagePath).status, 0);
        QVERIFY(StopSim(sim));
        QSqlDatabase other = QSqlDatabase::addDatabase("QPSQL", "other");
        other.setHostName("127.0.0.1");
        other.setPort(ReadFile(qEnvironmentVariable("TAMRIVO_TEST_PG") + "/port").trimmed().toInt());
        other.setUserName("tamrivo");
        other.setDatabaseName("postgres");
        QVERIFY(other.open() && other.transaction());
        QVERIFY(QSqlQuery(other).exec("SELECT * FROM pools WHERE name = '" + pool + "' FOR UPDATE"));
        StartSim(sim, {"--link", port}, dir.filePath("locked.bin"));
        QElapsedTimer timer;
        timer.start();
        const CliRun run = RunCli(write, port, imagePath);
        // Without time-outs the job waits as long as the lock is held: RunCli gives up after 60 s.
        QVERIFY2(timer.elapsed() < 45000 && run.status == 8, qPrintable(run.err));
        QVERIFY2(run.err.contains("did not answer within 15 s: another session holds a lock on table pools"), qPrintable(run.err));
        QVERIFY(other.rollback() && StopSim(sim));
        QCOMPARE(ReadFile(dir.filePath("locked.bin")).mid(AppOffset, 64), QByteArray(64, '\xFF'));
        other.close();
    }

    void storeCommands_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<StoreRow>("row");
        const QStringList settle = {"--db", "{db}", "settle", "--serial-pool", "p", "--why", "scrapped", "--by", "sup", "--serial"};
        const QStringList onP = {"--port", "/dev/tamrivo-none", "--serial-pool", "p"};
        const QString counts = "class +jobs\nok +4\n", noStore = "there is no record store at";
        const QStringList report = {"--db", "{db}", "report"}, write = {"--db", "{db}", "--serial-at", "0x8003400", "write", "{file}"};
        const std::pair<const char *, StoreRow> rows[] = {
            {"in doubt at a station", {"", report + QStringList{"--in-doubt", "--station", "B"}, 0, R"(pool .*\np +3 +in doubt +B +tty +\S+\n)"}},
            {"in doubt on a day", {"", report + QStringList{"--in-doubt", "--day", "2000-01-01"}, 0, R"(pool .* since\n)"}},
            {"settlements as CSV", {"", report + QStringList{"--settlements", "--csv"}, 0,
                                    "time,pool,serial,from,to,by,station,why\r\n\\S+,p,4,held,void,sup,A,\"lost, with a comma\"\r\n"}},
            {"report on no store", {"missing", report, 8, "", noStore}},
            {"settle in no store", {"missing file", settle + QStringList{"2", "--to", "free"}, 8, "", noStore}},
            {"report on a read-only store", {"readonly", report + QStringList{"--counts"}, 0, counts}},
            {"report while a writer holds the lock", {"locked", report + QStringList{"--counts"}, 0, counts}},
            {"settle a held number free", {"", settle + QStringList{"2", "--to", "free"}, 0, "number 2 of pool p was held, now free .*\n"}},
            {"settle one in doubt as the board's", {"", settle + QStringList{"3", "--to", "board"}, 0, ".* was in doubt, now committed .*\n"}},
            {"settle a committed number", {"", settle + QStringList{"1", "--to", "void"}, 2, "", "it is committed; only a held"}},
            {"a pool used up", {"", write + QStringList{"--port", "{port}", "--serial-pool", "full"}, 2, "", "pool full is used up (last number 1)\n"}},
            {"a changed --serial-first", {"", write + onP + QStringList{"--serial-first", "2"}, 2, "", "pool p was made with first number 1"}},
            {"a changed --serial-last", {"", write + onP + QStringList{"--serial-last", "8"}, 2, "", "pool p was made with last number 9"}},
            {"the server ends the session mid-job", {"cut", {"--port", "{port}", "--quiet", "--db", "{db}", "write", "{file}"}, 0,
                                                     "wrote and verified .*\n"}},
            {"--station with a control character", {"", {"--station", "a\x01", "report"}, 2, "", "cannot be shown (U+0001)"}},
            {"--serial-pool of 65 characters", {"", {"--serial-pool", QString(65, 'x'), "report"}, 2, "", "65 characters long"}},
            {"--db empty", {"", {"--db", "", "report"}, 2, "", "--db must not be empty"}},
            {"one device under two names", {"", {"--port", "{port}", "--port", "{link}", "info"}, 2, "", "--port {port} and --port {link} are one"}},
            {"a device another job has open", {"busy", {"--port", "{port}", "info"}, 3, "", "is in use by another job"}},
        };
        for (const auto &[name, row] : rows) {
            const QStringList backends = !row.arguments.contains("{db}") ? QStringList{""} : row.setup == "cut" ? QStringList{"postgresql"}
                                       : row.setup.endsWith("file") ? QStringList{"sqlite"} : QStringList{"sqlite", "postgresql"};
            for (const QString &backend : backends)
                QTest::addRow("%s%s", qPrintable(backend.isEmpty() ? backend : backend + ": "), name) << backend << row;
        }
    }

    void storeCommands()
    {
        QFETCH(QString, backend);
        QFETCH(StoreRow, row);
        static int count = 0;
        const QString folder = stores.filePath(QString::number(++count)), cluster = qEnvironmentVariable("TAMRIVO_TEST_PG");
        const QString name = QStringLiteral("cli_%1_%2").arg(QCoreApplication::applicationPid()).arg(count);
        const QString server = "postgresql://tamrivo@127.0.0.1:" + ReadFile(cluster + "/port").trimmed() + '/';
        if (backend == "postgresql" && cluster.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        const QString db = backend == "sqlite" ? "sqlite:" + folder + "/s.sqlite" : server + name;
        if (backend == "postgresql")
            QCOMPARE(Direct(server + "postgres").Run({"CREATE DATABASE " + name}), QString());
        if (!backend.isEmpty() && !row.setup.startsWith("missing"))
            QCOMPARE(Seed(db), QString());
        QStringList program;
        std::optional<Direct> lock;
        if (row.setup == "locked") {
            lock.emplace(db);
            QCOMPARE(lock->Run(backend == "sqlite" ? QStringList{"BEGIN IMMEDIATE"} : QStringList{"BEGIN",
                     "SELECT pg_advisory_xact_lock(7243158490)", "SELECT * FROM pools FOR UPDATE"}), QString());
        } else if (row.setup == "cut" || (row.setup == "readonly" && backend == "postgresql")) {
            QCOMPARE(Direct(db).Run({QStringLiteral("ALTER DATABASE %1 SET %2").arg(name, row.setup == "cut"
                     ? "idle_session_timeout = 300" : "default_transaction_read_only = on")}), QString());
        } else if (row.setup == "readonly") {
            if (::geteuid() == 0 && QFile::copy(Bin("tamrivo-cli"), folder + "-cli"))
                program = QStringList{"runuser", "-u", "nobody", "--", folder + "-cli"};
            QVERIFY(QFile::setPermissions(folder + "/s.sqlite", QFile::Permissions(0x4444))
                    && QFile::setPermissions(folder, QFile::Permissions(0x5555)));
        }
        QProcess sim, holder;
        holder.setReadChannel(QProcess::StandardError);
        const QString link = dir.filePath("store-link");
        const QString port = row.arguments.join(' ').contains(QRegularExpression("\\{port\\}|\\{link\\}"))
            ? StartSim(sim, QStringList{"--link", link} << (row.setup == "busy" ? QStringList{"--baud", "9600"} : QStringList()),
                       dir.filePath("store.bin")) : QString();
        if (row.setup == "busy")    // its first progress line comes once it has the device
            holder.start(Bin("tamrivo-cli"), {"--port", link, "write", imagePath});
        QVERIFY(row.setup != "busy" || holder.waitForReadyRead(10000));
        row.err.replace("{port}", port).replace("{link}", link);
        const QStringList arguments = QStringList(row.arguments).replaceInStrings("{db}", db).replaceInStrings("{link}", link);
        QElapsedTimer timer;
        timer.start();
        CliRun run = RunCli(arguments, port, imagePath + ".serial", dir.path(), program);
        if (row.setup.startsWith("missing") && run.status == row.status)
            run = RunCli(arguments, port, imagePath, dir.path(), program);
        const qint64 ms = timer.elapsed();
        lock.reset();
        holder.close();
        if (!port.isEmpty())
            StopSim(sim);
        QFile::setPermissions(folder, QFile::Permissions(0x7755));

        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(row.out)).match(run.out).hasMatch(), qPrintable(run.out + run.err));
        QVERIFY2(row.err.isEmpty() ? run.err.isEmpty() : run.err.contains(row.err), qPrintable(run.err));
        for (const QString &line : run.err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith("tamrivo-cli: ") || line.startsWith("Try 'tamrivo-cli --help'"), qPrintable(line));
        QCOMPARE(run.status, row.status);
        // A writer's lock holds a reader no longer than a short busy wait, not the 50 s of five writer's tries;
        // the bound leaves room for a sanitizer build.
        QVERIFY2(row.setup != "locked" || ms < 30000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
    }

    void rework_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("socket");    // where a failed board comes back: "" its own, "o" another
        QTest::newRow("le32, same socket") << "le32" << "sqlite" << "";
        QTest::newRow("le32c, another socket") << "le32c" << "sqlite" << "o";
        QTest::newRow("dec8c, same socket") << "dec8c" << "sqlite" << "";
        QTest::newRow("PostgreSQL: be32c, another socket") << "be32c" << "postgresql" << "o";
    }

    // Boards back from jobs that left their numbers damaged or in doubt: only a board holding its number
    // exactly, check and all, keeps it; no number is on two passed boards; a board's record links the number
    // it carried with its new one; a number in doubt goes void once its own socket sees it is not on the board.
    void rework()
    {
        QFETCH(QString, format);
        QFETCH(QString, store);
        QFETCH(QString, socket);
        const QString pool = QUuid::createUuid().toString(QUuid::Id128), db = Store(store, dir.filePath("rework.sqlite"));
        const QString dump = dir.filePath("rework.bin"), log = dir.filePath("rework.log");
        if (db.isEmpty())
            QSKIP("no PostgreSQL server: run through ctest, which starts one");
        const bool checked = format.endsWith('c');
        const QString stall = "drop:cmd=0x64:arg=0x12:addr=0x08003440:count=-1";
        // A board in a socket, with the flash it had; killed (status -1) while its write past the number stalls.
        const auto job = [&](const QString &link, const QByteArray &flash, const QString &fault, int status) {
            QFile in(dump + ".in");
            [&] { QVERIFY(in.open(QIODevice::WriteOnly) && in.write(flash.isEmpty() ? QByteArray(0x10000, '\xFF') : flash)); }();
            in.close();
            QProcess sim, cli;
            sim.setStandardErrorFile(log);
            StartSim(sim, QStringList{"--link", dir.filePath(link + 'k'), "--verbose", "--image", dump + ".in"}
                              + (fault.isEmpty() ? QStringList() : QStringList{"--fault", fault}), dump);
            cli.start(Bin("tamrivo-cli"), {"--json", "--quiet", "--db", db, "--serial-pool", pool, "--serial-at", "0x8003400",
                      "--serial-format", format, "--serial-first", "1000", "--port", dir.filePath(link + 'k'), "write", imagePath + ".serial"});
            [&] {
                if (status < 0) {
                    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(log).contains("rx #641240340008"), 10000);
                    cli.kill();
                }
                QVERIFY(cli.waitForFinished(30000));
                QCOMPARE(status < 0 ? -1 : cli.exitCode(), status);
            }();
            StopSim(sim);
            return QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        };
        const auto serials = [&](const QStringList &report) {
            QList<int> found;
            for (const QString &line : RunCli(QStringList{"--db", db, "--serial-pool", pool, "report", "--json"} + report, "", "").out.split('\n', Qt::SkipEmptyParts))
                found << QJsonDocument::fromJson(line.toUtf8())["serial"].toInt();
            return found;
        };
        job("x", {}, {}, 0);
        job("x", {}, {}, 0);
        // B's number, 1002, goes in and the line drops before it is verified: held. Some bits of it never
        // took, and the number part reads 1000, a passed board's.
        QCOMPARE(job("", {}, "vanish:cmd=0x64:arg=0x12:addr=0x08003440", 4)["serialState"].toString(), "held");
        SerialFormat layout;
        QVERIFY(ParseSerialFormat(format, &layout));
        const int digits = format.startsWith("dec") ? 8 : 4, carried = checked ? 1002 : 1000;
        QJsonObject record = job(socket, ReadFile(dump).replace(0x3400, digits, EncodeSerial(1000, layout).left(digits)), {}, 0);
        QCOMPARE(record["serial"].toInt(), 1003);
        QCOMPARE(FlashNumber(ReadFile(dump), format), 1003);
        QCOMPARE(record["replaced"].toInt(), carried);
        QCOMPARE(serials({"--serial", QString::number(carried)}), (QList<int>{carried, 1003}));
        const QList<int> held = checked ? QList<int>() : QList<int>{1002};
        QCOMPARE(serials({"--in-doubt"}), held);
        // Killed past its number (1004), and back in its socket holding exactly that number.
        job("", {}, stall, -1);
        QCOMPARE(job("", ReadFile(dump), {}, 0)["serial"].toInt(), checked ? 1004 : 1005);
        // Killed again, and a bit of its number cleared: a new number, and the one it carried goes void in its
        // own socket; elsewhere it stays in doubt until the next job in its socket.
        const int doubt = checked ? 1005 : 1006;
        job("", {}, stall, -1);
        QByteArray flash = ReadFile(dump);
        char &cleared = *std::find_if(flash.begin() + 0x3400, flash.end(), [](char c) { return c != 0; });
        cleared = char(cleared & (cleared - 1));
        record = job(socket, flash, {}, 0);
        QCOMPARE(record["serial"].toInt(), doubt + 1);
        QCOMPARE(record["replaced"].toInt(), checked ? doubt : FlashNumber(flash, format));
        QCOMPARE(serials({"--in-doubt"}), held + (socket.isEmpty() ? QList<int>() : QList<int>{doubt}));
        QCOMPARE(job("", {}, {}, 0)["serial"].toInt(), doubt + 2);
        QCOMPARE(serials({"--in-doubt"}), held);
    }

    // The class follows from what the device did, whatever the pass.
    void outcomeStatus_data()
    {
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<int>("status");
        const JobOutcome::Status failed = JobOutcome::Failed;
        const struct { const char *name; JobOutcome::Status status; int link; bool mismatch; int exit; } outcomes[] = {
            {"refused", failed, LinkRefused, false, 5}, {"no reply", failed, LinkNoReply, false, 4},
            {"garbled", failed, LinkBadReply, false, 4}, {"port lost", failed, LinkPortLost, false, 4},
            {"out of turn", failed, LinkOutOfTurn, false, 4}, {"mismatch", failed, 0, true, 6},
            {"short read-back", failed, LinkOk, false, 7}, {"cancelled", JobOutcome::Cancelled, LinkOk, false, 130},
            {"done", JobOutcome::Done, LinkOk, false, 0}};
        for (JobPass pass : {JobPass::Erase, JobPass::Write, JobPass::Verify, JobPass::Read, JobPass::Compare})
            for (const auto &row : outcomes)
                QTest::addRow("%s, %s", qPrintable(ProgressObserver::PassName(pass)), row.name)
                    << JobOutcome{row.status, pass, row.link, row.mismatch} << row.exit;
    }

    void outcomeStatus()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(int, status);
        QCOMPARE(OutcomeStatus(outcome), status);
    }

    void combinedStatus_data()
    {
        QTest::addColumn<QVector<int>>("statuses");
        QTest::addColumn<int>("status");
        QTest::newRow("a station stopped before any board") << QVector<int>{} << 0;
        QTest::newRow("every board done") << QVector<int>{0, 0} << 0;
        QTest::newRow("one failed") << QVector<int>{0, 1, 0} << 1;
        QTest::newRow("one interrupted, one failed") << QVector<int>{1, 130, 0} << 130;
        QTest::newRow("the image too large for every board") << QVector<int>{2, 2} << 2;
        QTest::newRow("the image too large for one") << QVector<int>{0, 2} << 1;
    }

    void combinedStatus()
    {
        QFETCH(QVector<int>, statuses);
        QFETCH(int, status);
        QCOMPARE(CombinedStatus(statuses), status);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
