// Programming a file through the window, against the simulated loader on
// a pseudo-terminal in the same thread: what the user sees, and what ends
// up in the device's flash.
#include "guitestmain.h"
#include "simulatedloader.h"
#include "windowdriver.h"

#include <QFile>
#include <QSettings>
#include <QTimer>

#include <functional>

Q_DECLARE_METATYPE(FaultKind)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const quint32 AppStart = 0x08003000;

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x12345678u + quint32(size);
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

} // namespace

class WindowJobTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void programsFileIntoFlash_data();
    void programsFileIntoFlash();
    void refusedBeforeAnythingIsSent_data();
    void refusedBeforeAnythingIsSent();
    void summaryFigures_data();
    void summaryFigures();
    void failureInEachPass_data();
    void failureInEachPass();
    void portVanishesMidJob();
    void cancelInEachPass_data();
    void cancelInEachPass();
    void disconnectDuringJob();
    void fileChangedDuringJob_data();
    void fileChangedDuringJob();
    void closingWindowDuringJob_data();
    void closingWindowDuringJob();

private:
    QString WriteFile(const QByteArray &bytes, const QString &name = QStringLiteral("image.bine"));
    // Connects to the simulator, accepting its geometry, and chooses the file.
    void Prepare(const QString &file, QMessageBox::StandardButton params = QMessageBox::Ok);
    // Presses "Запись" and answers the summary; returns once the job ends.
    void PressWrite(QMessageBox::StandardButton summary = QMessageBox::Ok);
    // Runs action once, from the event loop, when the pass shown by the
    // label has made its first progress.
    void OnProgress(const QString &pass, std::function<void()> action);
    QStringList Texts() const;
    void VerifyIdleAfterJob(bool writeEnabled);

    QTemporaryDir dir;
    SimConfig config;
    SimulatedLoader *sim = nullptr;
    WindowDriver *driver = nullptr;
};

void WindowJobTest::init()
{
    config = SimConfig();
    // Each test chooses its own file; none inherits the last one's.
    QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
}

