// Jobs through the window against the simulated loader. The engine's tests
// take every pass failure, cancel and late reply; these check what the
// window makes of each kind of outcome: words, boxes, status bar, buttons.
#include "flashmapview.h"
#include "differenceview.h"
#include "windowdriver.h"

namespace {

// A fault on every frame for the page or block at offset, or with offset -1
// on the third block written only; changed: the status bar's account.
struct FailureRow
{
    FaultKind kind;
    int command, argument, offset;
    QString message, changed;
};

// size: bytes to save; change: a byte altered in flash; fault: a block that
// cannot be read (offsets from the start); backup empty: verify.
struct CheckRow
{
    int size, change, fault;
    QString backup;
    bool cancel;
    QString box, status;
};

// job: write, skip (unchanged pages left alone), verify or save; change: a
// byte of the flash that differs from the image; cancel: the pass whose
// first progress is cancelled; map: a letter per page, outside pages after
// it left out.
struct MapRow
{
    QString job;
    QList<int> changes;     // bytes of the flash that differ from the file
    FaultRule fault;
    QString cancel, map;
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

QString Question(const QString &text)
{
    return Box(QMessageBox::Critical, "Подтверждение", QMessageBox::Yes | QMessageBox::No, text);
}

QString WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

Q_DECLARE_METATYPE(FailureRow)
Q_DECLARE_METATYPE(CheckRow)
Q_DECLARE_METATYPE(MapRow)

class WindowJobTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString imagePath = dir.filePath(QStringLiteral("image.bine"));
    SimConfig config;
    std::unique_ptr<WindowDriver> driver;

    // Connected to a fresh simulator, the parameters answered, the file chosen.
    void Prepare(const QString &file, QMessageBox::StandardButton params = QMessageBox::Ok)
    {
        driver = std::make_unique<WindowDriver>(&config);
        driver->Connect(params);
        if (!file.isEmpty())
            driver->ChooseFile(file);
        driver->answerer.seen.clear();
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
        QTest::newRow("two blocks in one page") << 100 << Summary(52, 0, 1);
        QTest::newRow("three pages, short last block") << 3000 << Summary(52, 2, 3);
        QTest::newRow("the whole area, end included") << 0xD000 << Summary(52, 52, 52);
    }

