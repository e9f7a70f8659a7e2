// The simulated loader on a real pseudo-terminal, and the program itself.

#include "simframes.h"
#include "simulatedloader.h"

#include <QtTest>
#include <QSerialPort>
#include <QTemporaryDir>

// Sends requests and waits for as many reply lines; returns the
// milliseconds from sending to the last character, or -1.
static double Exchange(QSerialPort &port, const QByteArray &request, QByteArray *reply, int timeoutMs = 2000)
{
    const int lines = request.count('\r');
    QElapsedTimer clock;
    clock.start();
    port.write(request);
    port.flush();
    for (reply->clear(); clock.elapsed() < timeoutMs;) {
        QTest::qWait(1);
        *reply += port.readAll();
        if (reply->count('\r') >= lines)
            return clock.nsecsElapsed() / 1e6;
    }
    return -1.0;
}

class TestSimulatedLoader : public QObject
{
    Q_OBJECT

private slots:
    // Request and reply characters at 10 bits each, plus the erase time.
    void pacing_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("eraseDelayMs");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("longest read, 9600 baud") << 9600 << 0 << ReadFrame(App, 251);
        QTest::newRow("erase 3 pages, 19200 baud") << 19200 << 40 << EraseFrame(App, 3);
    }

    void pacing()
    {
        QFETCH(int, baud);
        QFETCH(int, eraseDelayMs);
        QFETCH(QByteArray, request);
        SimConfig config;
        config.baud = baud;
        config.eraseDelayMs = eraseDelayMs;
        SimulatedLoader loader(config);
        QVERIFY(loader.OpenPty());
        QSerialPort port(loader.SlavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QByteArray reply;
        const double measured = Exchange(port, request, &reply);
        QVERIFY(reply.startsWith("^001F"));
        const double expected = (request.size() + reply.size()) * 10 * 1000.0 / baud + 3 * eraseDelayMs;
        QVERIFY2(qAbs(measured - expected) <= expected * 0.1, qPrintable(QString("%1 ms, not %2").arg(measured).arg(expected)));
    }

    // The loader takes one frame at a time: a read held back by a fault
    // holds back the erase sent right behind it, which then still takes
    // its own time.
    void lateReplyHoldsBackTheNext()
    {
        SimConfig config;
        config.eraseDelayMs = 50;
        config.lateDelayMs = 200;
        FaultRule late;
        QVERIFY(ParseFaultRule("late:cmd=0x64", &late));
        config.faults = {late};
        SimulatedLoader loader(config);
        QVERIFY(loader.OpenPty());
        QSerialPort port(loader.SlavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QByteArray replies;
        const double measured = Exchange(port, ReadFrame(App, 4) + EraseFrame(App, 3), &replies);
        QVERIFY(replies.startsWith("^001FFFFFFFFF") && replies.indexOf("\r^001F") > 0);
        QVERIFY2(measured >= 200 + 3 * 50, qPrintable(QString("%1 ms").arg(measured)));
    }

    // Path printed and linked, clients served in turn, flash dumped on SIGTERM.
    void program()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("line"), dump = dir.filePath("flash.bin");
        QProcess sim;
        sim.start(qEnvironmentVariable("TAMRIVO_BIN_DIR") + "/tamrivo-loader-sim",
                  {"--link", link, "--dump", dump, "--flash-size", "0x8000", "--fault", "drop:cmd=0x21:count=-1"});
        QVERIFY(sim.waitForReadyRead(5000));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.readLine()).trimmed());
        QByteArray reply;
        for (int client = 1; client <= 2; ++client) {
            QSerialPort port(link);
            QVERIFY(port.open(QIODevice::ReadWrite));
            QCOMPARE(Exchange(port, EraseFrame(App, 1), &reply, 300), -1.0);     // the dropped reply
            QVERIFY(Exchange(port, WriteFrame(App + 2, "sim"), &reply) >= 0 && reply.startsWith("^001F"));
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000) && sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QFile file(dump);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray flash = file.readAll();
        QCOMPARE(flash.size(), 0x8000);
        QCOMPARE(flash.mid(0x3000, 6), QByteArray("\xFF\xFFsim\xFF"));
    }
};

QTEST_GUILESS_MAIN(TestSimulatedLoader)
#include "tst_simulatedloader.moc"