void WindowJobTest::cleanup()
{
    delete driver;
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

QString WindowJobTest::WriteFile(const QByteArray &bytes, const QString &name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void WindowJobTest::Prepare(const QString &file, QMessageBox::StandardButton params)
{
    sim = new SimulatedLoader(config);
    if (!sim->OpenPty())
        qFatal("no pseudo-terminal");
    driver = new WindowDriver;
    driver->Connect(sim->SlavePath(), params);
    if (!file.isEmpty())
        driver->ChooseFile(file);
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
                         if (*done || value < 1 || driver->ProcessLabel()->text() != pass)
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

void WindowJobTest::VerifyIdleAfterJob(bool writeEnabled)
{
    QVERIFY(!driver->ProcessGroup()->isEnabled());
    QVERIFY(!driver->CancelButton()->isEnabled());
    QCOMPARE(driver->WriteButton()->isEnabled(), writeEnabled);
}

void WindowJobTest::programsFileIntoFlash_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("summary");
    QTest::newRow("two blocks in one page") << 100
        << QStringLiteral("Доступно памяти 51 кБ\nОбъем данных 0 кБ\nКоличество страниц 1 \n\nЖми ОК для продолжения");
    QTest::newRow("three pages, short last block") << 3000
        << QStringLiteral("Доступно памяти 51 кБ\nОбъем данных 2 кБ\nКоличество страниц 3 \n\nЖми ОК для продолжения");
    QTest::newRow("exactly end minus start") << 0xCFFF
        << QStringLiteral("Доступно памяти 51 кБ\nОбъем данных 51 кБ\nКоличество страниц 52 \n\nЖми ОК для продолжения");
    QTest::newRow("empty file") << 0
        << QStringLiteral("Доступно памяти 51 кБ\nОбъем данных 0 кБ\nКоличество страниц 0 \n\nЖми ОК для продолжения");
}

void WindowJobTest::programsFileIntoFlash()
{
    QFETCH(int, size);
    QFETCH(QString, summary);
    const QByteArray image = Pattern(size);
    Prepare(WriteFile(image));
    const int framesBefore = sim->FramesReceived();

    PressWrite();

    QCOMPARE(Texts(), QStringList({ summary, QStringLiteral("Данные успешно записаны") }));
    const SeenDialog &done = driver->answerer.Last();
    QCOMPARE(done.icon, QMessageBox::Information);
    QCOMPARE(done.title, QStringLiteral("Информация"));
    QCOMPARE(sim->Flash().Read(AppStart, size), image);
    // The rest of the last erased page reads erased; the page after it was never touched.
    const quint32 pagesEnd = AppStart + ((quint32(size) + 1023) / 1024) * 1024;
    QCOMPARE(sim->Flash().Read(AppStart + quint32(size), int(pagesEnd - AppStart) - size),
             QByteArray(int(pagesEnd - AppStart) - size, char(0xFF)));
    if (size == 0)
        QCOMPARE(sim->FramesReceived(), framesBefore);
    QCOMPARE(driver->ProcessLabel()->text(), QStringLiteral("Верификация"));
    QCOMPARE(driver->Progress()->value(), size);
    VerifyIdleAfterJob(true);
}

void WindowJobTest::refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("chooseFile");
    QTest::addColumn<bool>("deleteFile");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("processReset");

    QTest::newRow("no file chosen") << 10 << int(AppStart) << false << false
                                    << "Error" << "Не выбран файл данных" << false;
    QTest::newRow("file gone") << 10 << int(AppStart) << true << true
                               << "Ошибка" << "Не удается открыть файл" << false;
    QTest::newRow("one byte too large") << 0xD000 << int(AppStart) << true << false
                                        << "Ошибка" << "Размер файла больше заданного диапазона памяти" << true;
    QTest::newRow("start at end") << 1 << 0x0800FFFF << true << false
                                  << "Ошибка" << "Размер файла больше заданного диапазона памяти" << true;
    QTest::newRow("start inside a page") << 100 << int(AppStart + 0x100) << true << false
                                         << "Ошибка" << "Начальный адрес не кратен размеру страницы" << true;
}

void WindowJobTest::refusedBeforeAnythingIsSent()
{
    QFETCH(int, size);
    QFETCH(int, start);
    QFETCH(bool, chooseFile);
    QFETCH(bool, deleteFile);
    QFETCH(QString, title);
    QFETCH(QString, text);
    const QString file = WriteFile(Pattern(size));
    Prepare(chooseFile ? file : QString());
    if (deleteFile)
        QFile::remove(file);
    driver->Start()->setValue(start);
    const int framesBefore = sim->FramesReceived();
    const QByteArray flashBefore = sim->Flash().Contents();

    driver->WriteButton()->click();

    QCOMPARE(driver->answerer.Count(), 1);
    QCOMPARE(driver->answerer.Last().icon, QMessageBox::Critical);
    QCOMPARE(driver->answerer.Last().title, title);
    QCOMPARE(driver->answerer.Last().text, text);
    QCOMPARE(sim->FramesReceived(), framesBefore);
    QCOMPARE(sim->Flash().Contents(), flashBefore);
    QVERIFY(driver->WriteButton()->isEnabled());
    QVERIFY(!driver->CancelButton()->isEnabled());
}

void WindowJobTest::summaryFigures_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("summary");
    // Geometry of the form (parameters refused): 0x8003000 to 0x800efff, 2 KiB pages.
    QTest::newRow("4096 bytes") << 4096
        << QStringLiteral("Доступно памяти 47 кБ\nОбъем данных 4 кБ\nКоличество страниц 2 \n\nЖми ОК для продолжения");
    QTest::newRow("4097 bytes") << 4097
        << QStringLiteral("Доступно памяти 47 кБ\nОбъем данных 4 кБ\nКоличество страниц 3 \n\nЖми ОК для продолжения");
    QTest::newRow("1023 bytes") << 1023
        << QStringLiteral("Доступно памяти 47 кБ\nОбъем данных 0 кБ\nКоличество страниц 1 \n\nЖми ОК для продолжения");
}

void WindowJobTest::summaryFigures()
{
    QFETCH(int, size);
    QFETCH(QString, summary);
    Prepare(WriteFile(Pattern(size)), QMessageBox::Cancel);
    const int framesBefore = sim->FramesReceived();

    PressWrite(QMessageBox::Cancel);

    QCOMPARE(driver->answerer.Count(), 1);
    const SeenDialog &box = driver->answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Внимание"));
    QCOMPARE(box.text, summary);
    QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    // Declined: nothing sent, and the user may press "Запись" again.
    QCOMPARE(sim->FramesReceived(), framesBefore);
    VerifyIdleAfterJob(true);
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
}

void WindowJobTest::failureInEachPass()
{
    QFETCH(FaultKind, kind);
    QFETCH(int, command);
    QFETCH(int, argument);
    QFETCH(int, offset);
    QFETCH(QString, message);
    QFETCH(QString, pass);
    FaultRule fault;
    fault.kind = kind;
    fault.frame = 1;
    fault.count = -1;
    fault.command = command;
    fault.argument = argument;
    fault.address = AppStart + quint32(offset);
    config.faults.append(fault);
    Prepare(WriteFile(Pattern(3000)));

    PressWrite();

    QCOMPARE(driver->answerer.Count(), 2);
    const SeenDialog &box = driver->answerer.Last();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Ошибка"));
    QCOMPARE(box.text, message);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(driver->ProcessLabel()->text(), pass);
    VerifyIdleAfterJob(true);
}

