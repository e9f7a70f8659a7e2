// The simulated loader on a real pseudo-terminal, with a serial port
// client in the same thread: line pacing, the line going away, and the
// program itself.

#include "simframes.h"
#include "simulatedloader.h"

#include <QtTest>
#include <QSerialPort>
#include <QTemporaryDir>

namespace {

constexpr quint32 App = 0x08003000;

// The tool's side of the cable, reduced to what the tests need.
class Client : public QObject
{
public:
    explicit Client(const QString &path)
    {
        port.setPortName(path);
        port.setBaudRate(9600);
        connect(&port, &QSerialPort::readyRead, this, [this] {
            received += port.readAll();
            ++reads;
            if (doneNs < 0 && received.endsWith('\r'))
                doneNs = clock.nsecsElapsed();
        });
    }

    bool Open() { return port.open(QIODevice::ReadWrite); }

    // Sends a request and waits, processing events, for the reply line;
    // returns the milliseconds from sending to the last character.
    double Exchange(const QByteArray &request, int timeoutMs = 2000)
    {
        received.clear();
        reads = 0;
        doneNs = -1;
        clock.start();
        port.write(request);
        port.flush();
        while (doneNs < 0 && clock.elapsed() < timeoutMs)
            QTest::qWait(1);
        return doneNs < 0 ? -1.0 : doneNs / 1e6;
    }

    QSerialPort port;
    QByteArray received;
    int reads = 0;

private:
    QElapsedTimer clock;
    qint64 doneNs = -1;
};

SimConfig WithFault(const QString &spec)
{
    SimConfig config;
    FaultRule rule;
    if (ParseFaultRule(spec, &rule))
        config.faults.append(rule);
    return config;
}

} // namespace

class TestSimulatedLoader : public QObject
{
    Q_OBJECT

private slots:
    void reopenedClient();
    void pacing_data();
    void pacing();
    void splitReply();
    void vanish();
    void program();
};

void TestSimulatedLoader::reopenedClient()
{
    SimulatedLoader loader{SimConfig()};
    QString error;
    QVERIFY2(loader.OpenPty(&error), qPrintable(error));
    for (int round = 1; round <= 2; ++round) {
        Client client(loader.SlavePath());
        QVERIFY(client.Open());
        QVERIFY(client.Exchange("#A3014503\r") >= 0);
        QCOMPARE(client.received, QByteArray("^001F00300008FFFF00080004DA6D\r"));
        QCOMPARE(loader.FramesReceived(), round);
    }
}

// Wire time: request and reply characters at 10 bits each, plus the
// processing delays asked for.
void TestSimulatedLoader::pacing_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("delayMs");       // erase per page, write per block, late
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<double>("extraMs");

    const QByteArray longRead = ReadFrame(App, 251);
    QTest::newRow("long read 9600") << 9600 << 0 << QString() << longRead << 0.0;
    QTest::newRow("long read 19200") << 19200 << 0 << QString() << longRead << 0.0;
    QTest::newRow("erase 3 pages 9600") << 9600 << 40 << QString() << EraseFrame(App, 3) << 120.0;
    QTest::newRow("write block 9600") << 9600 << 25 << QString() << WriteFrame(App, QByteArray(64, 'A')) << 25.0;
    QTest::newRow("late, unpaced") << 0 << 300 << "late" << QByteArray("#A3014503\r") << 300.0;
}

void TestSimulatedLoader::pacing()
{
    QFETCH(int, baud);
    QFETCH(int, delayMs);
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(double, extraMs);
    SimConfig config = fault.isEmpty() ? SimConfig() : WithFault(fault);
    config.baud = baud;
    config.eraseDelayMs = config.writeDelayMs = config.lateDelayMs = delayMs;
    SimulatedLoader loader(config);
    QVERIFY(loader.OpenPty());
    Client client(loader.SlavePath());
    QVERIFY(client.Open());

    const double measured = client.Exchange(request);
    QVERIFY(client.received.startsWith("^001F"));
    const double chars = request.size() + client.received.size();
    const double expected = (baud > 0 ? chars * 10 * 1000 / baud : 0.0) + extraMs;
    qInfo("%s: %d characters, wire time %.1f ms, measured %.1f ms",
          QTest::currentDataTag(), int(chars), expected, measured);
    QVERIFY2(qAbs(measured - expected) <= expected * 0.1,
             qPrintable(QString("measured %1 ms, expected %2 ms").arg(measured).arg(expected)));
}

void TestSimulatedLoader::splitReply()
{
    SimConfig config = WithFault("split");
    config.splitGapMs = 40;
    SimulatedLoader loader(config);
    QVERIFY(loader.OpenPty());
    Client client(loader.SlavePath());
    QVERIFY(client.Open());
    const double ms = client.Exchange("#A3014503\r");
    QCOMPARE(client.received, QByteArray("^001F00300008FFFF00080004DA6D\r"));
    QVERIFY2(client.reads >= 2, qPrintable(QString::number(client.reads)));
    QVERIFY(ms >= 40.0 * (client.reads - 1) * 0.9);
}

void TestSimulatedLoader::vanish()
{
    SimulatedLoader loader(WithFault("vanish:frame=2"));
    QVERIFY(loader.OpenPty());
    QSignalSpy closed(&loader, &SimulatedLoader::Closed);
    Client client(loader.SlavePath());
    QVERIFY(client.Open());
    QVERIFY(client.Exchange("#A3014503\r") >= 0);
    QCOMPARE(closed.count(), 0);
    QCOMPARE(client.Exchange("#A3014503\r", 300), -1.0);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!loader.IsOpen());
    QCOMPARE(loader.FramesReceived(), 2);
}

// The program end to end: link, serving, dump on SIGTERM, link removed.
void TestSimulatedLoader::program()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("line");
    const QString dump = dir.filePath("flash.bin");
    QProcess sim;
    sim.start(qEnvironmentVariable("TAMRIVO_BIN_DIR") + "/tamrivo-loader-sim",
              {"--link", link, "--dump", dump, "--flash-size", "0x8000", "--fault", "drop:cmd=0x21"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QCOMPARE(QFileInfo(link).symLinkTarget(), slave);

    Client client(link);
    QVERIFY(client.Open());
    QCOMPARE(client.Exchange(EraseFrame(App, 1), 300), -1.0);   // the dropped reply
    QVERIFY(client.Exchange(WriteFrame(App + 2, "sim")) >= 0);
    QVERIFY(client.received.startsWith("^001F"));
    client.port.close();

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QFile file(dump);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray flash = file.readAll();
    QCOMPARE(flash.size(), 0x8000);
    QCOMPARE(flash.mid(0x3000, 6), QByteArray("\xFF\xFFsim\xFF"));
}

QTEST_GUILESS_MAIN(TestSimulatedLoader)
#include "tst_simulatedloader.moc"
