// The loader core, bytes in and bytes out: what the flash accepts, what
// the faults do to the replies, and how frames are recognised.

#include "loadercore.h"
#include "simframes.h"

#include <QtTest>

namespace {

// One reply as the tool would judge it.
struct Judged {
    bool present = false;
    bool garbage = false;   // characters before the "^"
    bool crcOk = false;
    int status = -1;
    QByteArray data;        // between status and CRC
};

Judged Judge(const SimReply &reply)
{
    Judged judged;
    const QByteArray line = reply.Bytes();
    judged.present = !line.isEmpty();
    const int start = line.indexOf('^');
    if (start < 0 || !line.endsWith('\r'))
        return judged;
    judged.garbage = start > 0;
    const QByteArray bytes = QByteArray::fromHex(line.mid(start + 1, line.size() - start - 2));
    if (bytes.size() < 4)
        return judged;
    judged.crcOk = Crc(bytes) == 0;
    judged.status = quint8(bytes.at(1));
    judged.data = bytes.mid(2, bytes.size() - 4);
    return judged;
}

struct Rig {
    explicit Rig(const SimConfig &config = SimConfig())
        : flash(config.flashBase, config.flashSize, config.pageSize, config.loaderSize),
          core(config, &flash) {}

    SimReply One(const QByteArray &frame)
    {
        const QVector<SimReply> replies = core.Feed(frame);
        return replies.size() == 1 ? replies.first() : SimReply();
    }
    Judged Ask(const QByteArray &frame) { return Judge(One(frame)); }

    FlashModel flash;
    LoaderCore core;
};

SimConfig WithFault(const QString &spec, quint32 seed = 1)
{
    SimConfig config;
    config.seed = seed;
    FaultRule rule;
    if (ParseFaultRule(spec, &rule))
        config.faults.append(rule);
    return config;
}

constexpr quint32 App = 0x08003000;

} // namespace

class TestLoaderCore : public QObject
{
    Q_OBJECT

private slots:
    void knownFrames();
    void parameters();
    void write_data();
    void write();
    void erase_data();
    void erase();
    void read_data();
    void read();
    void malformed_data();
    void malformed();
    void faults_data();
    void faults();
    void wornCell();
    void chanceIsSeeded_data();
    void chanceIsSeeded();
    void faultSyntax_data();
    void faultSyntax();
};

// Frames written out by hand pin the CRC and the hex layout down; the
// rows run in order on one loader.
void TestLoaderCore::knownFrames()
{
    const QList<QPair<QByteArray, QByteArray>> exchanges = {
        {"#A3014503\r", "^001F00300008FFFF00080004DA6D\r"},
        {"#2112000000080100C08D\r", "^00045D8B\r"},
        {"#2112003000080100CC63\r", "^001FFED1\r"},
        {"#6412003000080400DEADBEEF6A1A\r", "^001FFED1\r"},
        {"#6402003000080400BA83\r", "^001FDEADBEEFABE4\r"},
    };
    Rig rig;
    for (const auto &exchange : exchanges)
        QCOMPARE(rig.One(exchange.first).Bytes(), exchange.second);
}

void TestLoaderCore::parameters()
{
    Rig rig;
    const Judged judged = rig.Ask("#A3014503\r");
    QVERIFY(judged.crcOk);
    QCOMPARE(judged.status, 0x1F);
    QCOMPARE(judged.data, Le(0x08003000, 4) + Le(0x0800FFFF, 4) + Le(1024, 2));
}

void TestLoaderCore::write_data()
{
    QTest::addColumn<QByteArray>("before");     // programmed at App first
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("after");      // flash at App afterwards

    const QByteArray abcd = QByteArray::fromHex("A1B2C3D4");
    const QByteArray ff = QByteArray(4, char(0xFF));
    QTest::newRow("erased") << QByteArray() << App << abcd << 0x1F << abcd;
    QTest::newRow("retry of same bytes") << abcd << App << abcd << 0x1F << abcd;
    QTest::newRow("programmed differs") << abcd << App << QByteArray::fromHex("A1B2C3D5") << 0x05 << abcd;
    QTest::newRow("0xFF over programmed") << abcd << App << ff << 0x05 << abcd;
    QTest::newRow("first byte already equal") << QByteArray::fromHex("A1") << App << QByteArray::fromHex("A1B2C3D4") << 0x1F << abcd;
    QTest::newRow("partial clash refused whole") << QByteArray::fromHex("A100") << App << abcd << 0x05 << QByteArray::fromHex("A100FFFF");
    QTest::newRow("loader area") << QByteArray() << App - 2 << abcd << 0x04 << ff;
    QTest::newRow("past flash end") << QByteArray() << quint32(0x0800FFFE) << abcd << 0x04 << ff;
    QTest::newRow("empty block") << QByteArray() << App << QByteArray() << 0x1F << ff;
}

