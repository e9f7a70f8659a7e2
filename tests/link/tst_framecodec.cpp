#include "devicelink.h"

#include <QRandomGenerator>
#include <QtTest>

class TestFrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void encodeFrame_data();
    void encodeFrame();
    void encodeRefusesOversizedData();
    void hexPair_data();
    void hexPair();
    void decodeLine_data();
    void decodeLine();
    void roundTrip();

private:
    DeviceLink link;
};

static quint16 CrcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return crc;
}

void TestFrameCodec::crc_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0x29B1;
    QTest::newRow("no bytes") << QByteArray() << 0xFFFF;
    QTest::newRow("one byte") << QByteArray("\xA3") << 0x6479;
    QTest::newRow("ack with its crc") << QByteArray::fromHex("001FFED1") << 0;
}

void TestFrameCodec::crc()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(CrcOver(bytes)), crc);
}

void TestFrameCodec::encodeFrame_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("argument");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("params") << 0xA3 << 0x01 << QByteArray() << QByteArray("#A3014503\r");
    QTest::newRow("erase 08004000") << 0x21 << 0x12 << QByteArray::fromHex("004000080100")
                                    << QByteArray("#2112004000080100D1E5\r");
    QTest::newRow("erase 08000000") << 0x21 << 0x12 << QByteArray::fromHex("000000080100")
                                    << QByteArray("#2112000000080100C08D\r");
    QTest::newRow("read 4") << 0x64 << 0x02 << QByteArray::fromHex("000000080400")
                            << QByteArray("#6402000000080400B66D\r");
    QTest::newRow("read 64") << 0x64 << 0x02 << QByteArray::fromHex("000000084000")
                             << QByteArray("#64020000000840007765\r");
    QTest::newRow("write 4") << 0x64 << 0x12 << QByteArray::fromHex("000000080400DEADBEEF")
                             << QByteArray("#6412000000080400DEADBEEF9E18\r");
}

void TestFrameCodec::encodeFrame()
{
    QFETCH(int, command);
    QFETCH(int, argument);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, frame);
    QCOMPARE(link.EncodeFrame(quint8(command), quint8(argument), data), frame);
}

void TestFrameCodec::encodeRefusesOversizedData()
{
    QCOMPARE(link.EncodeFrame(0x64, 0x12, QByteArray(255, '\x5A')).size(), 520);
    QVERIFY(link.EncodeFrame(0x64, 0x12, QByteArray(256, '\x5A')).isEmpty());
}

void TestFrameCodec::hexPair_data()
{
    QTest::addColumn<QByteArray>("pair");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("byte");
    QTest::newRow("00") << QByteArray("00") << true << 0x00;
    QTest::newRow("0F") << QByteArray("0F") << true << 0x0F;
    QTest::newRow("F0") << QByteArray("F0") << true << 0xF0;
    QTest::newRow("FF") << QByteArray("FF") << true << 0xFF;
    QTest::newRow("9A") << QByteArray("9A") << true << 0x9A;
    QTest::newRow("lower case") << QByteArray("0f") << false << 0x77;
    QTest::newRow("G") << QByteArray("1G") << false << 0x77;
    QTest::newRow("space") << QByteArray("1 ") << false << 0x77;
    QTest::newRow("carriage return") << QByteArray("\r1") << false << 0x77;
    QTest::newRow("NUL") << QByteArray("1\0", 2) << false << 0x77;
}

void TestFrameCodec::hexPair()
{
    QFETCH(QByteArray, pair);
    QFETCH(bool, valid);
    QFETCH(int, byte);
    quint8 out = 0x77;
    QCOMPARE(link.HexPairToByte(pair.constData(), &out), valid);
    QCOMPARE(int(out), byte);
}

void TestFrameCodec::decodeLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray kept("kept");
    QTest::newRow("ack") << QByteArray("^001FFED1\r") << 4 << QByteArray::fromHex("001FFED1");
    QTest::newRow("noise around") << QByteArray("\x01x^0A0B\rFFZ^") << 2 << QByteArray::fromHex("0A0B");
    QTest::newRow("nothing between") << QByteArray("^\r") << 0 << QByteArray();
    QTest::newRow("no line end") << QByteArray("^0A0B") << 0 << QByteArray();
    QTest::newRow("line end before start") << QByteArray("\r^0A") << 0 << QByteArray();
    QTest::newRow("odd digits") << QByteArray("^ABC\r") << -1 << QByteArray::fromHex("AB");
    QTest::newRow("lower case") << QByteArray("^001ffed1\r") << -1 << QByteArray::fromHex("00");
    QTest::newRow("stray character") << QByteArray("^00 1\r") << -1 << QByteArray::fromHex("00");
    QTest::newRow("second start") << QByteArray("^00^1\r") << -1 << QByteArray::fromHex("00");
    QTest::newRow("no start") << QByteArray("001FFED1\r") << -1 << kept;
    QTest::newRow("empty text") << QByteArray() << -1 << kept;
    QTest::newRow("255 bytes") << "^" + QByteArray(510, '7') + "\r" << 255 << QByteArray(255, '\x77');
    QTest::newRow("256 bytes") << "^" + QByteArray(512, '7') + "\r" << -1 << QByteArray(255, '\x77');
}

void TestFrameCodec::decodeLine()
{
    QFETCH(QByteArray, line);
    QFETCH(int, count);
    QFETCH(QByteArray, bytes);
    QByteArray out("kept");
    QCOMPARE(link.DecodeLine(line, &out), count);
    QCOMPARE(out, bytes);
}

// Any request frame, with its start character turned into the reply
// start, must decode to command, argument, data and a CRC that checks.
// Data stop at MaxReadBlock so that the decoded line stays within the
// 255 bytes a reply can hold.
void TestFrameCodec::roundTrip()
{
    QRandomGenerator random(20240601);
    for (int i = 0; i < 500; ++i) {
        const quint8 command = quint8(random.bounded(256));
        const quint8 argument = quint8(random.bounded(256));
        QByteArray data(random.bounded(DeviceLink::MaxReadBlock + 1), '\0');
        for (char &byte : data)
            byte = char(random.bounded(256));
        QByteArray line = link.EncodeFrame(command, argument, data);
        QCOMPARE(line.size(), 2 * data.size() + 10);
        line[0] = '^';
        QByteArray decoded;
        QCOMPARE(link.DecodeLine(line, &decoded), data.size() + 4);
        QCOMPARE(decoded.mid(2, data.size()), data);
        QCOMPARE(quint8(decoded.at(0)), command);
        QCOMPARE(quint8(decoded.at(1)), argument);
        QCOMPARE(CrcOver(decoded), quint16(0));
    }
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
