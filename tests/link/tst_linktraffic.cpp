// The frame codec, the step proof, and the link's traffic with a scripted
// loader on a pseudo-terminal.
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
const QByteArray Untouched("untouched"), Ack("^001FFED1\r");
const QByteArray Header = QByteArray::fromHex("000000080400");   // 4 bytes at 0x08000000

// The start character, the bytes given in hex and a CRC that checks.
QByteArray Framed(const QByteArray &hex, char start = '^')
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return start + (bytes + char(crc >> 8) + char(crc & 0xFF)).toHex().toUpper() + '\r';
}

// The loader's end of a pseudo-terminal. While the link processes events it
// collects each frame sent and answers with the next scripted reply: empty
// is silence, "!" hangs up, and "~ms~" in front makes a stuck loader: it
// sends the reply, then again every 40 ms for ms, and answers the frames
// that came meanwhile in order after that. It holds the slave open too, so
// the master never reads EIO while the port is closed.
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
            QByteArray reply = script.isEmpty() ? QByteArray() : script.takeFirst();
            if (reply == "!") {
                notifier->setEnabled(false);
                ::close(master);
                master = -1;
                return;
            }
            if (reply.startsWith('~')) {
                const QList<QByteArray> fields = reply.split('~');
                replayEnd.start(fields.at(1).toInt());
                reply = stale = fields.at(2);
                replay.start(40);
            }
            Write(reply);
        }
    }

    int master = -1, slave = -1, owed = 0;
    QScopedPointer<QSocketNotifier> notifier;
    QByteArray pending, stale;
    QTimer replay, replayEnd;
};

// A loader command, which runs a failed transaction once more, or "query":
// one transaction with the read header, a short time-out and length as the
// reply's length, also on a "closed" port or with "no port". asked: the
// replies a parameter query drew first (none: never asked); frames: the
// letters of the frames sent after it; inStep: the link trusts the line
// afterwards.
struct Call
{
    QByteArray call;
    int length;
    QByteArrayList replies;
    int result;
    QByteArray frames, value;
    bool inStep = true;
    QByteArrayList asked = {};
};

// Each frame as the letter of the exact frame it is: P(arameter query),
// E(rase) of one page, R(ead) of 4 bytes, W(rite) of DEADBEEF or L(ong
// write) of 249 bytes, all at 0x08000000; '?' for any other frame.
QByteArray Letters(const QList<QByteArray> &frames)
{
    const QHash<QByteArray, char> letters{
        {"#A3014503\r", 'P'}, {"#2112000000080100C08D\r", 'E'}, {"#6402000000080400B66D\r", 'R'},
        {"#6412000000080400DEADBEEF9E18\r", 'W'}, {Framed("641200000008F900" + QByteArray("5A").repeated(249), '#'), 'L'}};
    QByteArray sent;
    for (const QByteArray &frame : frames)
        sent += letters.value(frame, '?');
    return sent;
}

} // namespace

Q_DECLARE_METATYPE(Call)

class TestLinkTraffic : public QObject
{
    Q_OBJECT