void TestLoaderCore::write()
{
    QFETCH(QByteArray, before);
    QFETCH(quint32, address);
    QFETCH(QByteArray, data);
    QFETCH(int, status);
    QFETCH(QByteArray, after);
    Rig rig;
    if (!before.isEmpty())
        QCOMPARE(rig.Ask(WriteFrame(App, before)).status, 0x1F);
    const Judged judged = rig.Ask(WriteFrame(address, data));
    QVERIFY(judged.crcOk);
    QCOMPARE(judged.status, status);
    QCOMPARE(rig.flash.Read(App, 4), after);
    QCOMPARE(rig.flash.Read(0x0800FFFC, 4), QByteArray(4, char(0xFF)));
}

void TestLoaderCore::erase_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("status");
    QTest::addColumn<quint32>("first");     // erased range, inclusive
    QTest::addColumn<quint32>("last");

    QTest::newRow("mid page") << quint32(0x08003A10) << 1 << 0x1F << quint32(0x08003800) << quint32(0x08003BFF);
    QTest::newRow("three pages") << quint32(0x08004000) << 3 << 0x1F << quint32(0x08004000) << quint32(0x08004BFF);
    QTest::newRow("last page") << quint32(0x0800FFFF) << 1 << 0x1F << quint32(0x0800FC00) << quint32(0x0800FFFF);
    QTest::newRow("runs past end") << quint32(0x0800FC00) << 2 << 0x04 << quint32(0) << quint32(0);
    QTest::newRow("loader page") << quint32(0x08002C00) << 1 << 0x04 << quint32(0) << quint32(0);
    QTest::newRow("below base") << quint32(0x07FFFC00) << 1 << 0x04 << quint32(0) << quint32(0);
    QTest::newRow("above flash") << quint32(0x08010000) << 1 << 0x04 << quint32(0) << quint32(0);
}

void TestLoaderCore::erase()
{
    QFETCH(quint32, address);
    QFETCH(int, count);
    QFETCH(int, status);
    QFETCH(quint32, first);
    QFETCH(quint32, last);
    Rig rig;
    const quint32 appSize = 0x10000 - 0x3000;
    QCOMPARE(rig.flash.Write(App, QByteArray(int(appSize), '\0')), StatusOk);
    QCOMPARE(rig.Ask(EraseFrame(address, count)).status, status);
    const QByteArray contents = rig.flash.Contents();
    QList<quint32> probes = {first - 1, first, last, last + 1};
    for (quint32 a = App; a <= 0x0800FFFF; a += 0x200)
        probes << a;
    for (quint32 a : probes) {
        if (a < App || a > 0x0800FFFF)
            continue;
        const bool erased = first != 0 && a >= first && a <= last;
        QCOMPARE(contents.at(int(a - 0x08000000)), erased ? char(0xFF) : '\0');
    }
}

void TestLoaderCore::read_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("replyData");     // -1: refused, short reply

    QTest::newRow("loader area") << quint32(0x08000000) << 64 << 64;
    QTest::newRow("longest") << quint32(0x0800FF05) << 251 << 251;
    QTest::newRow("too long") << App << 252 << -1;
    QTest::newRow("runs past end") << quint32(0x0800FFF0) << 17 << -1;
    QTest::newRow("below base") << quint32(0x07FFFFFC) << 4 << -1;
    QTest::newRow("above flash") << quint32(0x08010000) << 4 << -1;
}

void TestLoaderCore::read()
{
    QFETCH(quint32, address);
    QFETCH(int, length);
    QFETCH(int, replyData);
    Rig rig;
    const Judged judged = rig.Ask(ReadFrame(address, length));
    QVERIFY(judged.crcOk);
    if (replyData < 0) {
        QVERIFY(judged.status != 0x1F);
        QVERIFY(judged.data.isEmpty());
    } else {
        QCOMPARE(judged.status, 0x1F);
        QCOMPARE(judged.data, QByteArray(replyData, char(0xFF)));
    }
}