    // The file, cut short during the job, goes in as it was at the start. No
    // other dialog may open meanwhile: it would hold the job inside its wait.
    void programsFileIntoFlash()
    {
        QFETCH(int, size);
        const QByteArray image = Pattern(size);
        Prepare(WriteFile(imagePath, image));
        bool dialogsDuringJob = true;
        OnProgress(QStringLiteral("Запись"), [this, &dialogsDuringJob] {
            WriteFile(imagePath, "short");
            dialogsDuringJob = driver->AboutAction()->isEnabled() || driver->Child("pushButtonFileData")->isEnabled();
        });

        driver->Write();

        QTEST(driver->answerer.seen.value(0), "summary");
        QCOMPARE(driver->answerer.seen.mid(1), QStringList(Done));
        // The image, then erased bytes to the end of its last page.
        const int pagesEnd = (size + 1023) / 1024 * 1024;
        QCOMPARE(driver->sim->Flash().Read(AppStart, pagesEnd), image + QByteArray(pagesEnd - size, '\xFF'));
        QVERIFY(!dialogsDuringJob);
        QVERIFY(driver->AboutAction()->isEnabled() && driver->Child("pushButtonFileData")->isEnabled());
        QCOMPARE(driver->Status(), QStringLiteral("Записано и проверено %1 байт за N с").arg(size));
        QCOMPARE(driver->PassLabel() + ' ' + driver->Progress()->text(), QStringLiteral("Запись 0%"));
        QCOMPARE(driver->State(), Connected);
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("file");      // "none", "gone", "typed", "chosen", or a HEX file's text
        QTest::addColumn<QString>("box");
        const int app = int(AppStart);
        QTest::newRow("no file chosen") << 10 << app << "none" << Error("Не выбран файл данных");
        // The file named, and the system's reason.
        QTest::newRow("file gone") << 10 << app << "gone" << Error("Не удается открыть файл\nFILE\nNo such file or directory");
        QTest::newRow("one byte too large, typed") << 0xD001 << app << "typed"
                                                   << Error("Размер файла больше заданного диапазона памяти");
        QTest::newRow("start inside a page") << 100 << app + 0x100 << "chosen"
                                             << Error("Начальный адрес не кратен размеру страницы");
        QTest::newRow("odd start") << 100 << app + 1 << "chosen" << Error(
            "Начальный адрес 0x08003001 нечётный: flash программируется полусловами с чётного адреса");
        QTest::newRow("larger than any image") << 64 * 1024 * 1024 + 1 << app << "chosen" << Error(
            "Файл данных больше 67108864 байт — больше любого образа, который записывает программа:\nFILE");
        QTest::newRow("empty file") << 0 << app << "chosen" << Error("Файл данных пуст:\nFILE");
        QTest::newRow("malformed HEX") << 0 << app << ":0400000001020304F3\n:00000001FF\n"
            << Error("Ошибка в файле образа\nimage.hex line 1: checksum 0xF3, expected 0xF2");
        QTest::newRow("HEX below the start") << 0 << app << ":020000040800F2\n:0400000001020304F2\n:00000001FF\n"
            << Error("Данные образа лежат вне заданного диапазона памяти\n0x8000000 - 0x8000003");
        // The form's geometry (parameters refused): 2 KiB pages.
        QTest::newRow("4097 bytes declined") << 4097 << app << "chosen" << Summary(48, 4, 3);
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(int, size);
        QFETCH(int, start);
        QFETCH(QString, file);
        QFETCH(QString, box);
        const bool hex = file.startsWith(':');
        const QString path = hex ? dir.filePath("image.hex") : imagePath;
        WriteFile(path, hex ? file.toLatin1() : Pattern(size));
        Prepare(hex || file == "chosen" || file == "gone" ? path : QString(),
                box.contains(QStringLiteral("Жми ОК")) ? QMessageBox::Cancel : QMessageBox::Ok);
        if (file == QStringLiteral("gone"))
            QFile::remove(path);
        if (file == QStringLiteral("typed"))
            driver->Child<QLineEdit>("lineEditFileData")->setText(path);
        driver->Child<QSpinBox>("spinBoxStartAddr")->setValue(start);
        const int framesBefore = driver->sim->FramesReceived();

        driver->Write(QMessageBox::Cancel);

        QCOMPARE(driver->answerer.seen, QStringList(box.replace("FILE", QDir::toNativeSeparators(path))));
        QCOMPARE(driver->sim->FramesReceived(), framesBefore);
        QCOMPARE(driver->State(), Connected);
    }

    // A row per branch of the failure text (erase, write, read, verify),
    // with or without the application left unable to start, and a lost port.
    void failureInEachPass_data()
    {
        QTest::addColumn<FailureRow>("row");
        // The first block goes in last, after every other is verified.
        QTest::newRow("page cannot be erased") << FailureRow{ FaultKind::BadStatus, 0x21, -1, 1024,
            "Ошибка при стирания Flash\nPage 1", "1 из 3, записано байт 0" };
        QTest::newRow("second block unreadable") << FailureRow{ FaultKind::CorruptCrc, 0x64, 0x02, 64,
            "Ошибка при чтении flash\nAdrees 64\nSize block 64", "3 из 3, записано байт 2936" };
        QTest::newRow("worn first block") << FailureRow{ FaultKind::WornCell, 0x64, 0x12, 0,
            "Ошибка верификации flash\nAdress 0x08003000\nSize block 64\nSize send block 64", "3 из 3, записано байт 3000" };
        // The first block written is acknowledged again and again, for ever.
        QTest::newRow("device talks out of turn") << FailureRow{ FaultKind::Replay, 0x64, 0x12, 64,
            "Ошибка при чтении flash\nAdrees 64\nSize block 64\n\nУстройство продолжает передавать без запроса",
            "3 из 3, записано байт 2936" };
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
        Prepare(WriteFile(imagePath, Pattern(3000)));

        driver->Write();

        if (row.offset != 0)
            row.message += NotStarting;
        if (vanish)
            row.message += QStringLiteral("\n\nСвязь через порт %1 потеряна").arg(driver->sim->SlavePath());
        QCOMPARE(driver->answerer.seen.mid(1), QStringList(Error(row.message)));
        QCOMPARE(driver->Status(), "Запись не удалась через N с: стёрто страниц " + row.changed + " из 3000");
        QCOMPARE(driver->State(), vanish ? Disconnected : Connected);
    }

