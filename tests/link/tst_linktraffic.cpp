#include "devicelink.h"
#include "ptypeer.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTextStream>
#include <QtTest>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr quint8 ShortTimeoutMs = 100;
const QByteArray Untouched("untouched");

quint16 CrcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return crc;
}

QByteArray HexWithCrc(const QByteArray &bytes)
{
    const quint16 crc = CrcOver(bytes);
    return (bytes + char(crc >> 8) + char(crc & 0xFF)).toHex().toUpper();
}

// A reply line for the given bytes with a CRC that checks.
QByteArray Reply(const char *hex)
{
    return "^" + HexWithCrc(QByteArray::fromHex(hex)) + "\r";
}

QByteArray Request(const QByteArray &bytes)
{
    return "#" + HexWithCrc(bytes) + "\r";
}

// What a scripted reply line carries, read without the link's decoder.
QByteArray BytesOf(QByteArray line)
{
    line.replace('|', QByteArray());
    const int start = line.indexOf('^');
    return QByteArray::fromHex(line.mid(start + 1, line.indexOf('\r', start) - start - 1));
}

// Bytes received by the driver that QSerialPort has not read yet.
int DriverHeld(const QSerialPort &port)
{
    int count = 0;
    return ::ioctl(port.handle(), FIONREAD, &count) == 0 ? count : -1;
}

QByteArray Header()
{
    return QByteArray::fromHex("000000080400");
}

} // namespace

class TestLinkTraffic : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void transactions_data();
    void transactions();
    void commands_data();
    void commands();
    void staleReplyIsDiscarded_data();
    void staleReplyIsDiscarded();
    void trace();
    void closedPortEndsInNoReply();

private:
    int RunCall(const QString &call, QByteArray *value);
    int CallGetLineCount() const { return traceText.count(QStringLiteral("Call GetLine\n")); }

    QScopedPointer<PtyPeer> peer;
    QScopedPointer<QSerialPort> port;
    DeviceLink link;
    QString traceText;
    QTextStream traceStream{&traceText};
};

void TestLinkTraffic::init()
{
    peer.reset(new PtyPeer);
    QVERIFY(peer->Open());
    port.reset(new QSerialPort(peer->SlavePath()));
    port->setBaudRate(QSerialPort::Baud9600);
    QVERIFY2(port->open(QIODevice::ReadWrite), qPrintable(port->errorString()));
    link.SetPort(port.data());
    traceText.clear();
    link.SetTrace(&traceStream);
}

void TestLinkTraffic::cleanup()
{
    link.SetPort(nullptr);
    port.reset();
    peer.reset();
}

void TestLinkTraffic::transactions_data()
{
    QTest::addColumn<bool>("query");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("frames");

    const QByteArray ack("^001FFED1\r");
    QTest::newRow("command ack") << false << 0 << QByteArrayList{ack} << int(LinkOk) << 1;
    QTest::newRow("command status 00") << false << 0 << QByteArrayList{Reply("0000")} << int(LinkBadReply) << 1;
    QTest::newRow("command 3 bytes") << false << 0 << QByteArrayList{Reply("1F")} << int(LinkBadReply) << 1;
    QTest::newRow("command bad crc") << false << 0 << QByteArrayList{"^001FFED2\r"} << int(LinkBadReply) << 1;
    QTest::newRow("command lower case") << false << 0 << QByteArrayList{"^001ffed1\r"} << int(LinkBadReply) << 1;
    QTest::newRow("command second attempt") << false << 0 << QByteArrayList{"", ack} << int(LinkOk) << 2;
    QTest::newRow("command silent") << false << 0 << QByteArrayList{} << int(LinkNoReply) << 2;
    QTest::newRow("query status 00") << true << 4 << QByteArrayList{Reply("0000AB")} << int(LinkOk) << 1;
    QTest::newRow("query noise around") << true << 4 << QByteArrayList{"zz^001FFED1\rQQ"} << int(LinkOk) << 1;
    QTest::newRow("query split") << true << 4 << QByteArrayList{"^001F|FED1\r"} << int(LinkOk) << 1;
    QTest::newRow("query over several polls") << true << 102
        << QByteArrayList{Reply("001F" + QByteArray(200, '5'))} << int(LinkOk) << 1;
    QTest::newRow("query below minimum") << true << 5 << QByteArrayList{ack} << int(LinkBadReply) << 1;
    QTest::newRow("query nothing decoded") << true << 0 << QByteArrayList{"^\r"} << int(LinkBadReply) << 1;
    QTest::newRow("query odd digits") << true << 0 << QByteArrayList{"^001FFED\r"} << int(LinkBadReply) << 1;
    QTest::newRow("query third attempt") << true << 4 << QByteArrayList{"", "", ack} << int(LinkOk) << 3;
    QTest::newRow("query silent") << true << 4 << QByteArrayList{} << int(LinkNoReply) << 3;
}

