// Programming a file through the window against the simulated loader: what
// the user sees, and what ends up in the device's flash.
#include "guitestmain.h"
#include "windowdriver.h"

#include <QFile>
#include <QSettings>
#include <QTimer>

#include <functional>

Q_DECLARE_METATYPE(FaultKind)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const quint32 AppStart = 0x08003000;
const QString Done = QStringLiteral("Данные успешно записаны");

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x12345678u + quint32(size);
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 24);
    }
    return bytes;
}

QString Summary(int availableKb, int sizeKb, int pages)
{
    return QStringLiteral("Доступно памяти %1 кБ\nОбъем данных %2 кБ\nКоличество страниц %3 \n\n"
                          "Жми ОК для продолжения").arg(availableKb).arg(sizeKb).arg(pages);
}

} // namespace

class WindowJobTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void programsFileIntoFlash_data();
    void programsFileIntoFlash();
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();
    void failureInEachPass_data();
    void failureInEachPass();
    void cancelInEachPass_data();
    void cancelInEachPass();
    void disconnectDuringJob();
    void fileChangedDuringJob();
    void closingWindowDuringJob_data();
    void closingWindowDuringJob();

private:
    QString WriteFile(const QByteArray &bytes);
    // Connects to a fresh simulator (answering the parameter question) and
    // chooses the file; then presses "Запись", answering the summary.
    void Prepare(const QByteArray &image, QMessageBox::StandardButton params = QMessageBox::Ok,
                 bool chooseFile = true);
    void PressWrite(QMessageBox::StandardButton summary = QMessageBox::Ok);
    // Runs action from the event loop once the pass has made its first progress.
    void OnProgress(const QString &pass, std::function<void()> action);
    QStringList Texts() const;

    QTemporaryDir dir;
    SimConfig config;
    std::unique_ptr<WindowDriver> driver;
};

void WindowJobTest::init()
{
    config = SimConfig();
    driver.reset();
    QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
}

QString WindowJobTest::WriteFile(const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("image.bine"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void WindowJobTest::Prepare(const QByteArray &image, QMessageBox::StandardButton params,
                            bool chooseFile)
{
    driver = std::make_unique<WindowDriver>(&config);
    driver->Connect(params);
    const QString path = WriteFile(image);
    if (chooseFile)
        driver->ChooseFile(path);
    driver->answerer.Clear();
}

void WindowJobTest::PressWrite(QMessageBox::StandardButton summary)
{
    driver->answerer.Answer(summary);
    driver->WriteButton()->click();
}

void WindowJobTest::OnProgress(const QString &pass, std::function<void()> action)
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

QStringList WindowJobTest::Texts() const
{
    QStringList texts;
    for (const SeenDialog &seen : driver->answerer.Seen())
        texts << seen.text;
    return texts;
}

void WindowJobTest::programsFileIntoFlash_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("summary");
    QTest::newRow("two blocks in one page") << 100 << Summary(51, 0, 1);
    QTest::newRow("three pages, short last block") << 3000 << Summary(51, 2, 3);
    QTest::newRow("exactly end minus start") << 0xCFFF << Summary(51, 51, 52);
    QTest::newRow("empty file") << 0 << Summary(51, 0, 0);
}

void WindowJobTest::programsFileIntoFlash()
{
    QFETCH(int, size);
    QFETCH(QString, summary);
    const QByteArray image = Pattern(size);
    Prepare(image);
    const int framesBefore = driver->sim->FramesReceived();

    PressWrite();

    QCOMPARE(Texts(), QStringList({ summary, Done }));
    QCOMPARE(driver->answerer.Last().icon, QMessageBox::Information);
    QCOMPARE(driver->answerer.Last().title, QStringLiteral("Информация"));
    // The image, then erased bytes to the end of its last page, then pages never touched.
    FlashModel &flash = driver->sim->Flash();
    const int pagesEnd = int((quint32(size) + 1023) / 1024 * 1024);
    QCOMPARE(flash.Read(AppStart, pagesEnd), image + QByteArray(pagesEnd - size, char(0xFF)));
    if (size == 0)
        QCOMPARE(driver->sim->FramesReceived(), framesBefore);
    QCOMPARE(driver->PassLabel(), QStringLiteral("Верификация"));
    QCOMPARE(driver->Progress()->value(), size);
    QVERIFY(driver->IdleAfterJob(true));
}

void WindowJobTest::refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("file");      // "none", "gone" or "ok"
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString tooLarge = QStringLiteral("Размер файла больше заданного диапазона памяти");
    QTest::newRow("no file chosen") << 10 << int(AppStart) << "none" << "Error" << "Не выбран файл данных";
    QTest::newRow("file gone") << 10 << int(AppStart) << "gone" << "Ошибка" << "Не удается открыть файл";
    QTest::newRow("one byte too large") << 0xD000 << int(AppStart) << "ok" << "Ошибка" << tooLarge;
    QTest::newRow("start at end") << 1 << 0x0800FFFF << "ok" << "Ошибка" << tooLarge;
    QTest::newRow("start inside a page") << 100 << int(AppStart + 0x100) << "ok" << "Ошибка"
                                         << "Начальный адрес не кратен размеру страницы";
    // Declined summaries: geometry of the form (parameters refused), 2 KiB pages.
    QTest::newRow("4096 bytes declined") << 4096 << int(AppStart) << "ok" << "Внимание" << Summary(47, 4, 2);
    QTest::newRow("4097 bytes declined") << 4097 << int(AppStart) << "ok" << "Внимание" << Summary(47, 4, 3);
    QTest::newRow("1023 bytes declined") << 1023 << int(AppStart) << "ok" << "Внимание" << Summary(47, 0, 1);
}

