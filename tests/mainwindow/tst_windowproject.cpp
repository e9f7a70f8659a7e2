// Project files through the window against the simulated loader: one saved
// here writes the same flash through tamrivo-cli, and a project refuses a
// device of another geometry and asks before an image linked elsewhere.
#include "windowdriver.h"

#include <csignal>

class WindowProjectTest : public QObject
{
    Q_OBJECT

    void Trigger(WindowDriver &driver, const char *action, const QString &file)
    {
        driver.answerer.ChooseFile(file);
        driver.window.findChild<QAction *>(QLatin1String(action))->trigger();
    }

    // tamrivo-cli writes the project into a fresh simulated device, whose
    // flash ends in flash.
    void CliWrites(const QTemporaryDir &dir, const QString &projectFile, QByteArray *flash)
    {
        const QString bin = qEnvironmentVariable("TAMRIVO_BIN_DIR") + '/';
        QProcess sim, cli;
        sim.start(bin + "tamrivo-loader-sim", {"--dump", dir.filePath("flash.bin")});
        QVERIFY(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
        cli.start(bin + "tamrivo-cli", {"--port", QString(sim.readLine()).trimmed(), "--quiet", "--project", projectFile, "write"});
        QVERIFY(cli.waitForFinished(30000) && cli.exitCode() == 0);
        ::kill(pid_t(sim.processId()), SIGTERM);
        QFile dump(dir.filePath("flash.bin"));
        QVERIFY(sim.waitForFinished(5000) && dump.open(QIODevice::ReadOnly));
        *flash = dump.readAll();
    }

private slots:
    // image: of make.sh, linked for 0x08003000 (app-elf.bin) or 0x08000000
    // (tiny.bin), or changed once the project is open; saved: by the window,
    // then written by tamrivo-cli too; answer: to the question about the
    // vector table; box: the first box after the write button.
    void project_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("box");
        QTest::newRow("saved here, written by tamrivo-cli") << "app-elf.bin" << true << 1024 << 0 << "Доступно памяти 52 кБ";
        QTest::newRow("image changed since saved") << "changed" << false << 1024 << 0 << "изменён после сохранения проекта";
        QTest::newRow("device of smaller pages") << "app-elf.bin" << false << 2048 << 0
            << "прибор сообщает flash 0x08003000 – 0x0800ffff страницами по 1024 байт,\n"
               "проект рассчитан на 0x08003000 – 0x0800ffff страницами по 2048 байт";
        QTest::newRow("linked for the flash base, not written") << "tiny.bin" << false << 1024 << int(QMessageBox::No)
                                                                << "собран для адреса 0x08000000\n\nЗаписать всё равно?";
        QTest::newRow("linked for the flash base, written anyway") << "tiny.bin" << false << 1024 << int(QMessageBox::Yes)
                                                                   << "Записать всё равно?";
    }
    void project()
    {
        QFETCH(QString, image);
        QFETCH(bool, saved);
        QFETCH(int, pageSize);
        QFETCH(int, answer);
        QFETCH(QString, box);
        QTemporaryDir dir;
        const QString file = dir.filePath(image), projectFile = dir.filePath("board-a.tamrivo");
        QVERIFY(QFile::copy(IMAGE_DATA_DIR "/" + (image == "changed" ? "app-elf.bin" : image), file));
        QFile source(file);
        const QByteArray bytes = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        Project project;
        project.image = file;
        project.geometry = Geometry{0x08003000, 0x0800ffff, quint32(pageSize)};
        QVERIFY(saved || SaveProject(projectFile, project).isEmpty());

        const SimConfig config;
        WindowDriver driver(&config);
        driver.Connect();
        if (saved)
            driver.ChooseFile(file);
        Trigger(driver, saved ? "actionSaveProject" : "actionOpenProject", projectFile);
        QTRY_COMPARE(driver.window.windowTitle(), QStringLiteral("board-a — Tamrivo"));
        Trigger(driver, "actionOpen", projectFile);
        QTRY_VERIFY(driver.Status().startsWith("Открыт проект"));
        QCOMPARE(driver.FileText(), file);
        driver.answerer.seen.clear();
        QVERIFY(image != "changed" || QFile::resize(file, 16));
        if (answer)
            driver.answerer.Answer(QMessageBox::StandardButton(answer));
        driver.Write();
        QVERIFY2(driver.answerer.seen.value(0).contains(box), qPrintable(driver.answerer.seen.join('\n')));
        const bool written = answer != QMessageBox::No && pageSize == 1024 && image != "changed";
        QCOMPARE(driver.sim->Flash().Read(0x08003000, bytes.size()), written ? bytes : QByteArray(bytes.size(), '\xff'));
        if (!saved)
            return;
        QByteArray flash;
        CliWrites(dir, projectFile, &flash);
        QCOMPARE(flash.mid(0x3000), driver.sim->Flash().Read(0x08003000, 0xd000));
    }

    // A project that numbers its boards sets up the window's line: the
    // board gets the pool's first number from the project's store, and
    // tamrivo-cli running the same project takes the next from that store.
    void projectSetsUpLine()
    {
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        const QString file = dir.filePath("app.bin"), projectFile = dir.filePath("line.tamrivo");
        QVERIFY(QFile::copy(IMAGE_DATA_DIR "/app-elf.bin", file));
        Project project;
        project.image = file;
        project.geometry = Geometry{0x08003000, 0x0800ffff, 1024};
        project.serial = ProjectSerial{0x08003100, SerialFormat(), QStringLiteral("line"), 41, std::nullopt, false};
        project.store = QStringLiteral("sqlite:") + dir.filePath("records.sqlite");
        project.station = QStringLiteral("st1");
        QVERIFY(SaveProject(projectFile, project).isEmpty());

        const SimConfig config;
        WindowDriver driver(&config);
        driver.Connect();
        Trigger(driver, "actionOpenProject", projectFile);
        QTRY_VERIFY(driver.Child<QWidget>("productionPanel")->isVisible());
        driver.Child<QPushButton>("pushButtonNextBoard")->click();
        QTRY_VERIFY(driver.Child<QLabel>("labelVerdict")->text().contains("ГОДНА"));
        QCOMPARE(driver.sim->Flash().Read(0x08003100, 4), QByteArray("\x29\0\0\0", 4));

        QByteArray flash;
        CliWrites(dir, projectFile, &flash);
        QCOMPARE(flash.mid(0x3100, 4), QByteArray("\x2a\0\0\0", 4));
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowProjectTest)
#include "tst_windowproject.moc"
