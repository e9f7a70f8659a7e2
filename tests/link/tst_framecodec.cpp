#include "devicelink.h"

#include <QtTest>

class TestFrameCodec : public QObject
{
    Q_OBJECT

private slots:
    void crcAndFrames();
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

void TestFrameCodec::crcAndFrames()
{
    QCOMPARE(CrcOver("123456789"), quint16(0x29B1));
    QCOMPARE(CrcOver(QByteArray::fromHex("001FFED1")), quint16(0));
    QCOMPARE(link.EncodeFrame(0xA3, 0x01, QByteArray()), QByteArray("#A3014503\r"));
    QCOMPARE(link.EncodeFrame(0x21, 0x12, QByteArray::fromHex("004000080100")), QByteArray("#2112004000080100D1E5\r"));
    QVERIFY(link.EncodeFrame(0x64, 0x12, QByteArray(256, '\x5A')).isEmpty());   // too long for one frame
}

void TestFrameCodec::decodeLine_data()
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

void TestFrameCodec::decodeLine()
{
    QFETCH(QByteArray, line);
    QFETCH(int, count);
    QFETCH(QByteArray, bytes);
    QByteArray out("kept");
    QCOMPARE(link.DecodeLine(line, &out), count);
    QCOMPARE(out, bytes);
}

// Any request frame, its start turned into the reply start, decodes to
// command, argument, data and a CRC that checks. Data stop at
// MaxReadBlock so that the decoded line stays within 255 bytes.
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
        QCOMPARE(decoded.chopped(2), QByteArray() + char(command) + char(argument) + data);
        QCOMPARE(CrcOver(decoded), quint16(0));
    }
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_framecodec.moc"
