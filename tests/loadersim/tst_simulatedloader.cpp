// The simulated loader: its core, bytes in and bytes out, then on a real
// pseudo-terminal, and the program itself.

#include "bootcheck.h"
#include "simulatedloader.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr quint32 App = 0x08003000;

// Request frames built with a bit-by-bit CRC, unlike the simulator's table.
quint16 Crc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        for (int bit = 7; bit >= 0; --bit)
            crc = ((crc >> 15) ^ (quint8(c) >> bit)) & 1 ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray Le(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i));
    return out;
}

QByteArray Frame(quint8 command, quint8 argument, const QByteArray &data = QByteArray())
{
    const QByteArray bytes = QByteArray(1, char(command)) + char(argument) + data;
    return '#' + (bytes + char(Crc(bytes) >> 8) + char(Crc(bytes) & 0xFF)).toHex().toUpper() + '\r';
}

QByteArray EraseFrame(quint32 at, int pages) { return Frame(0x21, 0x12, Le(at, 4) + Le(pages, 2)); }
QByteArray ReadFrame(quint32 at, int length) { return Frame(0x64, 0x02, Le(at, 4) + Le(length, 2)); }
QByteArray WriteFrame(quint32 at, const QByteArray &data)
{
    return Frame(0x64, 0x12, Le(at, 4) + Le(data.size(), 2) + data);
}

// The bytes between "^" and the carriage return, decoded; empty if none.
QByteArray Decoded(const SimReply &reply)
{
    const QByteArray line = reply.Bytes();
    const int start = line.indexOf('^');
    return start >= 0 && line.endsWith('\r') ? QByteArray::fromHex(line.mid(start + 1).chopped(1)) : QByteArray();
}

// A loader core with its flash.
struct Rig
{
    explicit Rig(const SimConfig &c = {})
        : flash(c.flashBase, c.flashSize, c.pageSize, c.loaderSize, c.strictRewrite), core(c, &flash) {}
    SimReply One(const QByteArray &frame)
    {
        const auto all = core.Feed(frame);
        return all.size() == 1 ? all[0] : SimReply();
    }
    FlashModel flash;
    LoaderCore core;
};

// What the host hears within ms, at most until it has chars characters.
QByteArray Listen(QSerialPort &port, int chars, int ms)
{
    QByteArray heard = port.readAll();
    QElapsedTimer timer;
    for (timer.start(); heard.size() < chars && timer.elapsed() < ms; heard += port.readAll())
        port.waitForReadyRead(10);
    return heard;
}

SimConfig WithFault(const QString &text, quint32 seed = 1)
{
    SimConfig config;
    config.seed = seed;
    config.faults = {FaultRule()};
    if (!ParseFaultRule(text, &config.faults[0]))
        config.faults.clear();
    return config;
}

} // namespace