void WindowJobTest::refusedBeforeAnythingIsSent()
{
    QFETCH(int, size);
    QFETCH(int, start);
    QFETCH(QString, file);
    QFETCH(QString, title);
    const bool summary = title == QStringLiteral("Внимание");
    Prepare(Pattern(size), summary ? QMessageBox::Cancel : QMessageBox::Ok, file != QStringLiteral("none"));
    if (file == QStringLiteral("gone"))
        QFile::remove(dir.filePath(QStringLiteral("image.bine")));
    driver->Spin("spinBoxStartAddr")->setValue(start);
    const int framesBefore = driver->sim->FramesReceived();
    const QByteArray flashBefore = driver->sim->Flash().Contents();

    PressWrite(QMessageBox::Cancel);

    QCOMPARE(driver->answerer.Count(), 1);
    QCOMPARE(driver->answerer.Last().icon, summary ? QMessageBox::Information : QMessageBox::Critical);
    QCOMPARE(driver->answerer.Last().title, title);
    QTEST(driver->answerer.Last().text, "text");
    QCOMPARE(driver->answerer.Last().buttons,
             summary ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(driver->sim->FramesReceived(), framesBefore);
    QCOMPARE(driver->sim->Flash().Contents(), flashBefore);
    QVERIFY(driver->IdleAfterJob(true));
}

void WindowJobTest::failureInEachPass_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("argument");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("pass");

    QTest::newRow("page cannot be erased") << FaultKind::BadStatus << 0x21 << -1 << 1024
        << "Ошибка при стирания Flash\nPage 1" << "Стирание";
    QTest::newRow("third block refused") << FaultKind::BadStatus << 0x64 << 0x12 << 128
        << "Ошибка при записи flash\nAdrees 128\nSize block 64" << "Запись";
    QTest::newRow("second block unreadable") << FaultKind::CorruptCrc << 0x64 << 0x02 << 64
        << "Ошибка при чтении flash\nAdrees 64\nSize block 64" << "Верификация";
    QTest::newRow("worn cell") << FaultKind::WornCell << 0x64 << 0x12 << 192
        << "Ошибка верификации flash\nAdress 192\nSize block 64\nSize send block 64" << "Верификация";
    // The cable pulled after the third block: no reply ever again.
    QTest::newRow("port vanishes") << FaultKind::Vanish << 0x64 << 0x12 << -1
        << "Ошибка при записи flash\nAdrees 128\nSize block 64" << "Запись";
}

void WindowJobTest::failureInEachPass()
{
    QFETCH(FaultKind, kind);
    QFETCH(int, command);
    QFETCH(int, argument);
    QFETCH(int, offset);
    QFETCH(QString, pass);
    const bool vanish = kind == FaultKind::Vanish;
    config.faults.append({ kind, vanish ? 3 : 1, vanish ? 1 : -1, 0.0, command, argument,
                           offset < 0 ? -1 : qint64(AppStart) + offset });
    Prepare(Pattern(3000));

    PressWrite();

    QCOMPARE(driver->answerer.Count(), 2);
    const SeenDialog &box = driver->answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Ошибка"));
    QFETCH(QString, message);
    // A lost port is named, and the window is back to disconnected.
    if (vanish)
        message += QStringLiteral("\n\nСвязь через порт %1 потеряна").arg(driver->sim->SlavePath());
    QCOMPARE(box.text, message);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(driver->PassLabel(), pass);
    QVERIFY(driver->IdleAfterJob(!vanish));
    QCOMPARE(driver->Port()->isOpen(), !vanish);
    QCOMPARE(driver->ConnectAction()->isEnabled(), vanish);
}

