// Connecting to the device and taking over its flash geometry.
#include "guitestmain.h"
#include "simulatedloader.h"
#include "windowdriver.h"

#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class WindowConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void parametersAcceptedOrRefused_data();
    void parametersAcceptedOrRefused();
    void silentDeviceLeavesWindowConnected();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void disconnectRestoresState();
    void lineRunsAtChosenBaud_data();
    void lineRunsAtChosenBaud();
};

void WindowConnectTest::parametersAcceptedOrRefused_data()
{
    QTest::addColumn<quint32>("flashBase");
    QTest::addColumn<quint32>("flashSize");
    QTest::addColumn<quint32>("pageSize");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("page");

    const QString defaultQuestion = QStringLiteral(
        "Считаны следующие параметры flash\nStart addr 0x8003000\nEnd addr 0x800ffff\n"
        "Size Page 1024\n\nПрименить их ?");
    QTest::newRow("accepted") << 0x08000000u << 0x10000u << 1024u << QMessageBox::Ok
                              << defaultQuestion << "0x8003000" << "0x800ffff" << "1024";
    QTest::newRow("refused") << 0x08000000u << 0x10000u << 1024u << QMessageBox::Cancel
                             << defaultQuestion << "0x8003000" << "0x800efff" << "2048";
    // 1 MiB part at 0x08100000: start past the start box's range is clamped,
    // the end past the raised maximum too, the 8 KiB page to 4096.
    QTest::newRow("clamped") << 0x08100000u << 0x100000u << 8192u << QMessageBox::Ok
                             << QStringLiteral("Считаны следующие параметры flash\nStart addr 0x8103000\n"
                                               "End addr 0x81fffff\nSize Page 8192\n\nПрименить их ?")
                             << "0x800ffff" << "0x80fffff" << "4096";
}

void WindowConnectTest::parametersAcceptedOrRefused()
{
    QFETCH(quint32, flashBase);
    QFETCH(quint32, flashSize);
    QFETCH(quint32, pageSize);
    QFETCH(QMessageBox::StandardButton, answer);
    SimConfig config;
    config.flashBase = flashBase;
    config.flashSize = flashSize;
    config.pageSize = pageSize;
    config.loaderSize = 0x3000;
    SimulatedLoader sim(config);
    QVERIFY(sim.OpenPty());

    WindowDriver driver;
    driver.Connect(sim.SlavePath(), answer);

    QCOMPARE(driver.answerer.Count(), 1);
    const SeenDialog &box = driver.answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Внимание"));
    QTEST(box.text, "question");
    QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QTEST(driver.Start()->text(), "start");
    QTEST(driver.End()->text(), "end");
    QTEST(driver.PageSize()->text(), "page");

    QVERIFY(!driver.ConnectAction()->isEnabled());
    QVERIFY(driver.DisconnectAction()->isEnabled());
    QVERIFY(!driver.PortBox()->isEnabled());
    QVERIFY(!driver.BaudBox()->isEnabled());
    QVERIFY(driver.WriteButton()->isEnabled());
    QVERIFY(!driver.CancelButton()->isEnabled());
    QVERIFY(!driver.ProcessGroup()->isEnabled());
}

void WindowConnectTest::silentDeviceLeavesWindowConnected()
{
    SimConfig config;
    FaultRule silence;
    silence.kind = FaultKind::DropReply;
    silence.frame = 1;
    silence.count = -1;
    config.faults.append(silence);
    SimulatedLoader sim(config);
    QVERIFY(sim.OpenPty());

    WindowDriver driver;
    driver.Connect(sim.SlavePath());

    QCOMPARE(driver.answerer.Count(), 0);
    // Two queries of three attempts each, then the window gives up quietly.
    QCOMPARE(sim.FramesReceived(), 6);
    QVERIFY(driver.Port()->isOpen());
    QVERIFY(driver.WriteButton()->isEnabled());
    QVERIFY(driver.DisconnectAction()->isEnabled());
    QCOMPARE(driver.Start()->text(), QStringLiteral("0x8003000"));
    QCOMPARE(driver.End()->text(), QStringLiteral("0x800efff"));
    QCOMPARE(driver.PageSize()->value(), 2048);
}

void WindowConnectTest::portThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("no such port") << "/dev/tamrivo-no-such-port";
    QTest::newRow("empty name") << "";
}

void WindowConnectTest::portThatCannotBeOpened()
{
    QFETCH(QString, port);
    WindowDriver driver;
    driver.Connect(port);

    QCOMPARE(driver.answerer.Count(), 1);
    const SeenDialog &box = driver.answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Не удается открыть порт"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!driver.Port()->isOpen());
    QVERIFY(driver.ConnectAction()->isEnabled());
    QVERIFY(!driver.DisconnectAction()->isEnabled());
    QVERIFY(driver.PortBox()->isEnabled());
    QVERIFY(!driver.WriteButton()->isEnabled());
}

void WindowConnectTest::disconnectRestoresState()
{
    SimulatedLoader sim{SimConfig()};
    QVERIFY(sim.OpenPty());
    WindowDriver driver;
    driver.Connect(sim.SlavePath());
    QVERIFY(driver.Port()->isOpen());

    driver.DisconnectAction()->trigger();

    QVERIFY(!driver.Port()->isOpen());
    QVERIFY(driver.ConnectAction()->isEnabled());
    QVERIFY(!driver.DisconnectAction()->isEnabled());
    QVERIFY(driver.PortBox()->isEnabled());
    QVERIFY(driver.BaudBox()->isEnabled());
    QVERIFY(!driver.WriteButton()->isEnabled());
    QVERIFY(!driver.CancelButton()->isEnabled());
    // The geometry stays editable after a disconnect.
    QVERIFY(driver.Child<QWidget>("groupBox")->isEnabled());

    // And the same port connects again.
    driver.Connect(sim.SlavePath());
    QVERIFY(driver.Port()->isOpen());
    QCOMPARE(driver.answerer.Count(), 2);
}

void WindowConnectTest::lineRunsAtChosenBaud_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("speed");
    QTest::newRow("9600") << 0 << 9600 << int(B9600);
    QTest::newRow("19200") << 1 << 19200 << int(B19200);
}

void WindowConnectTest::lineRunsAtChosenBaud()
{
    QFETCH(int, index);
    QFETCH(int, baud);
    QFETCH(int, speed);
    SimulatedLoader sim{SimConfig()};
    QVERIFY(sim.OpenPty());
    WindowDriver driver;
    driver.BaudBox()->setCurrentIndex(index);
    driver.Connect(sim.SlavePath());
    QCOMPARE(driver.Port()->baudRate(), baud);

    // What the terminal itself was set to, not what the port object remembers.
    const int fd = ::open(sim.SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios settings {};
    QCOMPARE(tcgetattr(fd, &settings), 0);
    ::close(fd);
    QCOMPARE(int(cfgetospeed(&settings)), speed);
    QCOMPARE(int(cfgetispeed(&settings)), speed);
}

TAMRIVO_GUI_TEST_MAIN(WindowConnectTest)
#include "tst_windowconnect.moc"