void TestLinkTraffic::transactions()
{
    QFETCH(bool, query);
    QFETCH(int, minimum);
    QFETCH(QByteArrayList, replies);
    QFETCH(int, result);
    QFETCH(int, frames);
    peer->SetReplies(replies);
    QByteArray reply = Untouched;
    const int got = query
        ? link.ExecQuery(Header(), &reply, 0x64, quint8(minimum), ShortTimeoutMs, 0x02)
        : link.ExecCommand(0x64, Header(), ShortTimeoutMs, 0x02);
    QCOMPARE(got, result);
    QCOMPARE(peer->Frames().size(), frames);
    for (const QByteArray &frame : peer->Frames())
        QCOMPARE(frame, QByteArray("#6402000000080400B66D\r"));
    QCOMPARE(reply, query && result == LinkOk ? BytesOf(replies.last()) : Untouched);
}

int TestLinkTraffic::RunCall(const QString &call, QByteArray *value)
{
    const QByteArray block = QByteArray::fromHex("DEADBEEF");
    if (call == "params") {
        quint32 start = 0xAAAAAAAA, end = 0xAAAAAAAA, page = 0xAAAAAAAA;
        const int result = link.ReadFlashParams(&start, &end, &page);
        *value = QString("%1 %2 %3").arg(start, 0, 16).arg(end, 0, 16).arg(page).toLatin1();
        return result;
    }
    if (call == "erase")
        return link.ErasePage(0x08000000, 1);
    if (call == "write4")
        return link.WriteBlock(block, 0x08000000, 4);
    if (call == "write5of4")
        return link.WriteBlock(block, 0x08000000, 5);
    if (call.startsWith("write"))
        return link.WriteBlock(QByteArray(250, '\x5A'), 0x08000000, call.mid(5).toInt());
    *value = Untouched;
    return link.ReadBlock(value, 0x08000000, call.mid(4).toInt());
}

void TestLinkTraffic::commands_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("value");

    const QByteArray ack("^001FFED1\r");
    const QByteArray params("^001F00000008FFFF0108000458DB\r");
    const QByteArray paramsFrame("#A3014503\r");
    const QByteArray noParams("aaaaaaaa aaaaaaaa 2863311530");
    const QByteArray eraseFrame("#2112000000080100C08D\r");
    const QByteArray writeFrame("#6412000000080400DEADBEEF9E18\r");
    const QByteArray readFrame("#6402000000080400B66D\r");
    const QByteArray read("^001FDEADBEEFABE4\r");
    const QByteArray deadBeef = QByteArray::fromHex("DEADBEEF");
    const QByteArray fullWrite = Request(QByteArray::fromHex("641200000008F900") + QByteArray(249, '\x5A'));

    QTest::newRow("params") << "params" << QByteArrayList{params} << int(LinkOk) << 1 << paramsFrame
                            << QByteArray("8000000 801ffff 1024");
    QTest::newRow("params status 00") << "params" << QByteArrayList{Reply("000000000008FFFF01080004")}
                                      << int(LinkOk) << 1 << paramsFrame << QByteArray("8000000 801ffff 1024");
    QTest::newRow("params 13 bytes") << "params" << QByteArrayList{Reply("001F00000008FFFF010800"), Reply("001F00000008FFFF010800")}
                                     << int(LinkBadReply) << 2 << paramsFrame << noParams;
    QTest::newRow("erase") << "erase" << QByteArrayList{ack} << int(LinkOk) << 1 << eraseFrame << QByteArray();
    QTest::newRow("erase status 00") << "erase" << QByteArrayList{Reply("0000"), Reply("0000")}
                                     << int(LinkBadReply) << 2 << eraseFrame << QByteArray();
    QTest::newRow("erase bad crc then ack") << "erase" << QByteArrayList{"^001FFED2\r", ack}
                                            << int(LinkOk) << 2 << eraseFrame << QByteArray();
    QTest::newRow("erase silent") << "erase" << QByteArrayList{} << int(LinkNoReply) << 4 << eraseFrame << QByteArray();
    QTest::newRow("write") << "write4" << QByteArrayList{ack} << int(LinkOk) << 1 << writeFrame << QByteArray();
    QTest::newRow("write 249") << "write249" << QByteArrayList{ack} << int(LinkOk) << 1 << fullWrite << QByteArray();
    QTest::newRow("write 250") << "write250" << QByteArrayList{ack} << int(LinkBadReply) << 0 << QByteArray() << QByteArray();
    QTest::newRow("write beyond data") << "write5of4" << QByteArrayList{ack} << int(LinkBadReply) << 0 << QByteArray() << QByteArray();
    QTest::newRow("write negative") << "write-1" << QByteArrayList{ack} << int(LinkBadReply) << 0 << QByteArray() << QByteArray();
    QTest::newRow("read") << "read4" << QByteArrayList{read} << int(LinkOk) << 1 << readFrame << deadBeef;
    QTest::newRow("read without crc room") << "read4" << QByteArrayList{Reply("001FDEADBE"), Reply("001FDEADBE")}
                                           << int(LinkBadReply) << 2 << readFrame << Untouched;
    QTest::newRow("read bad crc then good") << "read4" << QByteArrayList{"^001FDEADBEEFABE5\r", read}
                                            << int(LinkOk) << 2 << readFrame << deadBeef;
    QTest::newRow("read split with noise") << "read4" << QByteArrayList{"zz\xFF^001FDE|ADBEEF|ABE4\r"}
                                           << int(LinkOk) << 1 << readFrame << deadBeef;
    QTest::newRow("read longer reply") << "read4" << QByteArrayList{Reply("001FDEADBEEF0102")}
                                       << int(LinkOk) << 1 << readFrame << deadBeef;
    QTest::newRow("read silent") << "read4" << QByteArrayList{} << int(LinkNoReply) << 6 << readFrame << Untouched;
    QTest::newRow("read 252") << "read252" << QByteArrayList{read} << int(LinkBadReply) << 0 << QByteArray() << Untouched;
    QTest::newRow("read negative") << "read-1" << QByteArrayList{read} << int(LinkBadReply) << 0 << QByteArray() << Untouched;
}