    // Cancel, or closing the window, asks each time: "No" goes on to the end,
    // "Yes" stops and says the application will not start, or with a close
    // closes the window without a word.
    void cancelInEachPass_data()
    {
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("close");
        QTest::newRow("compare: no, then yes") << "Сравнение" << "Прервать сравнение данных ?" << true << false;
        QTest::newRow("erase: no, then yes") << "Стирание" << "Прервать стирание данных ?" << true << false;
        QTest::newRow("write: no, then yes") << "Запись" << "Прервать запись данных ?" << true << false;
        QTest::newRow("verify: no, then yes") << "Верификация" << "Прервать верификацию данных" << true << false;
        QTest::newRow("close: no") << "Запись" << "Прервать запись данных ?" << false << true;
        QTest::newRow("close: no, then yes") << "Запись" << "Прервать запись данных ?" << true << true;
    }

    void cancelInEachPass()
    {
        QFETCH(QString, pass);
        QFETCH(QString, question);
        QFETCH(bool, stop);
        QFETCH(bool, close);
        Prepare(WriteFile(imagePath, Pattern(5000)));
        driver->Child<QCheckBox>("checkBoxSkipUnchanged")->setChecked(pass == "Сравнение");
        const auto ask = [this, close] {
            if (close)
                driver->window.close();
            else
                driver->CancelButton()->click();
        };
        OnProgress(pass, [this, ask, stop] {
            driver->answerer.Answer(QMessageBox::No);
            ask();
            if (stop) {
                driver->answerer.OnNextBox([this, ask] {
                    driver->answerer.Answer(QMessageBox::Yes);
                    QTimer::singleShot(0, driver->Progress(), ask);
                });
            }
        });

        driver->Write();

        QStringList boxes = { Question(question), stop ? Question(question) : Done };
        if (stop && !close && pass != "Сравнение")
            boxes << Box(QMessageBox::Warning, "Внимание", QMessageBox::Ok, "Запись прервана." + NotStarting);
        QCOMPARE(driver->answerer.seen.mid(1), boxes);
        // Every page is erased once the erase pass is over, none before it.
        const QString erased = pass == QStringLiteral("Стирание") ? "[0-4]" : pass == "Сравнение" ? "0" : "5";
        QVERIFY2(!stop || QRegularExpression("^Запись прервана через N с: стёрто страниц " + erased
                                             + " из 5, записано байт \\d+ из 5000$").match(driver->Status()).hasMatch(),
                 qPrintable(driver->Status()));
        QCOMPARE(driver->window.isVisible(), !(stop && close));
        QCOMPARE(driver->State(), Connected);
    }

    // Save reads from start to end into a file that appears only once the
    // whole range is read.
    void verifyAndSave_data()
    {
        QTest::addColumn<CheckRow>("row");
        QTest::newRow("verify cancelled") << CheckRow{ 0, -1, -1, "", true, Question("Прервать проверку данных ?"),
            "Проверка прервана через N с: проверено байт 128 из 3000" };
        QTest::newRow("save cancelled") << CheckRow{ 3000, -1, -1, "a.bin", true, Question("Прервать чтение данных ?"),
            "Чтение прервано через N с: прочитано байт 126 из 3000, файл не записан" };
        // Reads ask for lengths from 64 down to 54 in turn: the one from 654 is 54 bytes long.
        QTest::newRow("save fails") << CheckRow{ 3000, -1, 654, "a.bin", false,
            Error("Ошибка при чтении flash\nAdrees 654\nSize block 54"),
            "Чтение не удалось через N с: прочитано байт 654 из 3000, файл не записан" };
        QTest::newRow("save, end below start") << CheckRow{ 0, -1, -1, "a.bin", false,
            Error("Диапазон чтения 0x8003000 - 0x8002fff пуст или больше 16 МБ"), "" };
    }