    QScopedPointer<PtyPeer> peer;
    QScopedPointer<QSerialPort> port;
    DeviceLink link;

private slots:
    void frameTooLong()
    {
        QVERIFY(link.EncodeFrame(0x64, 0x12, QByteArray(256, '\x5A')).isEmpty());
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

    // The loader keeps its whole time-out of 208 ms: the wait adds the wire
    // time of the frame and of the longest reply.
    void attemptTime_data()
    {
        QTest::addColumn<int>("dataBytes");
        QTest::addColumn<int>("replyLength");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("ms");
        QTest::newRow("64-byte write, 9600") << 70 << 4 << 9600 << 208 + 167;
        QTest::newRow("parameters, 19200") << 0 << 14 << 19200 << 208 + 21;
        QTest::newRow("no line") << 70 << 4 << 0 << 208;
    }

    void attemptTime()
    {
        QFETCH(int, dataBytes);
        QFETCH(int, replyLength);
        QFETCH(int, baud);
        QTEST(DeviceLink::AttemptMs(dataBytes, replyLength, 208, baud), "ms");
    }

    // A read whose bytes are kept asks for a length that none of the last
    // requests drew (reply lengths, 4 bytes of framing around a read's
    // data), nor the parameter query's 14, and leaves a rest that can be
    // read likewise: room and the recent replies in, the length out.
    void distinctReadLength_data()
    {
        QTest::addColumn<int>("room");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<QVector<int>>("recent");
        QTest::addColumn<int>("length");
        QTest::newRow("fresh line") << 200 << 64 << QVector<int>{} << 64;
        QTest::newRow("acknowledgements only") << 200 << 64 << QVector<int>{4, 4, 4, 4, 4} << 64;
        QTest::newRow("64 and 62 drawn") << 200 << 64 << QVector<int>{68, 66} << 60;
        QTest::newRow("the probe's length never") << 10 << 64 << QVector<int>{} << 8;
        QTest::newRow("a rest left readable") << 66 << 64 << QVector<int>{68, 66, 64, 62, 60} << 54;
        QTest::newRow("the whole room when free") << 40 << 64 << QVector<int>{68} << 40;
        QTest::newRow("odd room ends odd") << 7 << 64 << QVector<int>{} << 6;
        QTest::newRow("nothing free") << 2 << 64 << QVector<int>{6, 5} << 0;
    }

    void distinctReadLength()
    {
        QFETCH(int, room);
        QFETCH(int, maxLength);
        QFETCH(QVector<int>, recent);
        QFETCH(int, length);
        const int chosen = DeviceLink::DistinctReadLength(room, maxLength, recent);
        QCOMPARE(chosen, length);
        // Read on to the end: no read ever draws a length in its window.
        for (int done = 0; chosen > 0 && done < room;) {
            const int next = DeviceLink::DistinctReadLength(room - done, maxLength, recent);
            QVERIFY2(next > 0, qPrintable(QStringLiteral("stuck at %1 of %2").arg(done).arg(room)));
            QVERIFY(!recent.contains(DeviceLink::ReadReplyLength(next)) && next != 10);
            recent.append(DeviceLink::ReadReplyLength(next));
            while (recent.size() > DeviceLink::ReplyWindow)
                recent.removeFirst();
            done += next;
        }
    }

    // The proof after a line that would not fall quiet, fed without a port:
    // a guard interval of 100 ms, a budget of 500 ms. Events: start, probe
    // (sent), P@t the known reply, S@t a stale reply of the same length,
    // x@t a line that would not decode, h@t bytes without a line end, c@t
    // the clock. Verdicts: W(ait), S(end probe), I(n step), O(ut of turn),
    // '-' for events that give none.
    void stepProof_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("verdicts");
        QTest::newRow("stale lines, then the reply") << "start probe S@10 x@50 P@90" << "S-WWI";
        QTest::newRow("falls quiet") << "start probe h@40 c@139 c@140" << "S--WI";
        // The first probe's reply may still come and must not stand in for the second's.
        QTest::newRow("two probes owed") << "start probe S@90 S@180 S@270 S@360 S@450 c@499 c@500 start probe P@20 P@40"
                                         << "S-WWWWWWOS-WI";
        QTest::newRow("nothing owed after a proof") << "start probe P@10 start probe P@10" << "S-IS-I";
        QTest::newRow("nothing owed after quiet") << "start probe c@100 start probe P@10" << "S-IS-I";
    }