void TestLinkTraffic::commands()
{
    QFETCH(QString, call);
    QFETCH(QByteArrayList, replies);
    QFETCH(int, result);
    QFETCH(int, frames);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, value);
    peer->SetReplies(replies);
    QByteArray got;
    QCOMPARE(RunCall(call, &got), result);
    QTest::qWait(20);   // a frame sent by mistake would arrive meanwhile
    QCOMPARE(peer->Frames().size(), frames);
    for (const QByteArray &sent : peer->Frames())
        QCOMPARE(sent, frame);
    QCOMPARE(got, value);
}

// A reply that came after its request gave up must not answer the next
// request, wherever it waits: already read into the port's buffer, or
// still in the driver.
void TestLinkTraffic::staleReplyIsDiscarded_data()
{
    QTest::addColumn<bool>("buffered");
    QTest::newRow("buffered by the port") << true;
    QTest::newRow("held by the driver") << false;
}

void TestLinkTraffic::staleReplyIsDiscarded()
{
    QFETCH(bool, buffered);
    QCOMPARE(link.ExecCommand(0x21, Header(), ShortTimeoutMs, 0x12), int(LinkNoReply));
    peer->Write("^001FFED1\r");
    if (buffered) {
        QTRY_VERIFY_WITH_TIMEOUT(port->bytesAvailable() > 0, 1000);
    } else {
        QElapsedTimer stopwatch;
        stopwatch.start();
        while (DriverHeld(*port) == 0 && stopwatch.elapsed() < 1000)
            ::usleep(1000);
        QCOMPARE(DriverHeld(*port), 10);
        QCOMPARE(port->bytesAvailable(), qint64(0));
    }
    QCOMPARE(link.ExecCommand(0x64, Header(), ShortTimeoutMs, 0x12), int(LinkNoReply));
    QCOMPARE(peer->Frames().size(), 4);
}

void TestLinkTraffic::trace()
{
    peer->SetReplies({"", "zz^001F|FED1\r"});
    QCOMPARE(link.ExecQuery(Header(), nullptr, 0x64, 4, ShortTimeoutMs, 0x02), int(LinkOk));
    const QStringList expected{"Call GetLine", "Call GetLine", "line=^001F", "line+FED1\r", "",
                               "LineCode = ^001FFED1\r", ""};
    QCOMPARE(traceText.split('\n'), expected);

    traceText.clear();
    link.SetTrace(nullptr);
    peer->SetReplies({"^001FFED1\r"});
    QCOMPARE(link.ExecCommand(0x64, Header(), ShortTimeoutMs, 0x12), int(LinkOk));
    QCOMPARE(traceText, QString());
}

void TestLinkTraffic::closedPortEndsInNoReply()
{
    port->close();
    QCOMPARE(link.ErasePage(0x08000000, 1), int(LinkNoReply));
    QCOMPARE(CallGetLineCount(), 4);

    traceText.clear();
    link.SetPort(nullptr);
    QElapsedTimer stopwatch;
    stopwatch.start();
    QCOMPARE(link.ExecQuery(Header(), nullptr, 0x64, 4, ShortTimeoutMs, 0x02), int(LinkNoReply));
    QVERIFY(stopwatch.elapsed() > 3 * ShortTimeoutMs);
    QCOMPARE(CallGetLineCount(), 3);
    QCOMPARE(peer->Frames().size(), 0);
}

QTEST_GUILESS_MAIN(TestLinkTraffic)
#include "tst_linktraffic.moc"
