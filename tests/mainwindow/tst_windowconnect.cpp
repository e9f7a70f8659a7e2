// Connecting to the device and taking over its flash geometry, the tool
// bar, and the data file chosen and found again after a restart.
#include "windowdriver.h"

#include <QDir>
#include <QSettings>
#include <QSpinBox>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// port empty: the simulator's; baud: the selector's index; boxes: the
// dialogs seen; shown: the start, end and page size boxes afterwards.
struct ConnectRow
{
    QString port;
    quint32 flashBase, pageSize;
    bool silent;
    QMessageBox::StandardButton answer;
    int baud;
    QStringList boxes;
    QString shown, state;
};

QString Question(const char *start, const char *end, const char *pageSize)
{
    return Box(QMessageBox::Information, "Внимание", QMessageBox::Ok | QMessageBox::Cancel,
               QStringLiteral("Считаны следующие параметры flash\nStart addr 0x%1\nEnd addr 0x%2\n"
                              "Size Page %3\n\nПрименить их ?").arg(start, end, pageSize));
}

} // namespace

Q_DECLARE_METATYPE(ConnectRow)

class WindowConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void connectToDevice_data()
    {
        QTest::addColumn<ConnectRow>("row");
        const QString defaults = QStringLiteral("0x8003000 0x800efff 2048");
        const QStringList question = { Question("8003000", "800ffff", "1024") };
        QTest::newRow("accepted, 19200 baud") << ConnectRow{ {}, 0x08000000, 1024, false, QMessageBox::Ok, 1,
                                                             question, "0x8003000 0x800ffff 1024", Connected };
        QTest::newRow("refused, 9600 baud") << ConnectRow{ {}, 0x08000000, 1024, false, QMessageBox::Cancel, 0,
                                                           question, defaults, Connected };
        // Values past the boxes' ranges are clamped to the nearest bound.
        QTest::newRow("clamped") << ConnectRow{ {}, 0x08100000, 8192, false, QMessageBox::Ok, 0,
                                                { Question("8103000", "810ffff", "8192") },
                                                "0x800ffff 0x80fffff 4096", Connected };
        // A silent device: connected all the same, nothing asked, nothing changed.
        QTest::newRow("silent") << ConnectRow{ {}, 0x08000000, 1024, true, QMessageBox::Ok, 0, {}, defaults,
                                               Connected };
        QTest::newRow("no such port")
            << ConnectRow{ "/dev/tamrivo-no-such-port", 0x08000000, 1024, false, QMessageBox::Ok, 0,
                           { Box(QMessageBox::Critical, "Error", QMessageBox::Ok, "Не удается открыть порт") },
                           defaults, Disconnected };
    }

    void connectToDevice()
    {
        QFETCH(ConnectRow, row);
        SimConfig config;
        config.flashBase = row.flashBase;
        config.pageSize = row.pageSize;
        if (row.silent)
            config.faults.append({ FaultKind::DropReply, 1, -1, 0.0, -1, -1, -1 });
        WindowDriver driver(&config);
        driver.Child<QComboBox>("comboBoxBaud")->setCurrentIndex(row.baud);

        driver.Connect(row.answer, row.port);

        QCOMPARE(driver.answerer.seen, row.boxes);
        QStringList shown;
        for (const char *name : { "spinBoxStartAddr", "spinBoxEndAddr", "spinBoxSizePage" })
            shown << driver.Child<QSpinBox>(name)->text();
        QCOMPARE(shown.join(' '), row.shown);
        QCOMPARE(driver.State(), row.state);
        if (row.silent)
            QCOMPARE(driver.sim->FramesReceived(), 6);  // two queries of three attempts
        if (!driver.Port()->isOpen())
            return;
        // What the terminal itself was set to, not what the port object remembers.
        const int fd = ::open(driver.sim->SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios settings {};
        QCOMPARE(tcgetattr(fd, &settings), 0);
        ::close(fd);
        const speed_t speed = row.baud == 1 ? B19200 : B9600;
        QCOMPARE(cfgetospeed(&settings), speed);
        QCOMPARE(cfgetispeed(&settings), speed);
    }

    // By the user, or by the device's line going away while the window is
    // idle: the window must not spin on the dead port, and must say which it was.
    void disconnectAndConnectAgain_data()
    {
        QTest::addColumn<bool>("lost");
        QTest::newRow("disconnect") << false;
        QTest::newRow("port lost") << true;
    }

    void disconnectAndConnectAgain()
    {
        QFETCH(bool, lost);
        SimConfig config;
        WindowDriver driver(&config);
        driver.Connect();
        const QString path = driver.sim->SlavePath();
        if (lost) {
            driver.sim->Close();
            QTRY_COMPARE(driver.answerer.seen.size(), 2);
            QCOMPARE(driver.answerer.seen.last(),
                     Box(QMessageBox::Critical, "Ошибка", QMessageBox::Ok,
                         QStringLiteral("Связь через порт %1 потеряна").arg(path)));
            QVERIFY(driver.sim->OpenPty());
        } else {
            driver.DisconnectAction()->trigger();
        }
        QCOMPARE(driver.State(), Disconnected);

        driver.Connect();
        QCOMPARE(driver.State(), Connected);
        QCOMPARE(driver.answerer.seen.size(), lost ? 3 : 2);
    }

    // The tool bar's actions show their icons, and About names the program.
    void toolBarAndAbout()
    {
        WindowDriver driver;
        QAction *about = driver.ToolBar().last();
        for (QAction *action : { driver.ConnectAction(), driver.DisconnectAction(), about })
            QVERIFY(!action->icon().availableSizes().isEmpty());
        about->trigger();
        QCOMPARE(driver.answerer.seen.size(), 1);
        QVERIFY(driver.answerer.seen.last().contains(QStringLiteral("<h2>Tamrivo 1.3.1</h2>")));
    }

    // The dialog keeps opening in the folder restored at start; the folder of
    // a new choice takes effect from the next start on. A cancelled dialog
    // changes nothing.
    void dataFileRememberedAndRestored()
    {
        QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
        QTemporaryDir files;
        const QString a = files.filePath("a"), b = files.filePath("b");
        for (const QString &folder : { a, b })
            QVERIFY(QDir().mkpath(folder) && QFile(folder + "/app.bine").open(QIODevice::WriteOnly));
        const auto dialog = [](const QString &folder) {
            return Box(QMessageBox::NoIcon, "Open File", QMessageBox::NoButton,
                       "Файл данных (*.bine) " + folder);
        };
        {
            WindowDriver driver;
            QVERIFY(driver.FileText().isEmpty());
            driver.ChooseFile(a + "/app.bine");
            QCOMPARE(driver.answerer.seen, QStringList(dialog(QDir::currentPath())));
            QCOMPARE(driver.FileText(), a + "/app.bine");
            QSettings settings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo"));
            QCOMPARE(settings.value(QStringLiteral("dirDataFile")).toString(), a);
        }
        {
            WindowDriver driver;
            QCOMPARE(driver.FileText(), a + "/app.bine");
            driver.ChooseFile(b + "/app.bine");
            driver.ChooseFile(QString());
            QCOMPARE(driver.answerer.seen, QStringList({ dialog(a), dialog(a) }));
            QCOMPARE(driver.FileText(), b + "/app.bine");
        }
        WindowDriver restarted;
        restarted.ChooseFile(QString());
        QCOMPARE(restarted.answerer.seen, QStringList(dialog(b)));
        QCOMPARE(restarted.FileText(), b + "/app.bine");
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowConnectTest)
#include "tst_windowconnect.moc"