    void verifyAndSave()
    {
        QFETCH(CheckRow, row);
        if (row.fault >= 0)
            config.faults.append({ FaultKind::CorruptCrc, 1, -1, 0.0, 0x64, 0x02, qint64(AppStart) + row.fault });
        // A raw file is verified from the start address, which needs no page
        // boundary: nothing is erased.
        const bool verify = row.backup.isEmpty();
        const quint32 start = verify ? AppStart + 0x100 : AppStart;
        const QByteArray image = Pattern(3000);
        Prepare(WriteFile(imagePath, image));
        driver->Child<QSpinBox>("spinBoxStartAddr")->setValue(int(start));
        driver->sim->Flash().Write(start, image);
        if (row.change >= 0)
            driver->sim->Flash().Poke(start + row.change, char(~image[row.change]));
        QTemporaryDir backups;
        if (row.cancel) {
            driver->answerer.Answer(QMessageBox::Yes);
            OnProgress(verify ? "Верификация" : "Чтение", [this] { driver->CancelButton()->click(); });
        }
        if (!verify) {
            driver->Child<QSpinBox>("spinBoxEndAddr")->setValue(int(AppStart) + row.size - 1);
            driver->answerer.ChooseFile(backups.filePath(row.backup));
        }

        (verify ? driver->VerifyAction() : driver->SaveAction())->trigger();

        QCOMPARE(driver->answerer.seen.size(), row.size > 0 ? 2 : 1);   // the file dialog first
        QCOMPARE(driver->answerer.seen.last(), row.box);
        QCOMPARE(driver->Status(), row.status);
        // Never a partial backup, nor a temporary file left behind.
        QCOMPARE(QDir(backups.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(driver->State(), Connected);
    }

    // A verify with differences opens the view: its ranges, and for the one
    // selected the rows of 16 around it, file and device side by side with
    // exactly the bytes that differ marked, and nothing past the image.
    void verifyShowsDifferences_data()
    {
        QTest::addColumn<QList<int>>("changed");   // bytes of the file the flash holds inverted
        QTest::addColumn<QStringList>("ranges");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QStringList>("rows");      // the selected range's rows
        QTest::addColumn<QString>("status");
        QTest::newRow("a byte, then a run across blocks in the same rows")
            << QList<int>{1010, 1020, 1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030}
            << QStringList{"0x080034f2 1", "0x080034fc 11"} << 1 << QStringList{"0x080034f0", "0x08003500"}
            << "Проверка за N с: отличаются 12 байт в 2 диапазонах, первый с адреса 0x080034f2";
        QTest::newRow("the image's last bytes") << QList<int>{4, 2998, 2999}
            << QStringList{"0x08003104 1", "0x08003cb6 2"} << 1 << QStringList{"0x08003cb0"}
            << "Проверка за N с: отличаются 3 байт в 2 диапазонах, первый с адреса 0x08003104";
    }

    void verifyShowsDifferences()
    {
        QFETCH(QList<int>, changed);
        QFETCH(int, selected);
        const quint32 start = AppStart + 0x100;
        const QByteArray image = Pattern(3000);
        QByteArray flash = image;
        for (int at : changed)
            flash[at] = char(~image[at]);
        Prepare(WriteFile(imagePath, image));
        driver->Child<QSpinBox>("spinBoxStartAddr")->setValue(int(start));
        driver->sim->Flash().Write(start, flash);

        driver->VerifyAction()->trigger();

        QCOMPARE(driver->answerer.seen, QStringList());
        QTEST(driver->Status(), "status");
        auto *view = driver->window.findChild<DifferenceView *>();
        QVERIFY(view && view->isVisible());
        QStringList ranges;
        for (int row = 0; row < view->Ranges()->rowCount(); ++row)
            ranges << view->Ranges()->index(row, 0).data().toString() + ' ' + view->Ranges()->index(row, 1).data().toString();
        QTEST(ranges, "ranges");
        view->RangesTable()->selectRow(selected);
        // Each side's row as "address: byte byte [marked] ...", from the file and the flash.
        const DifferenceBytes *bytes = view->Bytes();
        for (auto side : { DifferenceBytes::Side::File, DifferenceBytes::Side::Device }) {
            QStringList shown, expected, addresses;
            for (int row = 0; row < bytes->rowCount(); ++row) {
                const quint32 address = bytes->headerData(row, Qt::Vertical).toString().toUInt(nullptr, 16);
                QString line = QStringLiteral("0x%1:").arg(address, 8, 16, QLatin1Char('0'));
                QString wanted = line;
                for (int offset = 0; offset < 16; ++offset) {
                    const QModelIndex cell = bytes->index(row, DifferenceBytes::Column(side, offset));
                    const QString text = cell.data().toString();
                    line += cell.data(Qt::BackgroundRole).isValid() ? " [" + text + ']' : ' ' + text;
                    const int at = int(address - start) + offset;
                    const QByteArray &from = side == DifferenceBytes::Side::File ? image : flash;
                    const QString hex = at < image.size() ? from.mid(at, 1).toHex() : QString();
                    wanted += at < image.size() && image[at] != flash[at] ? " [" + hex + ']' : ' ' + hex;
                }
                shown << line;
                expected << wanted;
                addresses << line.left(10);
            }
            QTEST(addresses, "rows");
            QCOMPARE(shown, expected);
        }
        // Put right, the device matches, and the view of how it did not goes.
        for (int at : changed)
            driver->sim->Flash().Poke(start + quint32(at), image[at]);
        driver->VerifyAction()->trigger();
        QCOMPARE(driver->answerer.seen, QStringList(Box(QMessageBox::Information, "Информация", QMessageBox::Ok, "Данные совпадают")));
        QVERIFY(!view->isVisible());
        QCOMPARE(driver->State(), Connected);
    }

    // The whole area saved, its end address included, verifies against the
    // device and writes back to a fresh one.
    void saveVerifyWriteBack_data()
    {
        QTest::addColumn<QString>("backup");
        QTest::newRow("raw") << "area.bine";
        QTest::newRow("Intel HEX") << "area.hex";
    }

    void saveVerifyWriteBack()
    {
        QFETCH(QString, backup);
        const QByteArray area = Pattern(0xD000);
        config.strictRewrite = true;
        Prepare(QString());
        driver->sim->Flash().Write(AppStart, area);
        QTemporaryDir backups;
        const QString path = backups.filePath(backup);
        const auto info = [](const QString &text) {
            return Box(QMessageBox::Information, "Информация", QMessageBox::Ok, text);
        };
        driver->answerer.ChooseFile(path);

        driver->SaveAction()->trigger();
        QCOMPARE(driver->answerer.seen.last(), info("Прочитано 53248 байт и сохранено в файл\n" + path));
        QCOMPARE(driver->Status(), "Прочитано 53248 байт за N с и сохранено в " + path);
        driver->ChooseFile(path);
        driver->VerifyAction()->trigger();
        QCOMPARE(driver->answerer.seen.last(), info("Данные совпадают"));
        QCOMPARE(driver->Status(), QStringLiteral("Проверено 53248 байт за N с: данные совпадают"));

        Prepare(path);
        driver->Write();
        QCOMPARE(driver->answerer.seen, QStringList({ Summary(52, 52, 52), Done }));
        QCOMPARE(driver->sim->Flash().Read(AppStart, area.size()), area);
    }

    // The option, set in one window, taken over by the next. No byte can be
    // programmed twice and erases at refused (-1: any) fail, so only the
    // pages that differ, and the first block's, may be erased and written.
    void rewritesOnlyChangedPages_data()
    {
        QTest::addColumn<bool>("skip");
        QTest::addColumn<int>("change");    // the byte of the file that differs from the flash; -1: none
        QTest::addColumn<qint64>("refused");
        QTest::addColumn<QString>("status");
        const QString done = "Записано и проверено 3000 байт за N с, страниц без изменений: ";
        QTest::newRow("same image") << true << -1 << qint64(-1)
                                    << "Устройство уже содержит образ: ничего не записано";
        QTest::newRow("a byte in the third page") << true << 2100 << qint64(AppStart + 1024) << done + "1";
        QTest::newRow("option off") << false << -1 << qint64(AppStart + 1024)
                                    << "Запись не удалась через N с: стёрто страниц 1 из 3, записано байт 0 из 3000";
    }

    void rewritesOnlyChangedPages()
    {
        QFETCH(bool, skip);
        QFETCH(int, change);
        QFETCH(qint64, refused);
        QByteArray image = Pattern(3000);
        WindowDriver().Child<QCheckBox>("checkBoxSkipUnchanged")->setChecked(skip);
        config.strictRewrite = true;
        config.faults.append({ FaultKind::BadStatus, 1, -1, 0.0, 0x21, -1, refused });
        Prepare(QString());
        QCOMPARE(driver->sim->Flash().Write(AppStart, image), StatusOk);
        if (change >= 0)
            image[change] = char(~image[change]);
        driver->ChooseFile(WriteFile(imagePath, image));

        driver->Write();

        QTEST(driver->Status(), "status");
        QCOMPARE(driver->answerer.seen.contains(Done), driver->Status().startsWith("Записано"));
    }

    // The keys do what their actions and buttons do: connect (clearing the last device's status),
    // write, Esc for the cancel question, verify, disconnect; the title shows the pass and its share.
    void keys()
    {
        driver = std::make_unique<WindowDriver>(&config);
        driver->window.show();
        QVERIFY(QTest::qWaitForWindowActive(&driver->window));
        driver->Child<QLabel>("labelJobStatus")->setText("the last device");
        driver->PortBox()->setEditText(driver->sim->SlavePath());
        driver->answerer.Answer(QMessageBox::Ok);
        QTest::keyClick(&driver->window, Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(driver->State() + driver->Status(), Connected);
        driver->ChooseFile(WriteFile(imagePath, Pattern(3000)));
        QString title;
        OnProgress("Запись", [this, &title] {
            title = driver->window.windowTitle();
            driver->answerer.Answer(QMessageBox::Yes);
            driver->window.activateWindow();    // back from the summary
            QVERIFY(QTest::qWaitForWindowActive(&driver->window));
            QTest::keyClick(&driver->window, Qt::Key_Escape);
        });
        driver->answerer.seen.clear();
        driver->answerer.Answer(QMessageBox::Ok);
        driver->window.activateWindow();    // back from the file dialog
        QVERIFY(QTest::qWaitForWindowActive(&driver->window));
        QTest::keyClick(&driver->window, Qt::Key_F5);
        QVERIFY2(QRegularExpression("^Запись \\d+% — Tamrivo$").match(title).hasMatch(), qPrintable(title));
        QCOMPARE(driver->answerer.seen.value(1), Question("Прервать запись данных ?"));
        QCOMPARE(driver->window.windowTitle(), "Tamrivo");
        driver->window.activateWindow();    // back from the cancel question
        QVERIFY(QTest::qWaitForWindowActive(&driver->window));
        QTest::keyClick(&driver->window, Qt::Key_F6);
        QVERIFY2(driver->Status().startsWith("Проверка за N с: отличаются"), qPrintable(driver->Status()));
        driver->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&driver->window));
        QTest::keyClick(&driver->window, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(driver->State(), Disconnected);
    }

    // The map after the job: blank pages left to the erase, pages kept,
    // the first page unfinished while its first block waits for the end.
    void flashMapAfterJob_data()
    {
        QTest::addColumn<MapRow>("row");
        const FaultRule none;
        QTest::newRow("write, second page blank") << MapRow{ "write", {}, none, "", "vbv" };
        QTest::newRow("write, one page kept") << MapRow{ "skip", {2100}, none, "", "vuv" };
        QTest::newRow("cancelled erasing") << MapRow{ "write", {}, none, "Стирание", "ett" };
        QTest::newRow("cancelled writing") << MapRow{ "write", {}, none, "Запись", "ebe" };
        QTest::newRow("cancelled verifying") << MapRow{ "write", {}, none, "Верификация", "ebw" };
        QTest::newRow("worn first block") << MapRow{ "write", {},
            { FaultKind::WornCell, 1, -1, 0.0, 0x64, 0x12, AppStart }, "", "fbv" };
        QTest::newRow("page cannot be erased") << MapRow{ "write", {},
            { FaultKind::BadStatus, 1, -1, 0.0, 0x21, -1, AppStart + 1024 }, "", "eft" };
        QTest::newRow("verify, first and second pages differ") << MapRow{ "verify", {100, 1500}, none, "", "ffv" };
        QTest::newRow("save") << MapRow{ "save", {}, none, "", "rrr" };
        QTest::newRow("save, a block unreadable") << MapRow{ "save", {},
            { FaultKind::CorruptCrc, 1, -1, 0.0, 0x64, 0x02, AppStart + 1062 }, "", "rft" };
    }

    void flashMapAfterJob()
    {
        QFETCH(MapRow, row);
        if (row.fault.command >= 0)
            config.faults.append(row.fault);
        QByteArray image = Pattern(3000);
        if (row.job == "write")
            image.replace(1024, 1024, QByteArray(1024, '\xFF'));
        Prepare(WriteFile(imagePath, image));
        if (row.job != "write")
            driver->sim->Flash().Write(AppStart, image);
        for (int change : row.changes)
            driver->sim->Flash().Poke(AppStart + change, char(~image[change]));
        driver->Child<QCheckBox>("checkBoxSkipUnchanged")->setChecked(row.job == "skip");
        // At once, inside the job: the map then shows exactly one step done.
        auto asked = std::make_shared<bool>(false);
        QObject::connect(driver->Progress(), &QProgressBar::valueChanged, driver->Progress(), [=](int value) {
            if (value > 0 && !*asked && driver->PassLabel() == row.cancel) {
                *asked = true;
                driver->answerer.Answer(QMessageBox::Yes);
                driver->CancelButton()->click();
            }
        });

        if (row.job == "save") {
            driver->Child<QSpinBox>("spinBoxEndAddr")->setValue(int(AppStart) + 2999);
            driver->answerer.ChooseFile(dir.filePath("backup.bin"));
            driver->SaveAction()->trigger();
        } else if (row.job == "verify") {
            driver->VerifyAction()->trigger();
        } else {
            driver->Write();
        }

        const FlashMapModel &map = driver->Child<FlashMapView>("flashMap")->Model();
        QString letters;
        for (int page = 0; page < map.Count(); ++page)
            letters += QStringLiteral("obuvrwetf").at(int(map.State(page)));
        QCOMPARE(letters, row.map.leftJustified(row.job == "save" ? 3 : 52, 'o'));
    }

    // Thousands of pages share cells in the same few rows; each page is in
    // the cell whose run of pages holds it.
    void flashMapGeometry_data()
    {
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("cell");
        QTest::addColumn<int>("cells");
        QTest::newRow("16 pages") << 16 << 24 << 16;
        QTest::newRow("52 pages") << 52 << 20 << 52;
        QTest::newRow("16384 pages") << 16384 << 3 << 2880;
    }

    void flashMapGeometry()
    {
        QFETCH(int, pages);
        const MapGeometry fit = MapGeometry::Fit(pages, 360, 72);
        QTEST(fit.cell, "cell");
        QTEST(fit.cells, "cells");
        QVERIFY((fit.cells + fit.columns - 1) / fit.columns * fit.cell <= 72);
        for (int page = 0; page < pages; ++page) {
            const int cell = fit.CellOf(page, pages);
            QVERIFY2(fit.FirstPage(cell, pages) <= page && page < fit.FirstPage(cell + 1, pages), qPrintable(QString::number(page)));
        }
    }

    void progressFollowsJob_data()
    {
        QTest::addColumn<QString>("job");
        for (const char *job : { "write", "skip", "verify", "save" })
            QTest::newRow(job) << job;
    }

    // The title names the pass the group shows from its first step, beside its speed
    // and time left; before the box that ends the job the group is idle again.
    void progressFollowsJob()
    {
        QFETCH(QString, job);
        Prepare(WriteFile(imagePath, Pattern(3000)));
        driver->sim->Flash().Write(AppStart, Pattern(job == "verify" ? 3000 : 2999));
        driver->Child<QCheckBox>("checkBoxSkipUnchanged")->setChecked(job == "skip");
        QStringList wrong;
        bool rate = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const QString title = driver->window.windowTitle();
            if (title != "Tamrivo" && !title.startsWith(driver->PassLabel() + ' '))
                wrong << driver->PassLabel() + " / " + title;
            rate = rate || driver->Child<QLabel>("labelRate")->text().contains(QRegularExpression("/с, осталось \\d+:\\d\\d$"));
        });
        poll.start(0);
        QString idle;
        const auto atEnd = [&] { idle = driver->PassLabel() + ' ' + driver->Progress()->text()
                                        + driver->Child<QLabel>("labelRate")->text() + " | " + driver->window.windowTitle(); };
        const std::function<void()> afterSummary = [&] { driver->answerer.OnNextBox(atEnd); };
        driver->answerer.OnNextBox(job == "write" || job == "skip" ? afterSummary : atEnd);
        driver->Child<QSpinBox>("spinBoxEndAddr")->setValue(int(AppStart) + 2999);
        driver->answerer.ChooseFile(dir.filePath("backup.bin"));

        job == "save" ? driver->SaveAction()->trigger() : job == "verify" ? driver->VerifyAction()->trigger() : driver->Write();

        QCOMPARE(wrong, QStringList());
        QVERIFY(rate);
        QCOMPARE(idle, QStringLiteral("Запись 0% | Tamrivo"));
    }