void TestLoaderCore::malformed_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("errorStatus");       // with error replies; 0: a good frame

    QTest::newRow("bad CRC") << QByteArray("#A3014504\r") << 0x01;
    QTest::newRow("lower case") << QByteArray("#a3014503\r") << 0x02;
    QTest::newRow("odd digits") << QByteArray("#A301450\r") << 0x02;
    QTest::newRow("too short") << QByteArray("#A301\r") << 0x02;
    QTest::newRow("unknown command") << Frame(0x55, 0x01) << 0x03;
    QTest::newRow("query, wrong argument") << Frame(0xA3, 0x02) << 0x03;
    QTest::newRow("noise, then a frame") << QByteArray("\x00zz\r^#A3014503\r", 15) << 0;
    QTest::newRow("frame restarted") << QByteArray("#A30#A3014503\r") << 0;
}

void TestLoaderCore::malformed()
{
    QFETCH(QByteArray, input);
    QFETCH(int, errorStatus);
    for (bool errorReplies : {false, true}) {
        SimConfig config;
        config.errorReplies = errorReplies;
        Rig rig(config);
        QVector<SimReply> replies;
        for (char c : input)        // one character at a time, as a slow line delivers
            replies += rig.core.Feed(QByteArray(1, c));
        QCOMPARE(replies.size(), 1);
        QCOMPARE(rig.core.FramesReceived(), 1);
        const Judged judged = Judge(replies.first());
        if (errorStatus == 0) {
            QCOMPARE(judged.status, 0x1F);
        } else if (errorReplies) {
            QVERIFY(judged.crcOk);
            QCOMPARE(judged.status, errorStatus);
        } else {
            QVERIFY(!judged.present);
        }
    }
}

// Traffic: P parameter query, W write of the next 4-byte block, R read of
// the next block, E erase of the next page. Outcome per frame: ok, none,
// crc, status, garbage, split, late, close.
void TestLoaderCore::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("traffic");
    QTest::addColumn<QString>("outcomes");

    QTest::newRow("drop 2nd") << "drop:frame=2" << "P P P P" << "ok none ok ok";
    QTest::newRow("drop 2 from 2nd") << "drop:frame=2:count=2" << "P P P P" << "ok none none ok";
    QTest::newRow("drop all from 2nd") << "drop:frame=2:count=-1" << "P P P P" << "ok none none none";
    QTest::newRow("crc 1st") << "crc" << "P P" << "crc ok";
    QTest::newRow("status 3rd") << "BadStatus:frame=3" << "W W W W" << "ok ok status ok";
    QTest::newRow("garbage") << "garbage:frame=2" << "R R" << "ok garbage";
    QTest::newRow("split") << "split" << "R R" << "split ok";
    QTest::newRow("late") << "late:frame=2" << "E E E" << "ok late ok";
    QTest::newRow("vanish") << "vanish:frame=2" << "P P" << "ok close";
    QTest::newRow("reads only") << "drop:cmd=0x64:arg=0x02:frame=2" << "W R W R R" << "ok ok ok none ok";
    QTest::newRow("writes only") << "crc:cmd=0x64:arg=0x12:count=-1" << "R W P W" << "ok crc ok crc";
    QTest::newRow("command both ways") << "drop:cmd=0x64:frame=2" << "W R W" << "ok none ok";
    QTest::newRow("one address") << "drop:addr=0x08003040:count=-1" << "W W R R" << "ok none ok none";
}

