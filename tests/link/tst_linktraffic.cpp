// The frame codec, and the link's traffic with a scripted loader on a
// pseudo-terminal.
#include "devicelink.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr quint8 ShortTimeoutMs = 100;
const QByteArray Untouched("untouched"), Header = QByteArray::fromHex("000000080400"), Ack("^001FFED1\r");

quint16 CrcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return crc;
}

// The start character, the bytes given in hex and a CRC that checks.
QByteArray Framed(const QByteArray &hex, char start = '^')
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    const quint16 crc = CrcOver(bytes);
    return start + (bytes + char(crc >> 8) + char(crc & 0xFF)).toHex().toUpper() + '\r';
}

// The loader's end of a pseudo-terminal. While the link processes events it
// collects each frame sent and answers with the next scripted reply: empty
// is silence, '|' splits it into pieces written 20 ms apart, and '~' in
// front makes a stuck loader: it sends the reply, then again every 40 ms
// for replayMs (-1: for ever), and answers the frames that came meanwhile
// in order after that. It holds the slave open too, so the master never
// reads EIO while the port is closed.
class PtyPeer
{
public:
    PtyPeer()
    {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = QString::fromLocal8Bit(name);
        notifier.reset(new QSocketNotifier(master, QSocketNotifier::Read));
        QObject::connect(notifier.data(), &QSocketNotifier::activated, [this] { TakeInput(); });
        replay.setTimerType(Qt::PreciseTimer);
        QObject::connect(&replay, &QTimer::timeout, [this] { Write(stale); });
        replayEnd.setSingleShot(true);
        QObject::connect(&replayEnd, &QTimer::timeout, [this] {
            replay.stop();
            AnswerOwed();
        });
    }
    ~PtyPeer()
    {
        notifier.reset();
        ::close(master);
        ::close(slave);
    }
    void Write(const QByteArray &bytes)
    {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qFatal("PtyPeer: short write");
    }

    QString slavePath;
    QList<QByteArray> frames, script;
    int replayMs = -1;

private:
    void TakeInput()
    {
        char buffer[1024];
        for (ssize_t count; (count = ::read(master, buffer, sizeof buffer)) > 0;)
            pending.append(buffer, int(count));
        for (int end; (end = pending.indexOf('\r')) >= 0; pending.remove(0, end + 1)) {
            frames.append(pending.left(end + 1));
            ++owed;
        }
        AnswerOwed();
    }

    void AnswerOwed()
    {
        for (; owed > 0 && !replay.isActive(); --owed) {
            const QByteArray reply = script.isEmpty() ? QByteArray() : script.takeFirst();
            if (reply.startsWith('~')) {
                stale = reply.mid(1);
                Write(stale);
                replay.start(40);
                if (replayMs >= 0)
                    replayEnd.start(replayMs);
                continue;
            }
            const QList<QByteArray> pieces = reply.split('|');
            Write(pieces.value(0));
            for (int i = 1; i < pieces.size(); ++i)
                QTimer::singleShot(i * 20, Qt::PreciseTimer, notifier.data(),
                                   [this, piece = pieces.at(i)] { Write(piece); });
        }
    }

    int master = -1, slave = -1, owed = 0;
    QScopedPointer<QSocketNotifier> notifier;
    QByteArray pending, stale;
    QTimer replay, replayEnd;
};

// A loader command, which runs a failed transaction once more, or "query":
// one transaction with the read header, a short time-out and length as the
// reply's length. An empty reply is silence; every frame sent is the
// call's frame. inStep: the link trusts the line afterwards.
struct Call
{
    QByteArray call;
    int length;
    QByteArrayList replies;
    int result, frames;
    QByteArray value;
    bool inStep = true;
};

// An erase, then a read of readLength bytes, each a loader command, after
// the parameter query drew the replies asked (none: never asked). frames:
// a letter a frame, E(rase), R(ead) or P(arameter query), after the query.
struct Turns
{
    QByteArrayList asked;
    QByteArrayList replies;
    int replayMs, readLength, eraseResult, readResult;
    QByteArray frames, value;
    bool inStep;
};

// The first letter of each frame's command.
QByteArray Letters(const QList<QByteArray> &frames)
{
    QByteArray letters;
    for (const QByteArray &frame : frames)
        letters += frame.startsWith("#A301") ? 'P' : frame.startsWith("#21") ? 'E' : frame.startsWith("#64") ? 'R' : '?';
    return letters;
}

} // namespace

Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Turns)