    void stepProof()
    {
        QFETCH(QString, events);
        const QByteArray reply = QByteArray::fromHex("001F00300008FFFF00080004ABCD");
        const QByteArray stale = QByteArray::fromHex("001F0102030405060708090AABCD");
        StepProof proof;
        proof.SetKnownReply(reply);
        QString verdicts;
        for (const QString &event : events.split(' ')) {
            const qint64 at = event.section('@', 1).toLongLong();
            int verdict = -1;
            if (event == "start")
                verdict = int(proof.Start(100, 500));
            else if (event == "probe")
                proof.ProbeSent();
            else if (event.startsWith('h'))
                proof.Heard(at);
            else if (event.startsWith('c'))
                verdict = int(proof.Clock(at));
            else
                verdict = int(proof.Line(event.startsWith('P') ? reply : event.startsWith('S') ? stale : QByteArray(), at));
            verdicts += verdict < 0 ? QChar('-') : QString("WSIO").at(verdict);
        }
        QTEST(verdicts, "verdicts");
    }

    void init()
    {
        port.reset();
        peer.reset(new PtyPeer);
        port.reset(new QSerialPort(peer->slavePath));
        QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
        // As the window does: a port that is gone for good is closed at once.
        QObject::connect(port.data(), &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
            if (DeviceLink::IsDeadPortError(error))
                port->close();
        });
        link = DeviceLink();
        link.SetPort(port.data());
        link.SetTrace(nullptr);
    }

    void calls_data()
    {
        QTest::addColumn<Call>("c");
        const QByteArray none, read("^001FDEADBEEFABE4\r"), long102 = Framed("001F" + QByteArray(200, '5'));
        const QByteArray longer = Framed("001FDEADBEEF0102"), other = Framed("001F0BADF00D");
        const QByteArray params = Framed("000000000008FFFF01080004"), refused = Framed("0000");
        // As long as a parameter reply: only its bytes tell them apart.
        const QByteArray other10 = Framed("001F0102030405060708090A");
        QTest::newRow("query over several polls") << Call{"query", 104, {long102}, LinkOk, "R", QByteArray::fromHex(long102)};
        QTest::newRow("query, ack is too short") << Call{"query", 5, {Ack}, LinkBadReply, "R", Untouched, false};
        QTest::newRow("query silent") << Call{"query", 4, {}, LinkNoReply, "RRR", Untouched, false};
        // The port was not lost under the query.
        QTest::newRow("query, closed port") << Call{"closed", 4, {}, LinkNoReply, "", Untouched, false};
        QTest::newRow("query, no port") << Call{"no port", 4, {}, LinkNoReply, "", Untouched, false};
        QTest::newRow("params status 00") << Call{"params", 0, {params}, LinkOk, "P", "8000000 801ffff 1024"};
        QTest::newRow("erase status 00") << Call{"erase", 0, {refused, refused}, LinkRefused, "EE", none, false};
        QTest::newRow("erase silent") << Call{"erase", 0, {}, LinkNoReply, "EEEE", none, false};
        QTest::newRow("erase, port lost") << Call{"erase", 0, {"", "!"}, LinkPortLost, "EE", none, false};
        QTest::newRow("write 249") << Call{"write", 249, {Ack}, LinkOk, "L", none};
        QTest::newRow("write 250") << Call{"write", 250, {Ack}, LinkBadReply, "", none};
        // The resent frame may have found its first copy written: only the flash can tell.
        QTest::newRow("resent write refused, flash holds") << Call{"write4", 4, {"", refused, read}, LinkOk, "WWR", none};
        QTest::newRow("resent write refused, flash differs") << Call{"write4", 4, {"", refused, other}, LinkRefused, "WWR", none};
        QTest::newRow("read bad crc then good") << Call{"read", 4, {"^001FDEADBEEFABE5\r", read}, LinkOk, "RR",
                                                        QByteArray::fromHex("DEADBEEF"), false};
        // A longer reply answers some other request, even when it begins with the bytes asked for.
        QTest::newRow("read longer reply") << Call{"read", 4, {longer, longer}, LinkBadReply, "RR", Untouched, false};
        // A refusal has no data, whatever was asked: told from a garbled reply.
        QTest::newRow("read refused") << Call{"read", 4, {refused, refused}, LinkRefused, "RR", Untouched, false};
        QTest::newRow("read 252") << Call{"read", 252, {read}, LinkBadReply, "", Untouched};
        // After a time-out or a rejected line no frame goes out before the line falls quiet or a
        // parameter query draws its known reply back. A loader that never stops talking ends the
        // command without a second try; a reply taken for a resent query may have answered
        // something else, and without a known reply no probe is sent.
        QTest::newRow("babbling loader") << Call{"erase", 0, {"~60000~zz"}, LinkOutOfTurn, "EP", none, false, {params}};
        QTest::newRow("stuck, parameters taken out of step") << Call{"erase", 0, {"~60000~" + other10}, LinkOutOfTurn, "E",
                                                                     none, false, {"", other10}};
        // Longer than the quiet wait, shorter than the probe's budget after it.
        QTest::newRow("stuck for 1.8 s") << Call{"erase", 0, {"~1800~" + other10, params, Ack}, LinkOk, "EPE", none, false,
                                                 {params}};
    }

    void calls()
    {
        QFETCH(Call, c);
        if (!c.asked.isEmpty()) {
            peer->script = c.asked;
            QCOMPARE(link.ReadFlashParams(nullptr, nullptr, nullptr), int(LinkOk));
            peer->frames.clear();
        }
        peer->script = c.replies;
        if (c.call == "closed")
            port->close();
        else if (c.call == "no port")
            link.SetPort(nullptr);
        QByteArray got;
        if (c.call == "params") {
            quint32 start = 0xAAAAAAAA, end = 0xAAAAAAAA, page = 0xAAAAAAAA;
            QCOMPARE(link.ReadFlashParams(&start, &end, &page), c.result);
            got = QString("%1 %2 %3").arg(start, 0, 16).arg(end, 0, 16).arg(page).toLatin1();
        } else if (c.call == "erase") {
            QCOMPARE(link.ErasePage(0x08000000, 1), c.result);
        } else if (c.call.startsWith("write")) {
            const QByteArray data = c.call == "write4" ? QByteArray::fromHex("DEADBEEF") : QByteArray(250, '\x5A');
            QCOMPARE(link.WriteBlock(data, 0x08000000, c.length), c.result);
        } else {
            got = Untouched;
            QCOMPARE(c.call == "read" ? link.ReadBlock(&got, 0x08000000, c.length)
                                      : link.ExecQuery(Header, &got, 0x64, quint8(c.length), ShortTimeoutMs, 0x02),
                     c.result);
        }
        QTest::qWait(20);   // a frame sent by mistake would arrive meanwhile
        QCOMPARE(Letters(peer->frames), c.frames);
        QCOMPARE(got, c.value);
        QCOMPARE(link.InStep(), c.inStep);
    }

    // A line that came while nothing was asked must not answer the next
    // request, whether the port already buffered it or the driver holds it.
    void unaskedLineIsDiscarded_data()
    {
        QTest::addColumn<bool>("buffered");
        QTest::newRow("buffered by the port") << true;
        QTest::newRow("held by the driver") << false;
    }

    void unaskedLineIsDiscarded()
    {
        QFETCH(bool, buffered);
        peer->script = {Framed("0000")};   // the loader refuses the request
        peer->Write(Ack);
        int held = 0;
        for (int ms = 0; held < Ack.size() && ms < 1000; ++ms, QTest::qSleep(1))
            ::ioctl(port->handle(), FIONREAD, &held);
        QCOMPARE(held, Ack.size());
        if (buffered)
            QTRY_COMPARE(port->bytesAvailable(), qint64(Ack.size()));
        QCOMPARE(link.ExecCommand(0x21, Header, ShortTimeoutMs, 0x12), int(LinkRefused));
    }
};

QTEST_GUILESS_MAIN(TestLinkTraffic)
#include "tst_linktraffic.moc"