void TestLoaderCore::faults()
{
    QFETCH(QString, fault);
    QFETCH(QString, traffic);
    QFETCH(QString, outcomes);
    SimConfig config = WithFault(fault);
    QCOMPARE(config.faults.size(), 1);
    Rig rig(config);
    int writes = 0, reads = 0, erases = 0;
    QStringList seen;
    for (const QString &token : traffic.split(' ')) {
        QByteArray frame;
        if (token == "P")
            frame = Frame(0xA3, 0x01);
        else if (token == "W")
            frame = WriteFrame(App + 0x40 * writes++, QByteArray::fromHex("0102A5FF"));
        else if (token == "R")
            frame = ReadFrame(App + 0x40 * reads++, 4);
        else
            frame = EraseFrame(App + 0x400 * erases++, 1);
        const SimReply reply = rig.One(frame);
        const Judged judged = Judge(reply);
        if (reply.closeLine)
            seen << (judged.present ? "close+reply" : "close");
        else if (!judged.present)
            seen << "none";
        else if (!judged.crcOk)
            seen << "crc";
        else if (judged.status != 0x1F)
            seen << "status";
        else if (judged.garbage)
            seen << "garbage";
        else if (reply.pieces.size() > 1)
            seen << "split";
        else if (reply.delayMs >= config.lateDelayMs)
            seen << "late";
        else
            seen << "ok";
    }
    QCOMPARE(seen.join(' '), outcomes);
}

// Only a verify pass can notice a worn cell: the write is acknowledged.
void TestLoaderCore::wornCell()
{
    Rig rig(WithFault("worn:cmd=0x64:arg=0x12:frame=2"));
    const QByteArray data = QByteArray::fromHex("DEADBEEF");
    QCOMPARE(rig.Ask(WriteFrame(App, data)).status, 0x1F);
    QCOMPARE(rig.Ask(WriteFrame(App + 4, data)).status, 0x1F);
    QCOMPARE(rig.Ask(ReadFrame(App, 4)).data, data);
    const QByteArray stored = rig.Ask(ReadFrame(App + 4, 4)).data;
    QCOMPARE(stored.mid(1), data.mid(1));
    QVERIFY(stored.at(0) != data.at(0));
    QCOMPARE(rig.Ask(WriteFrame(App + 4, data)).status, 0x05);
}

void TestLoaderCore::chanceIsSeeded_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("burst");
    QTest::newRow("single frames") << "drop:p=0.3" << 1;
    QTest::newRow("bursts of 4") << "drop:p=0.05:count=4" << 4;
}

void TestLoaderCore::chanceIsSeeded()
{
    QFETCH(QString, fault);
    QFETCH(int, burst);
    const int frames = 400;
    auto pattern = [&](quint32 seed) {
        Rig rig(WithFault(fault, seed));
        QString hits;
        for (int i = 0; i < frames; ++i)
            hits += rig.One(Frame(0xA3, 0x01)).pieces.isEmpty() ? 'x' : '.';
        return hits;
    };
    const QString first = pattern(7);
    QCOMPARE(pattern(7), first);
    QVERIFY(pattern(8) != first);
    const int hits = first.count('x');
    QVERIFY2(hits > frames * 0.15 && hits < frames * 0.45, qPrintable(first));
    const QStringList runs = first.split('.', Qt::SkipEmptyParts);
    for (int i = 0; i + 1 < runs.size(); ++i)     // the last run may be cut off
        QVERIFY2(runs.at(i).size() % burst == 0, qPrintable(first));
}

void TestLoaderCore::faultSyntax_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("everything") << "split:frame=3:count=2:cmd=0x64:arg=2:addr=0x08003080" << true;
    QTest::newRow("chance") << "LateReply:p=0.25" << true;
    QTest::newRow("unknown kind") << "explode" << false;
    QTest::newRow("chance above 1") << "drop:p=1.5" << false;
    QTest::newRow("frame 0") << "drop:frame=0" << false;
    QTest::newRow("count 0") << "drop:count=0" << false;
    QTest::newRow("command too big") << "drop:cmd=0x100" << false;
    QTest::newRow("unknown key") << "drop:when=1" << false;
    QTest::newRow("no value") << "drop:frame" << false;
}

void TestLoaderCore::faultSyntax()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    FaultRule rule;
    QString error;
    QCOMPARE(ParseFaultRule(text, &rule, &error), valid);
    QCOMPARE(error.isEmpty(), valid);
    if (text.startsWith("split")) {
        QCOMPARE(rule.kind, FaultKind::SplitReply);
        QCOMPARE(rule.frame, 3);
        QCOMPARE(rule.count, 2);
        QCOMPARE(rule.command, 0x64);
        QCOMPARE(rule.argument, 2);
        QCOMPARE(rule.address, qint64(0x08003080));
    }
}

QTEST_GUILESS_MAIN(TestLoaderCore)
#include "tst_loadercore.moc"
