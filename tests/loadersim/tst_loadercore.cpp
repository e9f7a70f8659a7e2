// The loader core, bytes in and bytes out.

#include "loadercore.h"
#include "simframes.h"

#include <QtTest>

// The bytes between "^" and the carriage return, decoded; empty if none.
static QByteArray Decoded(const SimReply &reply)
{
    const QByteArray line = reply.Bytes();
    const int start = line.indexOf('^');
    return start >= 0 && line.endsWith('\r') ? QByteArray::fromHex(line.mid(start + 1, line.size() - start - 2)) : QByteArray();
}

struct Rig {
    explicit Rig(const SimConfig &c = {}) : flash(c.flashBase, c.flashSize, c.pageSize, c.loaderSize, c.strictRewrite), core(c, &flash) {}
    SimReply One(const QByteArray &frame) { const auto all = core.Feed(frame); return all.size() == 1 ? all[0] : SimReply(); }
    FlashModel flash;
    LoaderCore core;
};

static SimConfig WithFault(const QString &text, quint32 seed = 1)
{
    SimConfig config;
    config.seed = seed;
    FaultRule rule;
    if (ParseFaultRule(text, &rule))
        config.faults = {rule};
    return config;
}

class TestLoaderCore : public QObject
{
    Q_OBJECT

private slots:
    // Written out by hand, on one loader; malformed frames are silent by default.
    void knownFrames()
    {
        const QList<QPair<QByteArray, QByteArray>> exchanges = {
            {"#A3014503\r", "^001F00300008FFFF00080004DA6D\r"},
            {"#2112000000080100C08D\r", "^00045D8B\r"},
            {"#6412003000080400DEADBEEF6A1A\r", "^001FFED1\r"},
            {"#6402003000080400BA83\r", "^001FDEADBEEFABE4\r"},
            {"#A3014504\r", ""},
            {Frame(0x55, 0x01), ""},
        };
        Rig rig;
        for (const auto &exchange : exchanges)
            QCOMPARE(rig.One(exchange.first).Bytes(), exchange.second);
    }

    // On a flash of zeros but for the first application page; the frames
    // before the last must succeed. "flash": what the flash then holds at "at";
    // "strict": refuse re-writes of an equal value.
    void requests_data()
    {
        for (const char *column : {"request", "reply", "flash"})
            QTest::addColumn<QByteArray>(column);
        QTest::addColumn<int>("status");
        QTest::addColumn<quint32>("at");
        QTest::addColumn<bool>("strict");
        const auto row = [](const char *name, const QByteArray &request, int status, const QByteArray &reply = {},
                            quint32 at = 0, const QByteArray &flash = {}, bool strict = false) {
            QTest::newRow(name) << request << reply << flash << status << at << strict;
        };
        const QByteArray abcd = QByteArray::fromHex("A1B2C3D4"), clash = QByteArray::fromHex("FFFF00FF");
        const QByteArray none, zero(1, '\0'), zeros(0x400, '\0');
        const auto erased = [&](int n) { return zero + QByteArray(n, char(0xFF)) + zero; };
        row("write erased", WriteFrame(App, abcd), 0x1F, none, App, abcd);
        row("write retry of same bytes", WriteFrame(App, abcd) + WriteFrame(App, abcd), 0x1F, none, App, abcd);
        row("write first byte already equal", WriteFrame(App, "\xA1") + WriteFrame(App, abcd), 0x1F, none, App, abcd);
        row("strict: write retry refused", WriteFrame(App, abcd) + WriteFrame(App, abcd), 0x05, none, App, abcd, true);
        row("strict: first byte equal refused whole", WriteFrame(App, "\xA1") + WriteFrame(App, abcd), 0x05, none, App,
            QByteArray::fromHex("A1FFFFFF"), true);
        row("write differing byte", WriteFrame(App, abcd) + WriteFrame(App, QByteArray::fromHex("A1B2C3D5")), 0x05, none, App, abcd);
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
        row("lower case hex", "#a3014503\r", 0x02);
        row("unknown command", Frame(0x55, 0x01), 0x03);
    }

    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, flash);
        QFETCH(int, status);
        QFETCH(quint32, at);
        QFETCH(bool, strict);
        SimConfig config;
        config.errorReplies = true;
        config.strictRewrite = strict;
        Rig rig(config);
        for (quint32 a = config.flashBase; a < config.flashBase + config.flashSize; ++a)
            rig.flash.Poke(a, a < App || a >= App + 0x400 ? '\0' : char(0xFF));
        QVector<SimReply> replies;
        for (char c : request)      // one character at a time, as a slow line delivers
            replies += rig.core.Feed(QByteArray(1, c));
        QVERIFY(!replies.isEmpty());
        for (int i = 0; i + 1 < replies.size(); ++i)
            QCOMPARE(Decoded(replies[i]).mid(1, 1), QByteArray("\x1F"));
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
                                "crc:cmd=0x64:arg=0x12:count=-1|R W P W|ok crc ok crc", "drop:cmd=0x64:frame=2|W R W|ok none ok",
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
};

QTEST_GUILESS_MAIN(TestLoaderCore)
#include "tst_loadercore.moc"
