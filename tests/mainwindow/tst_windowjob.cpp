// Programming a file through the window against the simulated loader: what
// the user sees, and what ends up in the device's flash.
#include "imagereaders.h"
#include "windowdriver.h"

#include <QFile>
#include <QSettings>

namespace {

// A fault on every frame for the page or block at offset; or, with offset -1,
// on the third block written only. changed: how far the status bar says
// the flash was changed.
struct FailureRow
{
    FaultKind kind;
    int command, argument, offset;
    QString message, changed;
};

const quint32 AppStart = 0x08003000;
const QString Done = Box(QMessageBox::Information, "Информация", QMessageBox::Ok, "Данные успешно записаны");
const QString NotStarting = "\n\nПриложение не запустится, пока запись не будет выполнена до конца";

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x12345678u + quint32(size);
    for (char &byte : bytes)
        byte = char((state = state * 1103515245u + 12345u) >> 24);
    return bytes;
}

QString Summary(int availableKb, int sizeKb, int pages)
{
    return Box(QMessageBox::Information, "Внимание", QMessageBox::Ok | QMessageBox::Cancel,
               QStringLiteral("Доступно памяти %1 кБ\nОбъем данных %2 кБ\nКоличество страниц %3 \n\n"
                              "Жми ОК для продолжения").arg(availableKb).arg(sizeKb).arg(pages));
}

QString Error(const QString &title, const QString &text)
{
    return Box(QMessageBox::Critical, title, QMessageBox::Ok, text);
}

// The status bar after a job: outcome, seconds taken, and what follows them.
QRegularExpressionMatch StatusMatch(const QString &status, const QString &outcome)
{
    return QRegularExpression("^" + outcome + " \\d+[.,]\\d с(: стёрто страниц (\\d+) из \\d+, записано байт (\\d+) из \\d+)?$")
        .match(status);
}

} // namespace

Q_DECLARE_METATYPE(FailureRow)

class WindowJobTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString imagePath = dir.filePath(QStringLiteral("image.bine"));
    SimConfig config;
    std::unique_ptr<WindowDriver> driver;

    void WriteImage(const QByteArray &bytes)
    {
        QFile file(imagePath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(imagePath));
    }

    // Connects to a fresh simulator (answering the parameter question) and
    // chooses the image; then "Запись" is pressed, answering the summary.
    void Prepare(const QByteArray &image, QMessageBox::StandardButton params = QMessageBox::Ok,
                 bool choose = true)
    {
        driver = std::make_unique<WindowDriver>(&config);
        driver->Connect(params);
        WriteImage(image);
        if (choose)
            driver->ChooseFile(imagePath);
        driver->answerer.seen.clear();
    }

    void PressWrite(QMessageBox::StandardButton summary = QMessageBox::Ok)
    {
        driver->answerer.Answer(summary);
        driver->WriteButton()->click();
    }

    // Runs action from the event loop once the pass has made its first progress.
    void OnProgress(const QString &pass, std::function<void()> action)
    {
        auto done = std::make_shared<bool>(false);
        QObject::connect(driver->Progress(), &QProgressBar::valueChanged, driver->Progress(),
                         [this, pass, action, done](int value) {
                             if (*done || value < 1 || driver->PassLabel() != pass)
                                 return;
                             *done = true;
                             QTimer::singleShot(0, driver->Progress(), action);
                         });
    }