    void differencesOutOfDate_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("outOfDate");
        QTest::addColumn<QString>("map");       // a letter per page, outside pages after it left out
        QTest::newRow("disconnect") << "disconnect" << true << "ffv";
        QTest::newRow("connect again") << "connect" << true << "ttt";
        QTest::newRow("write") << "write" << true << "vvv";
        QTest::newRow("another file") << "file" << true << "tt";
        QTest::newRow("larger pages") << "page size" << false << "tt";
        QTest::newRow("lower end") << "end" << false << "ttt";
    }

    // A verify marks pages as it finds them differing; its differences go out of date with the
    // device or the file, and the map starts again from the file on a connect or a new range.
    void differencesOutOfDate()
    {
        QFETCH(QString, change);
        const QByteArray image = Pattern(3000);
        Prepare(WriteFile(imagePath, image));
        driver->sim->Flash().Write(AppStart, image);
        for (int at : { 100, 1500 })
            driver->sim->Flash().Poke(AppStart + at, char(~image[at]));
        FlashMapModel &map = driver->Child<FlashMapView>("flashMap")->Model();
        bool early = false;
        QObject::connect(driver->Progress(), &QProgressBar::valueChanged, driver->Progress(), [&](int value) {
            early = early || (value > 0 && value < 1024 && map.State(0) == PageState::Failed);
        });
        driver->VerifyAction()->trigger();
        auto *view = driver->window.findChild<DifferenceView *>();
        QVERIFY(early && view && view->isVisible() && view->windowTitle() == "Различия");

        if (change == "disconnect" || change == "connect")
            driver->DisconnectAction()->trigger();
        change == "connect" ? driver->Connect() : change == "write" ? driver->Write() : void();
        if (change == "file")
            driver->ChooseFile(WriteFile(dir.filePath("other.bine"), Pattern(2000)));
        driver->Child<QSpinBox>("spinBoxSizePage")->setValue(change == "page size" ? 2048 : 1024);
        driver->Child<QSpinBox>("spinBoxEndAddr")->setValue(change == "end" ? int(AppStart) + 4095 : driver->Child<QSpinBox>("spinBoxEndAddr")->value());

        QTEST(view->windowTitle().endsWith("(устарело)"), "outOfDate");
        QString letters;
        for (int page = 0; page < map.Count(); ++page)
            letters += QStringLiteral("obuvrwetf").at(int(map.State(page)));
        QTEST(letters.remove(QRegularExpression("o+$")), "map");
    }

    // The user's disconnect fails the job without a word of a lost port; a
    // connect meanwhile can neither start a second job nor free the buttons.
    void disconnectDuringJob()
    {
        Prepare(WriteFile(imagePath, Pattern(3000)));
        OnProgress(QStringLiteral("Запись"), [this] {
            driver->DisconnectAction()->trigger();
            QCOMPARE(driver->State(), QStringLiteral("port baud cancel process"));
            driver->Connect();
            QCOMPARE(driver->State(), QStringLiteral("port baud cancel process"));
            driver->WriteButton()->click();
        });

        driver->Write();

        QCOMPARE(driver->answerer.seen.mid(1),
                 QStringList(Error("Ошибка при записи flash\nAdrees 128\nSize block 64" + NotStarting)));
        QCOMPARE(driver->State(), Disconnected);
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowJobTest)
#include "tst_windowjob.moc"