void WindowJobTest::cancelInEachPass_data()
{
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("stop");
    const QStringList passes = { "Стирание", "Запись", "Верификация" };
    const QStringList questions = { "Прервать стирание данных ?", "Прервать запись данных ?",
                                    "Прервать верификацию данных" };
    for (int i = 0; i < passes.size(); ++i) {
        QTest::addRow("%d: no", i) << passes[i] << questions[i] << false;
        QTest::addRow("%d: no, then yes", i) << passes[i] << questions[i] << true;
    }
}

void WindowJobTest::cancelInEachPass()
{
    QFETCH(QString, pass);
    QFETCH(QString, question);
    QFETCH(bool, stop);
    const QByteArray image = Pattern(5000);
    Prepare(image);
    driver->answerer.Answer(QMessageBox::Ok);   // the summary
    driver->answerer.Answer(QMessageBox::No);
    QPushButton *cancel = driver->CancelButton();
    OnProgress(pass, [this, cancel, stop] {
        cancel->click();
        if (!stop)
            return;
        driver->answerer.OnNextBox([this, cancel] {
            driver->answerer.Answer(QMessageBox::Yes);
            QTimer::singleShot(0, cancel, [cancel] { cancel->click(); });
        });
    });

    driver->WriteButton()->click();

    const QVector<SeenDialog> &seen = driver->answerer.Seen();
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[1].icon, QMessageBox::Critical);
    QCOMPARE(seen[1].title, QStringLiteral("Подтверждение"));
    QCOMPARE(seen[1].text, question);
    QCOMPARE(seen[1].buttons, QMessageBox::Yes | QMessageBox::No);
    if (stop) {
        // Yes ends the job where it stood, with no further message.
        QCOMPARE(seen[2].text, question);
        QCOMPARE(driver->PassLabel(), pass);
        QVERIFY(driver->Progress()->value() < driver->Progress()->maximum());
    } else {
        QCOMPARE(seen[2].text, Done);
        QCOMPARE(driver->sim->Flash().Read(AppStart, image.size()), image);
    }
    QVERIFY(driver->IdleAfterJob(true));
}

// Disconnecting ends the job as a failure; a connect right after it cannot
// start a second job inside the first, nor give the write button back.
void WindowJobTest::disconnectDuringJob()
{
    Prepare(Pattern(3000));
    OnProgress(QStringLiteral("Запись"), [this] {
        driver->DisconnectAction()->trigger();
        QVERIFY(driver->CancelButton()->isEnabled() && !driver->WriteButton()->isEnabled());
        driver->Connect();
        QVERIFY(!driver->WriteButton()->isEnabled());
        driver->WriteButton()->click();
    });

    PressWrite();

    QCOMPARE(Texts().size(), 2);
    QVERIFY(Texts().last().startsWith(QStringLiteral("Ошибка при записи flash\nAdrees 64\n")));
    QVERIFY(!Texts().last().contains(QStringLiteral("потеряна")));
    QVERIFY(!driver->Port()->isOpen());
    QVERIFY(driver->IdleAfterJob(false));
    QVERIFY(driver->ConnectAction()->isEnabled());
}

void WindowJobTest::fileChangedDuringJob()
{
    const QByteArray image = Pattern(3000);
    Prepare(image);
    OnProgress(QStringLiteral("Запись"), [this] { WriteFile("short"); });

    PressWrite();

    // The job writes and verifies the file as it was when it started.
    QCOMPARE(Texts().last(), Done);
    QCOMPARE(driver->sim->Flash().Read(AppStart, image.size()), image);
}

void WindowJobTest::closingWindowDuringJob_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("yes: stop and close") << QMessageBox::Yes;
    QTest::newRow("no: keep both") << QMessageBox::No;
}

void WindowJobTest::closingWindowDuringJob()
{
    QFETCH(QMessageBox::StandardButton, answer);
    const QByteArray image = Pattern(3000);
    Prepare(image);
    driver->answerer.Answer(QMessageBox::Ok);
    driver->answerer.Answer(answer);
    OnProgress(QStringLiteral("Запись"), [this] { driver->window.close(); });

    driver->WriteButton()->click();

    const bool stop = answer == QMessageBox::Yes;
    QCOMPARE(Texts().value(1), QStringLiteral("Прервать запись данных ?"));
    QCOMPARE(Texts().value(2), stop ? QString() : Done);
    QCOMPARE(driver->window.isVisible(), !stop);
    QCOMPARE(driver->sim->Flash().Read(AppStart, image.size()) == image, !stop);
}

TAMRIVO_GUI_TEST_MAIN(WindowJobTest)
#include "tst_windowjob.moc"
