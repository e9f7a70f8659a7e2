// Connecting to the device and taking over its flash geometry.
#include "guitestmain.h"
#include "windowdriver.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class WindowConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void parametersOffered_data();
    void parametersOffered();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void disconnectAndConnectAgain_data();
    void disconnectAndConnectAgain();
    void lineRunsAtChosenBaud_data();
    void lineRunsAtChosenBaud();
};

void WindowConnectTest::parametersOffered_data()
{
    QTest::addColumn<quint32>("flashBase");
    QTest::addColumn<quint32>("pageSize");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("shown");     // start, end, page size boxes afterwards

    const QString question = QStringLiteral("Считаны следующие параметры flash\nStart addr 0x%1\n"
                                            "End addr 0x%2\nSize Page %3\n\nПрименить их ?");
    const QString defaults = QStringLiteral("0x8003000 0x800efff 2048");
    QTest::newRow("accepted") << 0x08000000u << 1024u << false << QMessageBox::Ok
                              << question.arg("8003000", "800ffff", "1024") << "0x8003000 0x800ffff 1024";
    QTest::newRow("refused") << 0x08000000u << 1024u << false << QMessageBox::Cancel
                             << question.arg("8003000", "800ffff", "1024") << defaults;
    // Values past the boxes' ranges are clamped to the nearest bound.
    QTest::newRow("clamped") << 0x08100000u << 8192u << false << QMessageBox::Ok
                             << question.arg("8103000", "810ffff", "8192") << "0x800ffff 0x80fffff 4096";
    // A silent device: connected all the same, nothing asked, nothing changed.
    QTest::newRow("silent") << 0x08000000u << 1024u << true << QMessageBox::Ok << QString() << defaults;
}

void WindowConnectTest::parametersOffered()
{
    QFETCH(quint32, flashBase);
    QFETCH(quint32, pageSize);
    QFETCH(bool, silent);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, question);
    SimConfig config;
    config.flashBase = flashBase;
    config.pageSize = pageSize;
    if (silent)
        config.faults.append({ FaultKind::DropReply, 1, -1, 0.0, -1, -1, -1 });
    WindowDriver driver(&config);

    driver.Connect(answer);

    if (silent) {
        QCOMPARE(driver.answerer.Count(), 0);
        QCOMPARE(driver.sim->FramesReceived(), 6);  // two queries of three attempts
    } else {
        QCOMPARE(driver.answerer.Count(), 1);
        const SeenDialog &box = driver.answerer.Last();
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.title, QStringLiteral("Внимание"));
        QCOMPARE(box.text, question);
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }
    const QString shown = QStringList({ driver.Spin("spinBoxStartAddr")->text(), driver.Spin("spinBoxEndAddr")->text(),
                                        driver.Spin("spinBoxSizePage")->text() }).join(' ');
    QTEST(shown, "shown");
    QVERIFY(driver.Port()->isOpen());
    QVERIFY(!driver.ConnectAction()->isEnabled() && driver.DisconnectAction()->isEnabled());
    QVERIFY(!driver.Child("comboBoxPort")->isEnabled() && !driver.Child("comboBoxBaud")->isEnabled());
    QVERIFY(driver.WriteButton()->isEnabled());
    QVERIFY(!driver.CancelButton()->isEnabled() && !driver.Child("groupBoxProcess")->isEnabled());
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
    driver.Connect(QMessageBox::Ok, port);

    QCOMPARE(driver.answerer.Count(), 1);
    const SeenDialog &box = driver.answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Не удается открыть порт"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!driver.Port()->isOpen());
    QVERIFY(driver.ConnectAction()->isEnabled() && !driver.DisconnectAction()->isEnabled());
    QVERIFY(driver.Child("comboBoxPort")->isEnabled());
    QVERIFY(!driver.WriteButton()->isEnabled());
}

// By the user, or by the device's line going away while the window is
// idle: the window must not spin on the dead port, and must say which it was.
void WindowConnectTest::disconnectAndConnectAgain_data()
{
    QTest::addColumn<bool>("lost");
    QTest::newRow("disconnect") << false;
    QTest::newRow("port lost") << true;
}

void WindowConnectTest::disconnectAndConnectAgain()
{
    QFETCH(bool, lost);
    SimConfig config;
    WindowDriver driver(&config);
    driver.Connect();
    const QString path = driver.sim->SlavePath();
    if (lost) {
        driver.sim->Close();
        QTRY_COMPARE(driver.answerer.Count(), 2);
        QCOMPARE(driver.answerer.Last().text, QStringLiteral("Связь через порт %1 потеряна").arg(path));
        QVERIFY(driver.sim->OpenPty());
    } else {
        driver.DisconnectAction()->trigger();
    }

    QVERIFY(!driver.Port()->isOpen());
    QVERIFY(driver.ConnectAction()->isEnabled() && !driver.DisconnectAction()->isEnabled());
    QVERIFY(driver.Child("comboBoxPort")->isEnabled() && driver.Child("comboBoxBaud")->isEnabled());
    QVERIFY(!driver.WriteButton()->isEnabled() && !driver.CancelButton()->isEnabled());
    // The geometry stays editable after a disconnect.
    QVERIFY(driver.Child("groupBox")->isEnabled());

    driver.Connect();
    QVERIFY(driver.Port()->isOpen());
    QCOMPARE(driver.answerer.Count(), lost ? 3 : 2);
    QVERIFY(driver.WriteButton()->isEnabled());
}

void WindowConnectTest::lineRunsAtChosenBaud_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("speed");
    QTest::newRow("9600") << 0 << int(B9600);
    QTest::newRow("19200") << 1 << int(B19200);
}

void WindowConnectTest::lineRunsAtChosenBaud()
{
    QFETCH(int, index);
    QFETCH(int, speed);
    SimConfig config;
    WindowDriver driver(&config);
    driver.Child<QComboBox>("comboBoxBaud")->setCurrentIndex(index);
    driver.Connect();

    // What the terminal itself was set to, not what the port object remembers.
    const int fd = ::open(driver.sim->SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios settings {};
    QCOMPARE(tcgetattr(fd, &settings), 0);
    ::close(fd);
    QCOMPARE(int(cfgetospeed(&settings)), speed);
    QCOMPARE(int(cfgetispeed(&settings)), speed);
}

TAMRIVO_GUI_TEST_MAIN(WindowConnectTest)
#include "tst_windowconnect.moc"
