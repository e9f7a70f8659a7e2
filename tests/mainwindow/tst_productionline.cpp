// The window's production line against the simulated loader and a SQLite
// store of its own: the boards' numbers, results and records through the
// production core, as tamrivo-cli keeps them, and the panel that shows them.
#include "productionline.h"
#include "recordstore.h"
#include "windowdriver.h"

#include <QtEndian>

namespace {

const quint32 AppStart = 0x08003000;
const quint32 SerialAt = AppStart + 0x100;     // in the image's first page, left erased by it
const int AppPages = 52;

// A board per entry, "serial class number" as the store and the board's
// flash have it after its job (the flash's le32 number, -1 erased).
QString Board(const JobRecord &job, const QByteArray &place)
{
    const quint32 word = qFromLittleEndian<quint32>(place.constData());
    return QStringLiteral("%1 %2 %3").arg(job.serial).arg(job.resultClass)
        .arg(word == 0xFFFFFFFFu ? QStringLiteral("-1") : QString::number(word));
}

FaultRule Fault(const QString &text)
{
    FaultRule rule;
    if (!text.isEmpty() && !ParseFaultRule(text, &rule))
        qFatal("bad fault %s", qPrintable(text));
    return rule;
}

} // namespace

class ProductionLineTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    SimConfig config;
    std::unique_ptr<WindowDriver> driver;

    QString StoreAddress() const { return QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("records.sqlite")); }

    // Connected to the simulator (through port, if given) with the image
    // chosen and the line set up.
    void StartLine(const QString &port = QString())
    {
        QByteArray image(3000, Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 + 3);
        image.replace(SerialAt - AppStart, 4, QByteArray(4, '\xFF'));
        QFile file(dir.filePath(QStringLiteral("line.bine")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        driver = std::make_unique<WindowDriver>(&config);
        if (!port.isEmpty())
            QFile::link(driver->sim->SlavePath(), port);
        driver->Connect(QMessageBox::Ok, port);
        driver->ChooseFile(file.fileName());
        LineSettings line;
        line.serial.address = SerialAt;
        line.serial.pool = QStringLiteral("line");
        line.storeAddress = StoreAddress();
        line.journalFolder = dir.filePath(QStringLiteral("journal"));
        line.station = QStringLiteral("st1");
        QCOMPARE(driver->window.SetLine(line), QString());
        driver->answerer.seen.clear();
    }

    QVector<JobRecord> Records()
    {
        RecordStore store;
        store.Open(ParseStoreAddress(StoreAddress()).value, StoreMode::ReadOnly);
        return store.Jobs(JobFilter()).value;
    }

    QString Text(const char *label) { return driver->Child<QLabel>(label)->text(); }

private slots:
    void init()
    {
        config = SimConfig();
        driver.reset();
        QFile::remove(dir.filePath(QStringLiteral("records.sqlite")));
    }

    // faults: on the simulator for the whole line; boards: "serial class
    // number" each; fate: in the last board's details.
    void boardsOneAfterAnother_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("boards");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("fate");
        QTest::addColumn<QString>("counts");
        QTest::newRow("numbers in order, each board its own")
            << QString() << QStringList{"1 ok 1", "2 ok 2", "3 ok 3"} << "✔ ГОДНА" << "Номер: 3"
            << "Сегодня: годных 3, брак 0";
        QTest::newRow("a worn cell: verify fails, the board may carry its number, held")
            << "worn:frame=1:cmd=0x64:arg=0x12" << QStringList{"1 mismatch 1"} << "✘ БРАК"
            << "Номер 1 удержан" << "Сегодня: годных 0, брак 1";
        QTest::newRow("erase refused: the number goes back to the next board")
            << "status:frame=1:count=2:cmd=0x21" << QStringList{"1 refused -1", "1 ok 1"} << "✔ ГОДНА" << "Номер: 1"
            << "Сегодня: годных 1, брак 1";
    }
    void boardsOneAfterAnother()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, boards);
        if (!fault.isEmpty())
            config.faults = {Fault(fault)};
        StartLine();
        for (int board = 0; board < boards.size(); ++board) {
            // A new board: erased flash in the socket.
            driver->sim->Flash().Erase(AppStart, AppPages);
            driver->window.activateWindow();    // back from the file dialog
            QVERIFY(QTest::qWaitForWindowActive(&driver->window));
            QTest::keyClick(&driver->window, Qt::Key_F5);
            const QVector<JobRecord> jobs = Records();
            QCOMPARE(jobs.size(), board + 1);
            QCOMPARE(Board(jobs.last(), driver->sim->Flash().Read(SerialAt, 4)), boards.at(board));
        }
        QTEST(Text("labelVerdict"), "verdict");
        QFETCH(QString, fate);
        QVERIFY2(Text("labelBoardDetails").contains(fate), qPrintable(Text("labelBoardDetails")));
        QTEST(Text("labelTodayCounts"), "counts");
        // No box stops the line.
        QCOMPARE(driver->answerer.seen, QStringList());
    }

    // usb: the board's adapter goes with it, its port's link too (as the
    // simulator's --pull-unlinks); else only the board leaves the socket.
    void automaticStart_data()
    {
        QTest::addColumn<bool>("usb");
        QTest::newRow("boards pulled from the socket") << false;
        QTest::newRow("USB boards: the port goes and comes with each") << true;
    }
    void automaticStart()
    {
        QFETCH(bool, usb);
        const QString link = dir.filePath(QStringLiteral("socket"));
        QFile::remove(link);
        StartLine(usb ? link : QString());
        driver->Child<QCheckBox>("checkBoxAutoStart")->setChecked(true);
        QStringList boards;
        for (int board = 1; board <= 3; ++board) {
            QTRY_COMPARE_WITH_TIMEOUT(Records().size(), board, 20000);
            boards << Board(Records().last(), driver->sim->Flash().Read(SerialAt, 4));
            // Left in the socket, a board is not programmed again.
            QTest::qWait(1000);
            QCOMPARE(Records().size(), board);
            if (usb) {
                driver->sim->Unplug();
                QFile::remove(link);
            } else {
                driver->sim->Pull();
            }
            QTRY_COMPARE_WITH_TIMEOUT(Text("labelLineState"), QStringLiteral("Ожидание новой платы…"), 5000);
            QVERIFY(driver->sim->Seat(QString()));
            if (usb)
                QFile::link(driver->sim->SlavePath(), link);
        }
        QTRY_COMPARE_WITH_TIMEOUT(Records().size(), 4, 20000);
        driver->Child<QCheckBox>("checkBoxAutoStart")->setChecked(false);
        QCOMPARE(boards, (QStringList{"1 ok 1", "2 ok 2", "3 ok 3"}));
        QCOMPARE(driver->answerer.seen, QStringList());
    }
};

TAMRIVO_GUI_TEST_MAIN(ProductionLineTest)
#include "tst_productionline.moc"