void WindowJobTest::portVanishesMidJob()
{
    FaultRule pulled;
    pulled.kind = FaultKind::Vanish;
    pulled.frame = 3;
    pulled.command = 0x64;
    pulled.argument = 0x12;
    config.faults.append(pulled);
    Prepare(WriteFile(Pattern(3000)));

    PressWrite();

    QCOMPARE(driver->answerer.Count(), 2);
    QCOMPARE(driver->answerer.Last().text, QStringLiteral("Ошибка при записи flash\nAdrees 128\nSize block 64"));
    QVERIFY(!Texts().contains(QStringLiteral("Данные успешно записаны")));
    QVERIFY(!driver->ProcessGroup()->isEnabled());
    QCOMPARE(driver->WriteButton()->isEnabled(), driver->Port()->isOpen());
}

void WindowJobTest::cancelInEachPass_data()
{
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("stop");

    const QString erase = QStringLiteral("Прервать стирание данных ?");
    const QString write = QStringLiteral("Прервать запись данных ?");
    const QString verify = QStringLiteral("Прервать верификацию данных");
    QTest::newRow("erase, no") << "Стирание" << erase << false;
    QTest::newRow("erase, no then yes") << "Стирание" << erase << true;
    QTest::newRow("write, no") << "Запись" << write << false;
    QTest::newRow("write, no then yes") << "Запись" << write << true;
    QTest::newRow("verify, no") << "Верификация" << verify << false;
    QTest::newRow("verify, no then yes") << "Верификация" << verify << true;
}

void WindowJobTest::cancelInEachPass()
{
    QFETCH(QString, pass);
    QFETCH(QString, question);
    QFETCH(bool, stop);
    const QByteArray image = Pattern(5000);
    Prepare(WriteFile(image));
    driver->answerer.Answer(QMessageBox::Ok);   // the summary
    driver->answerer.Answer(QMessageBox::No);
    QPushButton *cancel = driver->CancelButton();
    OnProgress(pass, [this, cancel, stop] {
        cancel->click();
        if (stop) {
            driver->answerer.OnNextBox([this, cancel] {
                driver->answerer.Answer(QMessageBox::Yes);
                QTimer::singleShot(0, cancel, [cancel] { cancel->click(); });
            });
        }
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
        QCOMPARE(driver->ProcessLabel()->text(), pass);
        QVERIFY(driver->Progress()->value() < driver->Progress()->maximum());
    } else {
        QCOMPARE(seen[2].text, QStringLiteral("Данные успешно записаны"));
        QCOMPARE(sim->Flash().Read(AppStart, image.size()), image);
    }
    VerifyIdleAfterJob(true);
}

void WindowJobTest::disconnectDuringJob()
{
    Prepare(WriteFile(Pattern(3000)));
    OnProgress(QStringLiteral("Запись"), [this] { driver->DisconnectAction()->trigger(); });

    PressWrite();

    QCOMPARE(driver->answerer.Count(), 2);
    QVERIFY(driver->answerer.Last().text.startsWith(QStringLiteral("Ошибка при записи flash\nAdrees 64\n")));
    QVERIFY(!driver->Port()->isOpen());
    // Nothing to write to: the write button stays off until the next connect.
    VerifyIdleAfterJob(false);
    QVERIFY(driver->ConnectAction()->isEnabled());
}

void WindowJobTest::fileChangedDuringJob_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::newRow("rewritten") << Pattern(2000);
    QTest::newRow("truncated") << QByteArray("short");
}

void WindowJobTest::fileChangedDuringJob()
{
    QFETCH(QByteArray, replacement);
    const QByteArray image = Pattern(3000);
    const QString path = WriteFile(image);
    Prepare(path);
    OnProgress(QStringLiteral("Запись"), [this, replacement] { WriteFile(replacement); });

    PressWrite();

    // The job writes and verifies the file as it was when the job started.
    QCOMPARE(Texts().last(), QStringLiteral("Данные успешно записаны"));
    QCOMPARE(sim->Flash().Read(AppStart, image.size()), image);
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
    Prepare(WriteFile(image));
    driver->answerer.Answer(QMessageBox::Ok);
    driver->answerer.Answer(answer);
    OnProgress(QStringLiteral("Запись"), [this] { driver->window.close(); });
    // Still running: the close must not have ended the job.
    QVERIFY(driver->window.isVisible());

    driver->WriteButton()->click();

    const QStringList texts = Texts();
    QCOMPARE(texts.value(1), QStringLiteral("Прервать запись данных ?"));
    if (answer == QMessageBox::Yes) {
        QCOMPARE(texts.size(), 2);
        QVERIFY(!driver->window.isVisible());
        QVERIFY(sim->Flash().Read(AppStart, image.size()) != image);
    } else {
        QCOMPARE(texts.value(2), QStringLiteral("Данные успешно записаны"));
        QVERIFY(driver->window.isVisible());
        QCOMPARE(sim->Flash().Read(AppStart, image.size()), image);
    }
}

TAMRIVO_GUI_TEST_MAIN(WindowJobTest)
#include "tst_windowjob.moc"