class TestLinkTraffic : public QObject
{
    Q_OBJECT

    QScopedPointer<PtyPeer> peer;
    QScopedPointer<QSerialPort> port;
    DeviceLink link;

private slots:
    void crcAndFrames()
    {
        QCOMPARE(CrcOver("123456789"), quint16(0x29B1));
        QCOMPARE(link.EncodeFrame(0xA3, 0x01, QByteArray()), QByteArray("#A3014503\r"));
        QCOMPARE(link.EncodeFrame(0x21, 0x12, QByteArray::fromHex("004000080100")),
                 QByteArray("#2112004000080100D1E5\r"));
        QVERIFY(link.EncodeFrame(0x64, 0x12, QByteArray(256, '\x5A')).isEmpty());   // too long for one frame
    }

    void decodeLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("noise around") << QByteArray("\x01x^0A0B\rFFZ^") << 2 << QByteArray::fromHex("0A0B");
        QTest::newRow("no line end") << QByteArray("^0A0B") << 0 << QByteArray();
        QTest::newRow("no start") << QByteArray("001FFED1\r") << -1 << QByteArray("kept");
        QTest::newRow("odd digits") << QByteArray("^ABC\r") << -1 << QByteArray::fromHex("AB");
        QTest::newRow("lower case") << QByteArray("^001ffed1\r") << -1 << QByteArray::fromHex("00");
        QTest::newRow("255 bytes") << "^" + QByteArray(510, '7') + "\r" << 255 << QByteArray(255, '\x77');
        QTest::newRow("256 bytes") << "^" + QByteArray(512, '7') + "\r" << -1 << QByteArray(255, '\x77');
    }

    void decodeLine()
    {
        QFETCH(QByteArray, line);
        QByteArray out("kept");
        QTEST(link.DecodeLine(line, &out), "count");
        QTEST(out, "bytes");
    }

    // The loader keeps its whole time-out: the wait adds the wire time of the frame and of the longest reply.
    void attemptTime_data()
    {
        QTest::addColumn<int>("dataBytes");
        QTest::addColumn<int>("replyLength");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("ms");
        QTest::newRow("64-byte write, 9600") << 70 << 4 << 208 << 9600 << 208 + 167;
        QTest::newRow("64-byte write, 19200") << 70 << 4 << 208 << 19200 << 208 + 84;
        QTest::newRow("64-byte read, 9600") << 6 << 68 << 208 << 9600 << 208 + 167;
        QTest::newRow("parameters, 19200") << 0 << 14 << 200 << 19200 << 200 + 21;
        QTest::newRow("248-byte write, 19200") << 254 << 4 << 208 << 19200 << 208 + 275;
        QTest::newRow("no line") << 70 << 4 << 208 << 0 << 208;
    }

    void attemptTime()
    {
        QFETCH(int, dataBytes);
        QFETCH(int, replyLength);
        QFETCH(int, timeoutMs);
        QFETCH(int, baud);
        QTEST(DeviceLink::AttemptMs(dataBytes, replyLength, timeoutMs, baud), "ms");
    }

    // The proof after a line that would not fall quiet, fed without a port:
    // a guard interval of 100 ms, a budget of 500 ms. Events: start, probe
    // (sent), P@t the known reply, S@t a stale reply of the same length,
    // x@t a line that would not decode, h@t bytes without a line end, c@t
    // the clock. Verdicts: W(ait), S(end probe), I(n step), O(ut of turn),
    // '-' for events that give none.
    void stepProof_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("verdicts");
        QTest::newRow("reply to the probe") << true << "start probe P@30" << "S-I";
        QTest::newRow("stale lines, then the reply") << true << "start probe S@10 x@50 P@90" << "S-WWI";
        QTest::newRow("same length is not the reply") << true << "start probe S@10 S@450 c@499 c@500" << "S-WWWO";
        QTest::newRow("never asked: no probe") << false << "start" << "O";
        QTest::newRow("falls quiet") << true << "start probe h@40 c@139 c@140" << "S--WI";
        QTest::newRow("talks to the end") << true << "start probe S@90 S@180 S@270 S@360 S@450 c@500" << "S-WWWWWO";
        // The first probe's reply may still come and must not stand in for the second's.
        QTest::newRow("two probes owed") << true << "start probe S@90 S@180 S@270 S@360 S@450 c@500 start probe P@20 P@40"
                                         << "S-WWWWWOS-WI";
        QTest::newRow("nothing owed after a proof") << true << "start probe P@10 start probe P@10" << "S-IS-I";
        QTest::newRow("nothing owed after quiet") << true << "start probe c@100 start probe P@10" << "S-IS-I";
    }

    void stepProof()
    {
        QFETCH(bool, known);
        QFETCH(QString, events);
        const QByteArray reply = QByteArray::fromHex(Framed("001F00300008FFFF00080004").mid(1, 28));
        const QByteArray stale = QByteArray::fromHex(Framed("001F0102030405060708090A").mid(1, 28));
        QCOMPARE(reply.size(), 14);
        QCOMPARE(stale.size(), 14);
        StepProof proof;
        if (known)
            proof.SetKnownReply(reply);
        const QString letters = "WSIO";
        QString verdicts;
        for (const QString &event : events.split(' ')) {
            const qint64 at = event.section('@', 1).toLongLong();
            StepProof::Verdict verdict = StepProof::Verdict::Wait;
            if (event == "probe" || event.startsWith('h')) {
                event == "probe" ? proof.ProbeSent() : proof.Heard(at);
                verdicts += '-';
                continue;
            }
            if (event == "start")
                verdict = proof.Start(100, 500);
            else if (event.startsWith('c'))
                verdict = proof.Clock(at);
            else
                verdict = proof.Line(event.startsWith('P') ? reply : event.startsWith('S') ? stale : QByteArray(), at);
            verdicts += letters.at(int(verdict));
        }
        QTEST(verdicts, "verdicts");
    }

    void init()
    {
        port.reset();
        peer.reset(new PtyPeer);
        QVERIFY(!peer->slavePath.isEmpty());
        port.reset(new QSerialPort(peer->slavePath));
        QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
        link = DeviceLink();
        link.SetPort(port.data());
        link.SetTrace(nullptr);
    }

    void calls_data()
    {
        QTest::addColumn<Call>("c");
        const QByteArray none, deadBeef = QByteArray::fromHex("DEADBEEF"), read("^001FDEADBEEFABE4\r");
        const QByteArray long102 = Framed("001F" + QByteArray(200, '5')), read3 = Framed("001FDEADBE");
        const QByteArray params = Framed("000000000008FFFF01080004"), params13 = Framed("001F00000008FFFF010800");
        const QByteArray longer = Framed("001FDEADBEEF0102");
        QTest::newRow("query over several polls") << Call{"query", 104, {long102}, LinkOk, 1, QByteArray::fromHex(long102)};
        QTest::newRow("query, ack is too short") << Call{"query", 5, {Ack}, LinkBadReply, 1, Untouched, false};
        QTest::newRow("query third attempt") << Call{"query", 4, {"", "", Ack}, LinkOk, 3, QByteArray::fromHex(Ack), false};
        QTest::newRow("params status 00") << Call{"params", 0, {params}, LinkOk, 1, "8000000 801ffff 1024"};
        QTest::newRow("params 13 bytes") << Call{"params", 0, {params13, params13}, LinkBadReply, 2,
                                                 "aaaaaaaa aaaaaaaa 2863311530", false};
        QTest::newRow("erase bad crc then ack") << Call{"erase", 0, {"^001FFED2\r", Ack}, LinkOk, 2, none, false};
        QTest::newRow("erase, 5-byte ack") << Call{"erase", 0, {Framed("001F00"), Ack}, LinkOk, 2, none, false};
        QTest::newRow("erase status 00") << Call{"erase", 0, {Framed("0000"), Framed("0000")}, LinkBadReply, 2, none, false};
        QTest::newRow("erase silent") << Call{"erase", 0, {}, LinkNoReply, 4, none, false};
        QTest::newRow("write 4") << Call{"write4", 4, {Ack}, LinkOk, 1, none};
        QTest::newRow("write 5 of 4") << Call{"write4", 5, {Ack}, LinkBadReply, 0, none};
        QTest::newRow("write -1") << Call{"write4", -1, {Ack}, LinkBadReply, 0, none};
        QTest::newRow("write 249") << Call{"write", 249, {Ack}, LinkOk, 1, none};
        QTest::newRow("write 250") << Call{"write", 250, {Ack}, LinkBadReply, 0, none};
        QTest::newRow("read without crc room") << Call{"read", 4, {read3, read3}, LinkBadReply, 2, Untouched, false};
        QTest::newRow("read bad crc then good") << Call{"read", 4, {"^001FDEADBEEFABE5\r", read}, LinkOk, 2, deadBeef, false};
        QTest::newRow("read split with noise") << Call{"read", 4, {"zz\xFF^001FDE|ADBEEF|ABE4\r"}, LinkOk, 1, deadBeef};
        // A longer reply answers some other request, even when it begins with the bytes asked for.
        QTest::newRow("read longer reply") << Call{"read", 4, {longer, longer}, LinkBadReply, 2, Untouched, false};
        QTest::newRow("read silent") << Call{"read", 4, {}, LinkNoReply, 6, Untouched, false};
        QTest::newRow("read 252") << Call{"read", 252, {read}, LinkBadReply, 0, Untouched};
        QTest::newRow("read -1") << Call{"read", -1, {read}, LinkBadReply, 0, Untouched};
    }

    void calls()
    {
        QFETCH(Call, c);
        peer->script = c.replies;
        QByteArray got, frame("#6402000000080400B66D\r");
        if (c.call == "params") {
            frame = "#A3014503\r";
            quint32 start = 0xAAAAAAAA, end = 0xAAAAAAAA, page = 0xAAAAAAAA;
            QCOMPARE(link.ReadFlashParams(&start, &end, &page), c.result);
            got = QString("%1 %2 %3").arg(start, 0, 16).arg(end, 0, 16).arg(page).toLatin1();
        } else if (c.call == "erase") {
            frame = "#2112000000080100C08D\r";
            QCOMPARE(link.ErasePage(0x08000000, 1), c.result);
        } else if (c.call == "write4") {
            frame = "#6412000000080400DEADBEEF9E18\r";
            QCOMPARE(link.WriteBlock(QByteArray::fromHex("DEADBEEF"), 0x08000000, c.length), c.result);
        } else if (c.call == "write") {
            frame = Framed("641200000008F900" + QByteArray("5A").repeated(249), '#');
            QCOMPARE(link.WriteBlock(QByteArray(250, '\x5A'), 0x08000000, c.length), c.result);
        } else {
            got = Untouched;
            QCOMPARE(c.call == "read" ? link.ReadBlock(&got, 0x08000000, c.length)
                                      : link.ExecQuery(Header, &got, 0x64, quint8(c.length), ShortTimeoutMs, 0x02),
                     c.result);
        }
        QTest::qWait(20);   // a frame sent by mistake would arrive meanwhile
        QCOMPARE(peer->frames, QVector<QByteArray>(c.frames, frame).toList());
        QCOMPARE(got, c.value);
        QCOMPARE(link.InStep(), c.inStep);
    }

    // A reply that came after its request gave up must not answer the next
    // request, whether the port already buffered it, the driver holds it, or
    // it is still on its way when the next request is due. The loader answers
    // that request after the stale reply, and refuses it.
    void staleReplyIsDiscarded_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("buffered by the port") << "port";
        QTest::newRow("held by the driver") << "driver";
        QTest::newRow("on its way") << "wire";
    }

    void staleReplyIsDiscarded()
    {
        QFETCH(QString, where);
        peer->script = {"", "", "|" + Framed("0000")};
        QCOMPARE(link.ExecCommand(0x21, Header, ShortTimeoutMs, 0x12), int(LinkNoReply));
        if (where == "wire") {
            QTimer::singleShot(10, Qt::PreciseTimer, [this] { peer->Write(Ack); });
        } else if (where == "port") {
            peer->Write(Ack);
            QTRY_VERIFY_WITH_TIMEOUT(port->bytesAvailable() > 0, 1000);
        } else {
            peer->Write(Ack);
            int held = 0;
            for (int ms = 0; held == 0 && ms < 1000; ++ms, QTest::qSleep(1))
                QCOMPARE(::ioctl(port->handle(), FIONREAD, &held), 0);
            QCOMPARE(held, Ack.size());
            QCOMPARE(port->bytesAvailable(), qint64(0));
        }
        QCOMPARE(link.ExecCommand(0x64, Header, ShortTimeoutMs, 0x12), int(LinkBadReply));
        QCOMPARE(peer->frames.size(), 3);
    }

    // After a time-out or a rejected line no frame goes out until the line
    // has fallen quiet or, where it keeps talking, a parameter query has
    // drawn its known reply back after everything pending. A stale line
    // replayed for ever ends the commands as out of turn, and never passes
    // for the answer to a read; without a known parameter reply nothing can
    // prove step. Where the line falls quiet, no query is sent.
    void outOfTurn_data()
    {
        QTest::addColumn<Turns>("t");
        const QByteArray none, deadBeef = QByteArray::fromHex("DEADBEEF"), read = Framed("001FDEADBEEF");
        const QByteArray params = Framed("001F00300008FFFF00080004"), other = Framed("001F0BADF00D");
        const QByteArray ten = QByteArray::fromHex("00112233445566778899"), read10 = Framed("001F" + ten.toHex());
        const QByteArray other10 = Framed("001F0102030405060708090A");
        const QByteArrayList known{params}, never;
        QTest::newRow("no fault") << Turns{known, {Ack, read}, -1, 4, LinkOk, LinkOk, "ER", deadBeef, true};
        QTest::newRow("garbled ack, then quiet") << Turns{known, {"^001FFED2\r", Ack, read}, -1, 4, LinkOk, LinkOk, "EER",
                                                          deadBeef, true};
        QTest::newRow("read reply for ever") << Turns{known, {"~" + other}, -1, 4, LinkOutOfTurn, LinkOutOfTurn, "EPP",
                                                      Untouched, false};
        QTest::newRow("for ever, never asked") << Turns{never, {"~" + other}, -1, 4, LinkOutOfTurn, LinkOutOfTurn, "E",
                                                        Untouched, false};
        QTest::newRow("14-byte reply for ever, 10-byte read") << Turns{known, {"~" + other10}, -1, 10, LinkOutOfTurn,
                                                                       LinkOutOfTurn, "EPP", Untouched, false};
        // A reply to a resent query may have answered something else: it proves nothing later.
        QTest::newRow("parameters taken out of step") << Turns{{"", other10}, {"~" + other10}, -1, 10, LinkOutOfTurn,
                                                               LinkOutOfTurn, "E", Untouched, false};
        // Longer than the quiet wait, shorter than the probe's budget after it.
        QTest::newRow("replay stops after 1.8 s") << Turns{known, {"~" + other, params, Ack, read}, 1800, 4, LinkOk, LinkOk,
                                                           "EPER", deadBeef, true};
        QTest::newRow("10-byte read after the replay") << Turns{known, {"~" + other10, params, Ack, read10}, 1800, 10, LinkOk,
                                                                LinkOk, "EPER", ten, true};
    }

    void outOfTurn()
    {
        QFETCH(Turns, t);
        if (!t.asked.isEmpty()) {
            peer->script = t.asked;
            QCOMPARE(link.ReadFlashParams(nullptr, nullptr, nullptr), int(LinkOk));
            peer->frames.clear();
        }
        peer->script = t.replies;
        peer->replayMs = t.replayMs;
        QCOMPARE(link.ErasePage(0x08000000, 1), t.eraseResult);
        QByteArray got = Untouched;
        QCOMPARE(link.ReadBlock(&got, 0x08000000, t.readLength), t.readResult);
        QCOMPARE(got, t.value);
        QCOMPARE(link.InStep(), t.inStep);
        QTest::qWait(20);   // a frame sent by mistake would arrive meanwhile
        QCOMPARE(Letters(peer->frames), t.frames);
    }

    // A port closed before the command, or none at all, gets no reply; the
    // port was not lost under it.
    void closedPortEndsInNoReply()
    {
        port->close();
        QCOMPARE(link.ErasePage(0x08000000, 1), int(LinkNoReply));
        QVERIFY(peer->frames.isEmpty());
        link.SetPort(nullptr);
        QCOMPARE(link.ExecQuery(Header, nullptr, 0x64, 4, ShortTimeoutMs, 0x02), int(LinkNoReply));
    }
};

QTEST_GUILESS_MAIN(TestLinkTraffic)
#include "tst_linktraffic.moc"