class TestSimulatedLoader : public QObject
{
    Q_OBJECT

private slots:
    // On a flash of zeros but for the first application page; the frames
    // before the last must succeed. "flash": what the flash then holds at
    // "at"; "strict": refuse re-writes of an equal value. Status -1: silent,
    // as malformed frames are unless error replies are asked for. "max":
    // the --max-frame limit.
    void requests_data()
    {
        for (const char *column : {"request", "reply", "flash"})
            QTest::addColumn<QByteArray>(column);
        for (const char *column : {"status", "max"})
            QTest::addColumn<int>(column);
        QTest::addColumn<quint32>("at");
        QTest::addColumn<bool>("strict");
        const auto row = [](const char *name, const QByteArray &request, int status, const QByteArray &reply = {},
                            quint32 at = 0, const QByteArray &flash = {}, bool strict = false, int max = 0) {
            QTest::newRow(name) << request << reply << flash << status << max << at << strict;
        };
        const QByteArray abcd = QByteArray::fromHex("A1B2C3D4"), clash = QByteArray::fromHex("FFFF00FF");
        const QByteArray none, zero(1, '\0'), zeros(0x400, '\0');
        const auto erased = [&](int n) { return zero + QByteArray(n, char(0xFF)) + zero; };
        row("write retry of same bytes", WriteFrame(App, abcd) + WriteFrame(App, abcd), 0x1F, none, App, abcd);
        row("strict: first byte equal refused whole", WriteFrame(App, "\xA1") + WriteFrame(App, abcd), 0x05, none, App,
            QByteArray::fromHex("A1FFFFFF"), true);
        row("write clash refused whole", WriteFrame(App + 2, zero) + WriteFrame(App, abcd), 0x05, none, App, clash);
        row("write into loader area", WriteFrame(App - 2, abcd), 0x04, none, App - 2, zero + zero + clash.left(2));
        row("write past flash end", WriteFrame(0x0800FFFE, abcd), 0x04);
        row("erase page of address", EraseFrame(0x08003A10, 1), 0x1F, none, 0x080037FF, erased(0x400));
        row("erase three pages", EraseFrame(0x08004000, 3), 0x1F, none, 0x08003FFF, erased(0xC00));
        row("erase last page", EraseFrame(0x0800FFFF, 1), 0x1F, none, 0x0800FBFF, erased(0x400).left(0x401));
        row("erase running past end", EraseFrame(0x0800FC00, 2), 0x04, none, 0x0800FC00, zeros);
        row("erase loader page", EraseFrame(0x08002C00, 1), 0x04, none, 0x08002C00, zeros);
        row("read loader area", ReadFrame(0x08000000, 64), 0x1F, zeros.left(64));
        row("read longest", ReadFrame(0x0800FF05, 251), 0x1F, zeros.left(251));
        row("read too long", ReadFrame(App, 252), 0x06);
        row("read running past end", ReadFrame(0x0800FFF0, 17), 0x04);
        row("read below base", ReadFrame(0x07FFFFFC, 4), 0x04);
        const QByteArray parameters = QByteArray::fromHex("00300008FFFF00080004");
        row("noise, then a frame", QByteArray("\x00zz\r^#A3014503\r", 15), 0x1F, parameters);
        row("frame restarted", "#A30#A3014503\r", 0x1F, parameters);
        row("bad CRC", "#A3014504\r", 0x01);
        row("bad CRC, silent", "#A3014504\r", -1);
        row("lower case hex", "#a3014503\r", 0x02);
        row("unknown command", Frame(0x55, 0x01), 0x03);
        const QByteArray block(64, 'b');    // a write frame of 150 characters
        row("max-frame: frame at the limit", WriteFrame(App, block), 0x1F, none, App, block, false, 150);
        row("max-frame: one over ignored, next answered", WriteFrame(App, block) + Frame(0xA3, 0x01), 0x1F,
            parameters, App, QByteArray(64, char(0xFF)), false, 149);
    }

    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, flash);
        QFETCH(int, status);
        QFETCH(quint32, at);
        SimConfig config;
        config.errorReplies = status >= 0;
        QFETCH(bool, strict);
        config.strictRewrite = strict;
        QFETCH(int, max);
        config.maxFrameChars = max;
        Rig rig(config);
        for (quint32 a = config.flashBase; a < config.flashBase + config.flashSize; ++a)
            rig.flash.Poke(a, a < App || a >= App + 0x400 ? '\0' : char(0xFF));
        QVector<SimReply> replies;
        for (char c : request)      // one character at a time, as a slow line delivers
            replies += rig.core.Feed(QByteArray(1, c));
        QVERIFY(!replies.isEmpty());
        for (int i = 0; i + 1 < replies.size(); ++i)
            QCOMPARE(Decoded(replies[i]).mid(1, 1), QByteArray("\x1F"));
        if (status < 0) {
            QCOMPARE(replies.last().Bytes(), QByteArray());
            return;
        }
        const QByteArray decoded = Decoded(replies.last());
        QCOMPARE(Crc(decoded), quint16(0));
        QCOMPARE(decoded.chopped(2), QByteArray(1, '\0') + char(status) + reply);
        if (!flash.isEmpty())
            QCOMPARE(rig.flash.Read(at, flash.size()), flash);
    }

    // Traffic: P parameter query, W write of the next 4-byte block, R read
    // of the next block, E erase of the next page.
    void faults_data()
    {
        for (const char *column : {"fault", "traffic", "outcomes"})
            QTest::addColumn<QString>(column);
        for (const char *row : {"drop:frame=2|P P P P|ok none ok ok", "drop:frame=2:count=2|P P P P|ok none none ok",
                                "drop:frame=2:count=-1|P P P P|ok none none none", "crc|P P|crc ok", "split|R R|split ok",
                                "BadStatus:frame=3|W W W W|ok ok status ok", "garbage:frame=2|R R|ok garbage",
                                "late:frame=2|E E E|ok late ok", "vanish:frame=2|P P|ok close",
                                "worn:cmd=0x64:arg=0x12:frame=2|W W R R|ok ok ok worn",
                                "drop:cmd=0x64:arg=0x02:frame=2|W R W R R|ok ok ok none ok",
                                "crc:cmd=0x64:arg=0x12:count=-1|R W P W|ok crc ok crc",
                                "drop:addr=0x08003040:count=-1|W W R R|ok none ok none"}) {
            const QStringList parts = QString(row).split('|');
            QTest::newRow(qPrintable(parts[0])) << parts[0] << parts[1] << parts[2];
        }
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, traffic);
        const SimConfig config = WithFault(fault);
        QCOMPARE(config.faults.size(), 1);
        Rig rig(config);
        const QByteArray block = QByteArray::fromHex("0102A5FF"), erased(4, char(0xFF));
        int writes = 0, reads = 0, erases = 0;
        QStringList seen;
        for (const QString &token : traffic.split(' ')) {
            const SimReply reply = rig.One(token == "P" ? Frame(0xA3, 0x01)
                                           : token == "W" ? WriteFrame(App + 0x40 * writes++, block)
                                           : token == "R" ? ReadFrame(App + 0x40 * reads++, 4)
                                           : EraseFrame(App + 0x400 * erases++, 1));
            const QByteArray line = reply.Bytes(), decoded = Decoded(reply), data = decoded.mid(2, 4);
            seen << (reply.closeLine ? (line.isEmpty() ? "close" : "close+reply") : line.isEmpty() ? "none"
                     : Crc(decoded) != 0 ? "crc" : decoded.at(1) != 0x1F ? "status"
                     : !line.startsWith('^') ? "garbage" : reply.pieces.size() > 1 ? "split"
                     : reply.delayMs >= config.lateDelayMs ? "late"
                     : token == "R" && data != block && data != erased ? "worn" : "ok");
        }
        QTEST(seen.join(' '), "outcomes");
    }

    // The same seed hits the same frames again, in bursts of the count.
    void chanceIsSeeded()
    {
        for (const auto &[fault, burst] : {std::pair<const char *, int>{"drop:p=0.3", 1}, {"drop:p=0.05:count=4", 4}}) {
            QString hits[3];
            for (int run = 0; run < 3; ++run) {
                Rig rig(WithFault(fault, run < 2 ? 7 : 8));
                for (int i = 0; i < 400; ++i)
                    hits[run] += rig.One(Frame(0xA3, 0x01)).pieces.isEmpty() ? 'x' : '.';
            }
            QCOMPARE(hits[1], hits[0]);
            QVERIFY(hits[2] != hits[0]);
            QVERIFY2(hits[0].count('x') > 60 && hits[0].count('x') < 180, qPrintable(hits[0]));
            const QStringList runs = hits[0].split('.', Qt::SkipEmptyParts);
            for (int i = 0; i + 1 < runs.size(); ++i)     // the last run may be cut off
                QVERIFY2(runs[i].size() % burst == 0, fault);
        }
    }

    // The loader takes one frame at a time: a read held back by a fault
    // holds back the erase sent right behind it, which then still takes
    // its own time, so its reply is not out yet when the read's comes.
    void lateReplyHoldsBackTheNext()
    {
        SimConfig config = WithFault("late:cmd=0x64");
        config.eraseDelayMs = 100;
        config.lateDelayMs = 400;
        const QByteArray requests = ReadFrame(App, 4) + EraseFrame(App, 2);
        Rig rig(config);
        const QVector<SimReply> planned = rig.core.Feed(requests);
        QCOMPARE(planned.size(), 2);
        QCOMPARE(planned[0].delayMs, 400);
        QCOMPARE(planned[1].delayMs, 2 * 100);
        SimulatedLoader loader(config);
        QVERIFY(loader.OpenPty());
        QSerialPort port(loader.SlavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(requests);
        QByteArray replies;
        QTRY_VERIFY_WITH_TIMEOUT((replies += port.readAll()).contains('\r'), 5000);
        QCOMPARE(replies.count('\r'), 1);    // the erase's reply is 200 ms behind
        QVERIFY(replies.startsWith("^001FFFFFFFFF"));
        QTRY_VERIFY_WITH_TIMEOUT((replies += port.readAll()).count('\r') == 2, 5000);
        QVERIFY(replies.mid(replies.indexOf('\r') + 1).startsWith("^001F"));
    }

    // Bytes the loader sends at given times, and what the host has by
    // then: "p70@0" puts 70 bytes at 0 ms, "t16=8" takes 8 bytes at 16 ms,
    // "n16" the next release due at 16 ms ("n-": nothing held).
    void adapter_data()
    {
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<QString>("script");
        QTest::newRow("full packet at once, rest held") << 16 << "p70@0 t0=62 n16 t15=0 t16=8 n-";
        QTest::newRow("held from its last byte") << 16 << "p10@0 p10@5 t20=0 n21 t21=20";
        QTest::newRow("order kept across packets") << 4 << "p40@0 p40@1 p50@2 t2=124 p1@3 t6=0 t7=7 p300@8 t8=248";
        QTest::newRow("latency 0 passes through") << 0 << "p5@0 n0 t0=5 n- p130@1 t1=130";
    }

    void adapter()
    {
        QFETCH(int, latencyMs);
        QFETCH(QString, script);
        AdapterModel model(latencyMs);
        const auto numbered = [](int from, int n) { QByteArray bytes; while (n--) bytes += char(from++); return bytes; };
        int put = 0, taken = 0;
        for (const QString &step : script.split(' ')) {
            const QStringList f = step.mid(1).split(QRegularExpression("[@=]"));
            if (step[0] == 'n') {
                QCOMPARE(model.NextDueNs(), f[0] == "-" ? -1 : f[0].toLongLong() * 1000000);
            } else if (step[0] == 'p') {
                model.Put(numbered(put, f[0].toInt()), f[1].toLongLong() * 1000000);
                put += f[0].toInt();
            } else {
                QCOMPARE(model.Take(f[0].toLongLong() * 1000000), numbered(taken, f[1].toInt()));
                taken += f[1].toInt();
            }
        }
    }

    // An image of 8 bytes for the application start against what the flash holds there.
    void bootCheck_data()
    {
        QTest::addColumn<QByteArray>("flash");
        QTest::addColumn<qint64>("mismatch");
        const QByteArray image = QByteArray::fromHex("00500020C1010008");
        QTest::newRow("first word erased") << QByteArray::fromHex("FFFFFFFFC1010008") << qint64(-1);
        QTest::newRow("flash differs past the image") << image + "\x01" << qint64(-1);
        QTest::newRow("one byte differs") << QByteArray::fromHex("00500020C1010009") << qint64(App + 7);
        QTest::newRow("first word half written") << image.left(1) << qint64(App + 1);
        QTest::newRow("first word, its first byte still erased") << QByteArray::fromHex("FFFFFF20") << qint64(App);
    }

    void bootCheck()
    {
        QFETCH(QByteArray, flash);
        Rig rig;
        QCOMPARE(rig.flash.Write(App, flash), StatusOk);
        QTEST(BootMismatch(rig.flash, QByteArray::fromHex("00500020C1010008")), "mismatch");
    }

    // Path printed and linked, clients served in turn through an adapter,
    // flash dumped on SIGTERM before the boot check finds the half-written
    // image.
    void program()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("line"), dump = dir.filePath("flash.bin"), image = dir.filePath("app.bin");
        QFile imageFile(image);
        QVERIFY(imageFile.open(QIODevice::WriteOnly) && imageFile.write("\xFF\xFFsim!") == 6);
        imageFile.close();
        QProcess sim;
        sim.start(qEnvironmentVariable("TAMRIVO_BIN_DIR") + "/tamrivo-loader-sim",
                  {"--link", link, "--dump", dump, "--boot-check", image, "--flash-size", "0x8000", "--latency", "16",
                   "--fault", "drop:cmd=0x21:count=-1"});
        QVERIFY(sim.waitForReadyRead(5000));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.readLine()).trimmed());
        for (int client = 1; client <= 2; ++client) {
            QSerialPort port(link);
            QVERIFY(port.open(QIODevice::ReadWrite));
            // No reply to the erase: the write's comes first, then the parameters.
            port.write(EraseFrame(App, 1) + WriteFrame(App + 2, "sim") + Frame(0xA3, 0x01));
            QByteArray replies;
            QTRY_VERIFY_WITH_TIMEOUT((replies += port.readAll()).count('\r') >= 2, 5000);
            QVERIFY2(replies.mid(replies.indexOf('\r') + 1).startsWith("^001F00300008FF7F0008"), replies.constData());
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000) && sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 3);
        QVERIFY(sim.readAllStandardError().contains("0x08003005 differs from " + image.toLocal8Bit()));
        QVERIFY(!QFileInfo(link).isSymLink());
        QFile file(dump);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(0x3000, '\xFF') + "\xFF\xFFsim" + QByteArray(0x8000 - 0x3005, '\xFF'));
    }

    // Boards pulled (P, SIGUSR1) and seated (S, SIGUSR2) under a host on
    // the link: o (re)opens the port there; q asks for the parameters, q-
    // hears nothing; w writes "sim" at the application start, r reads it
    // back, e reads it erased; c has a long reply 20 characters under way;
    // x the line the host held is gone; L+/L- the link is there or gone.
    // Then the dumps: "b2" for flash.bin.b2, "exit" for flash.bin.
    void boards_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("dumps");
        QTest::newRow("pulled silent, seated erased, line kept") << QStringList() << "o w r P q- S e" << "b1=sim exit=erased";
        QTest::newRow("empty socket, image on seating") << QStringList{"--no-board", "--image", "IMAGE"} << "o q- S r"
                                                        << "exit=sim";
        QTest::newRow("pulled mid-reply") << QStringList{"--baud", "9600"} << "o c P q- S q" << "b1=erased exit=erased";
        QTest::newRow("USB board takes its link") << QStringList{"--pull-unlinks", "--no-board"}
                                                  << "L- S L+ o w P x L- S L+ o e P" << "b1=sim b2=erased";
        QTest::newRow("dumps per device") << QStringList{"--link", "SECOND"} << "o w P S" << "1.b1=sim 2.b1=erased 1=erased 2=erased";
    }

    void boards()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, script);
        QTemporaryDir dir;
        const QString link = dir.filePath("line"), image = dir.filePath("app.bin");
        QFile imageFile(image);
        QVERIFY(imageFile.open(QIODevice::WriteOnly) && imageFile.write(QByteArray(0x3000, '\xFF') + "sim") == 0x3003);
        imageFile.close();
        options.replaceInStrings("IMAGE", image).replaceInStrings("SECOND", dir.filePath("second"));
        QProcess sim;
        sim.start(qEnvironmentVariable("TAMRIVO_BIN_DIR") + "/tamrivo-loader-sim",
                  QStringList{"--link", link, "--dump", dir.filePath("flash.bin"), "--verbose", "--flash-size", "0x8000"} + options);
        QVERIFY(sim.waitForReadyRead(5000));
        QSerialPort port(link);
        QByteArray log;
        QString held;
        const auto send = [&port](const QByteArray &request) { port.readAll(); port.write(request); port.waitForBytesWritten(1000); };
        for (const QString &step : script.split(' ')) {
            if (step == "P" || step == "S") {
                const QByteArray done = step == "P" ? "pulled" : "seated";
                const int before = log.count(done);
                ::kill(pid_t(sim.processId()), step == "P" ? SIGUSR1 : SIGUSR2);
                QTRY_VERIFY2_WITH_TIMEOUT((log += sim.readAllStandardError()).count(done) > before, log.constData(), 5000);
            } else if (step == "o") {
                port.close();
                QVERIFY(port.open(QIODevice::ReadWrite));
                held = QFileInfo(link).symLinkTarget();
            } else if (step == "x") {
                QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(held), 5000);
            } else if (step.startsWith('L')) {
                QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(link).isSymLink(), step == "L+", 5000);
            } else if (step == "c") {
                send(ReadFrame(App, 251));
                QVERIFY(Listen(port, 20, 5000).size() >= 20);
            } else {
                send(step == "w" ? WriteFrame(App, "sim") : step[0] == 'q' ? Frame(0xA3, 0x01) : ReadFrame(App, 3));
                const QByteArray reply = step == "q-" ? "" : step == "r" ? "^001F73696D" : step == "e" ? "^001FFFFFFF" : "^001F";
                const QByteArray heard = Listen(port, reply.isEmpty() ? 1 : reply.size(), reply.isEmpty() ? 300 : 5000);
                QVERIFY2(heard.startsWith(reply) && (!reply.isEmpty() || heard.isEmpty()), qPrintable(step + ": " + heard));
            }
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000) && sim.exitCode() == 0);
        QFETCH(QString, dumps);
        QCOMPARE(QDir(dir.path()).entryList({"flash.bin*"}).size(), dumps.count('='));
        for (const QString &dump : dumps.split(' ')) {
            const QStringList kv = dump.split('=');
            QFile file(dir.filePath("flash.bin") + (kv[0] == "exit" ? "" : "." + kv[0]));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
            QCOMPARE(file.readAll().mid(0x3000, 3), kv[1] == "sim" ? QByteArray("sim") : QByteArray(3, '\xFF'));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatedLoader)
#include "tst_simulatedloader.moc"