private slots:
    void init()
    {
        config = SimConfig();
        driver.reset();
        QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
    }

    void programsFileIntoFlash_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("summary");
        QTest::newRow("two blocks in one page") << 100 << Summary(51, 0, 1);
        QTest::newRow("three pages, short last block") << 3000 << Summary(51, 2, 3);
        QTest::newRow("exactly end minus start") << 0xCFFF << Summary(51, 51, 52);
        QTest::newRow("empty file") << 0 << Summary(51, 0, 0);
    }

    // The file is cut short during the write pass: the job writes and
    // verifies the file as it was when it started.
    void programsFileIntoFlash()
    {
        QFETCH(int, size);
        const QByteArray image = Pattern(size);
        Prepare(image);
        const int framesBefore = driver->sim->FramesReceived();
        OnProgress(QStringLiteral("Запись"), [this] { WriteImage("short"); });
        // Seen while the success box is up, before the bar returns to rest.
        bool busy = true;
        driver->answerer.OnNextBox([this, &busy] {
            driver->answerer.OnNextBox([this, &busy] { busy = driver->Progress()->maximum() == 0; });
        });

        PressWrite();

        QTEST(driver->answerer.seen.value(0), "summary");
        QCOMPARE(driver->answerer.seen.mid(1), QStringList(Done));
        // The image, then erased bytes to the end of its last page.
        const int pagesEnd = (size + 1023) / 1024 * 1024;
        QCOMPARE(driver->sim->Flash().Read(AppStart, pagesEnd), image + QByteArray(pagesEnd - size, '\xFF'));
        if (size == 0)
            QCOMPARE(driver->sim->FramesReceived(), framesBefore);
        QVERIFY(!busy);
        QVERIFY(StatusMatch(driver->Status(), QStringLiteral("Записано и проверено %1 байт за").arg(size)).hasMatch());
        // At rest, as at start.
        QCOMPARE(driver->PassLabel(), QStringLiteral("Запись"));
        QCOMPARE(driver->Progress()->text(), QStringLiteral("0%"));
        QCOMPARE(driver->State(), Connected);
    }

    // A HEX file goes to its own addresses, only to the pages it holds data in.
    void placedImage()
    {
        Prepare(QByteArray());
        driver->ChooseFile(IMAGE_DATA_DIR "/app.hex");
        const QByteArray older(1024, '\x5A');
        driver->sim->Flash().Write(AppStart + 0x800, older);
        driver->answerer.seen.clear();

        PressWrite();

        QCOMPARE(driver->answerer.seen, QStringList({ Summary(51, 2, 3), Done }));
        QFile file(IMAGE_DATA_DIR "/src.bin");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray src = file.readAll();
        QCOMPARE(driver->sim->Flash().Read(AppStart, src.size()), src);
        QCOMPARE(driver->sim->Flash().Read(AppStart + 0x800, 1024), older);
        QCOMPARE(driver->sim->Flash().Read(AppStart + 0x1C01, src.size()), src);
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("file");      // "none", "gone", "typed", "ok", or the text of a HEX file
        QTest::addColumn<QString>("box");

        QTest::newRow("no file chosen") << 10 << int(AppStart) << "none"
                                        << Error("Ошибка", "Не выбран файл данных");
        QTest::newRow("file gone") << 10 << int(AppStart) << "gone"
                                   << Error("Ошибка", "Не удается открыть файл");
        QTest::newRow("one byte too large, typed") << 0xD000 << int(AppStart) << "typed"
                                            << Error("Ошибка", "Размер файла больше заданного диапазона памяти");
        QTest::newRow("start inside a page") << 100 << int(AppStart + 0x100) << "ok"
                                             << Error("Ошибка", "Начальный адрес не кратен размеру страницы");
        QTest::newRow("malformed HEX") << 0 << int(AppStart) << ":0400000001020304F3\n:00000001FF\n"
            << Error("Ошибка", "Ошибка в файле образа\nimage.hex line 1: checksum 0xF3, expected 0xF2");
        QTest::newRow("HEX below the start") << 0 << int(AppStart) << ":020000040800F2\n:0400000001020304F2\n:00000001FF\n"
            << Error("Ошибка", "Данные образа лежат вне заданного диапазона памяти\n0x8000000 - 0x8000003");
        // Declined summaries: the geometry of the form (parameters refused), 2 KiB pages.
        QTest::newRow("4097 bytes declined") << 4097 << int(AppStart) << "ok" << Summary(47, 4, 3);
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(int, size);
        QFETCH(int, start);
        QFETCH(QString, file);
        QFETCH(QString, box);
        const bool summary = box.contains(QStringLiteral("Жми ОК для продолжения"));
        Prepare(Pattern(size), summary ? QMessageBox::Cancel : QMessageBox::Ok,
                file == QStringLiteral("ok") || file == QStringLiteral("gone"));
        if (file == QStringLiteral("gone"))
            QFile::remove(imagePath);
        if (file == QStringLiteral("typed"))
            driver->Child<QLineEdit>("lineEditFileData")->setText(imagePath);
        if (file.startsWith(':')) {
            QFile hex(dir.filePath("image.hex"));
            QVERIFY(hex.open(QIODevice::WriteOnly) && hex.write(file.toLatin1()) == file.size());
            hex.close();
            driver->ChooseFile(hex.fileName());
            driver->answerer.seen.clear();
        }
        driver->Child<QSpinBox>("spinBoxStartAddr")->setValue(start);
        const int framesBefore = driver->sim->FramesReceived();
        const QByteArray flashBefore = driver->sim->Flash().Contents();

        PressWrite(QMessageBox::Cancel);

        QCOMPARE(driver->answerer.seen, QStringList(box));
        QCOMPARE(driver->sim->FramesReceived(), framesBefore);
        QCOMPARE(driver->sim->Flash().Contents(), flashBefore);
        QCOMPARE(driver->State(), Connected);
    }

    void failureInEachPass_data()
    {
        QTest::addColumn<FailureRow>("row");
        // The first block goes in last, after every other is verified: the
        // block at 128 is the second written.
        QTest::newRow("page cannot be erased") << FailureRow{ FaultKind::BadStatus, 0x21, -1, 1024,
            "Ошибка при стирания Flash\nPage 1", "1 из 3, записано байт 0" };
        QTest::newRow("third block refused") << FailureRow{ FaultKind::BadStatus, 0x64, 0x12, 128,
            "Ошибка при записи flash\nAdrees 128\nSize block 64", "3 из 3, записано байт 64" };
        QTest::newRow("second block unreadable") << FailureRow{ FaultKind::CorruptCrc, 0x64, 0x02, 64,
            "Ошибка при чтении flash\nAdrees 64\nSize block 64", "3 из 3, записано байт 2936" };
        QTest::newRow("worn cell") << FailureRow{ FaultKind::WornCell, 0x64, 0x12, 192,
            "Ошибка верификации flash\nAdress 192\nSize block 64\nSize send block 64", "3 из 3, записано байт 2936" };
        QTest::newRow("worn first block") << FailureRow{ FaultKind::WornCell, 0x64, 0x12, 0,
            "Ошибка верификации flash\nAdress 0\nSize block 64\nSize send block 64", "3 из 3, записано байт 3000" };
        // The cable pulled after the third block written: no reply ever again.
        QTest::newRow("port vanishes") << FailureRow{ FaultKind::Vanish, 0x64, 0x12, -1,
            "Ошибка при записи flash\nAdrees 192\nSize block 64", "3 из 3, записано байт 128" };
    }

    void failureInEachPass()
    {
        QFETCH(FailureRow, row);
        const bool vanish = row.kind == FaultKind::Vanish;
        config.faults.append({ row.kind, vanish ? 3 : 1, vanish ? 1 : -1, 0.0, row.command, row.argument,
                               row.offset < 0 ? -1 : qint64(AppStart) + row.offset });
        Prepare(Pattern(3000));

        PressWrite();

        // Every failure but the first block's leaves that block erased. A lost
        // port is named, and the window is back to disconnected.
        if (row.offset != 0)
            row.message += NotStarting;
        if (vanish)
            row.message += QStringLiteral("\n\nСвязь через порт %1 потеряна").arg(driver->sim->SlavePath());
        QCOMPARE(driver->answerer.seen.size(), 2);
        QCOMPARE(driver->answerer.seen.last(), Error("Ошибка", row.message));
        QVERIFY2(driver->Status().endsWith(": стёрто страниц " + row.changed + " из 3000"), qPrintable(driver->Status()));
        QVERIFY(StatusMatch(driver->Status(), QStringLiteral("Запись не удалась через")).hasMatch());
        QCOMPARE(driver->State(), vanish ? Disconnected : Connected);
    }

    // The cancel button, or closing the window, asks whether to stop: "No"
    // goes on to the end, "Yes" (asked again after a "No") ends the job where
    // it stood, saying that the application will not start, and a close then
    // closes the window without a word.
    void cancelInEachPass_data()
    {
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("close");
        const QStringList passes = { "Стирание", "Запись", "Верификация" };
        const QStringList questions = { "Прервать стирание данных ?", "Прервать запись данных ?",
                                        "Прервать верификацию данных" };
        QTest::newRow("0: no") << passes[0] << questions[0] << false << false;
        for (int i = 0; i < passes.size(); ++i)
            QTest::addRow("%d: no, then yes", i) << passes[i] << questions[i] << true << false;
        QTest::newRow("close: no") << passes[1] << questions[1] << false << true;
        QTest::newRow("close: no, then yes") << passes[1] << questions[1] << true << true;
    }

    void cancelInEachPass()
    {
        QFETCH(QString, pass);
        QFETCH(QString, question);
        QFETCH(bool, stop);
        QFETCH(bool, close);
        const QByteArray image = Pattern(5000);
        Prepare(image);
        driver->answerer.Answer(QMessageBox::Ok);   // the summary
        driver->answerer.Answer(QMessageBox::No);
        const auto ask = [this, close] {
            if (close)
                driver->window.close();
            else
                driver->CancelButton()->click();
        };
        OnProgress(pass, [this, ask, stop] {
            ask();
            if (stop) {
                driver->answerer.OnNextBox([this, ask] {
                    driver->answerer.Answer(QMessageBox::Yes);
                    QTimer::singleShot(0, driver->Progress(), ask);
                });
            }
        });

        driver->WriteButton()->click();

        const QString box = Box(QMessageBox::Critical, "Подтверждение", QMessageBox::Yes | QMessageBox::No,
                                question);
        const QString stopped = Box(QMessageBox::Warning, "Внимание", QMessageBox::Ok, "Запись прервана." + NotStarting);
        QStringList boxes = { box, stop ? box : Done };
        if (stop && !close)
            boxes << stopped;
        QCOMPARE(driver->answerer.seen.mid(1), boxes);
        if (stop) {
            // What the status bar says was changed is what the flash holds:
            // the pages of the passes before, and the blocks after the first.
            const auto match = StatusMatch(driver->Status(), QStringLiteral("Запись прервана через"));
            QVERIFY2(match.hasMatch(), qPrintable(driver->Status()));
            const int written = match.captured(3).toInt();
            QCOMPARE(match.captured(2) == "5", pass != QStringLiteral("Стирание"));
            QCOMPARE(driver->sim->Flash().Read(AppStart + 64, written + 1), image.mid(64, written) + '\xFF');
        } else {
            QCOMPARE(driver->sim->Flash().Read(AppStart, image.size()), image);
        }
        QCOMPARE(driver->window.isVisible(), !(stop && close));
        QCOMPARE(driver->State(), Connected);
    }

    // Verify compares the flash with the data file; save reads from start to
    // end into a file that appears only once the whole range is read. size:
    // bytes to save; change: a byte altered in flash; fault: a block that
    // cannot be read (offsets from the start). FILE is the backup's path.
    void verifyAndSave_data()
    {
        for (const char *column : { "size", "change", "fault" })
            QTest::addColumn<int>(column);
        QTest::addColumn<QString>("backup");    // empty: verify
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status");
        const QString question = Box(QMessageBox::Critical, "Подтверждение", QMessageBox::Yes | QMessageBox::No,
                                     "Прервать %1 данных ?");
        const QString saved = Box(QMessageBox::Information, "Информация", QMessageBox::Ok,
                                  "Прочитано 3000 байт и сохранено в файл\nFILE");
        QTest::newRow("verify") << 0 << -1 << -1 << "" << false << Box(QMessageBox::Information, "Информация",
            QMessageBox::Ok, "Данные совпадают") << "Проверено 3000 байт за N с: данные совпадают";
        QTest::newRow("verify, a byte differs") << 0 << 1003 << -1 << "" << false << Error("Ошибка",
            "Данные не совпадают\nАдрес 0x80034eb\nБлок 0x80034c0, 64 байт") << "Проверка за N с: данные отличаются с адреса 0x80034eb";
        QTest::newRow("verify cancelled") << 0 << -1 << -1 << "" << true << question.arg("проверку")
                                          << "Проверка прервана через N с: проверено байт 128 из 3000";
        QTest::newRow("save raw") << 3000 << -1 << -1 << "a.bin" << false << saved << "Прочитано 3000 байт за N с и сохранено в FILE";
        QTest::newRow("save HEX") << 3000 << -1 << -1 << "a.hex" << false << saved << "Прочитано 3000 байт за N с и сохранено в FILE";
        QTest::newRow("save cancelled") << 3000 << -1 << -1 << "a.bin" << true << question.arg("чтение")
                                        << "Чтение прервано через N с: прочитано байт 128 из 3000, файл не записан";
        QTest::newRow("save fails") << 3000 << -1 << 640 << "a.bin" << false << Error("Ошибка",
            "Ошибка при чтении flash\nAdrees 640\nSize block 64") << "Чтение не удалось через N с: прочитано байт 640 из 3000, файл не записан";
        QTest::newRow("save, end below start") << 0 << -1 << -1 << "a.bin" << false << Error("Ошибка",
            "Диапазон чтения 0x8003000 - 0x8002fff пуст или больше 16 МБ") << "";
    }

    void verifyAndSave()
    {
        QFETCH(int, size);
        QFETCH(int, change);
        QFETCH(int, fault);
        QFETCH(QString, backup);
        QFETCH(bool, cancel);
        QFETCH(QString, box);
        QFETCH(QString, status);
        if (fault >= 0)
            config.faults.append({ FaultKind::CorruptCrc, 1, -1, 0.0, 0x64, 0x02, qint64(AppStart) + fault });
        // A raw file is verified from the start address, which needs no page
        // boundary: nothing is erased.
        const quint32 start = backup.isEmpty() ? AppStart + 0x100 : AppStart;
        const QByteArray image = Pattern(3000);
        Prepare(image);
        driver->Child<QSpinBox>("spinBoxStartAddr")->setValue(int(start));
        driver->sim->Flash().Write(start, image);
        if (change >= 0)
            driver->sim->Flash().Poke(start + change, char(~image[change]));
        QTemporaryDir backups;
        const QString path = backups.filePath(backup);
        if (cancel) {
            driver->answerer.Answer(QMessageBox::Yes);
            OnProgress(backup.isEmpty() ? "Верификация" : "Чтение", [this] { driver->CancelButton()->click(); });
        }
        if (!backup.isEmpty()) {
            driver->Child<QSpinBox>("spinBoxEndAddr")->setValue(int(AppStart) + size - 1);
            driver->answerer.ChooseFile(path);
        }

        (backup.isEmpty() ? driver->VerifyAction() : driver->SaveAction())->trigger();

        QCOMPARE(driver->answerer.seen.size(), size > 0 ? 2 : 1);   // the file dialog first
        QCOMPARE(driver->answerer.seen.last(), box.replace("FILE", path));
        QCOMPARE(driver->Status().replace(QRegularExpression("\\d+[.,]\\d с"), "N с"), status.replace("FILE", path));
        const bool written = status.contains("сохранено");
        // Never a partial backup, nor a temporary file left behind.
        QCOMPARE(QDir(backups.path()).entryList(QDir::Files), written ? QStringList(backup) : QStringList());
        QFile file(path);
        if (written && file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            QCOMPARE(ReadImage(bytes, backup, DetectFormat(backup, bytes), AppStart).image.Bytes(AppStart, size, 0),
                     driver->sim->Flash().Read(AppStart, size));
        }
        QCOMPARE(driver->State(), Connected);
    }

    // Disconnecting ends the job as a failure; a connect right after it cannot
    // start a second job inside the first, nor give the write button back.
    void disconnectDuringJob()
    {
        Prepare(Pattern(3000));
        OnProgress(QStringLiteral("Запись"), [this] {
            driver->DisconnectAction()->trigger();
            QCOMPARE(driver->State(), QStringLiteral("port baud cancel process"));
            driver->Connect();
            QCOMPARE(driver->State(), QStringLiteral("port baud cancel process"));
            driver->WriteButton()->click();
        });

        PressWrite();

        QCOMPARE(driver->answerer.seen.size(), 2);
        QVERIFY(driver->answerer.seen.last().startsWith(
            Error("Ошибка", "Ошибка при записи flash\nAdrees 128\n")));
        QVERIFY(!driver->answerer.seen.last().contains(QStringLiteral("потеряна")));
        QCOMPARE(driver->State(), Disconnected);
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowJobTest)
#include "tst_windowjob.moc"
