// tamrivo-cli --project against tamrivo-loader-sim: what the project sets,
// what the command line may add, and the device and the image refused
// before anything is erased.

#include "project.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestCliProject : public QObject
{
    Q_OBJECT

private slots:
    // image: of make.sh, linked for 0x08003000 (app-elf.bin) or 0x08000000
    // (tiny.bin), or app-elf.bin changed after the project was saved;
    // arguments after the project's; err: what standard error must hold.
    void project_data()
    {
        QTest::addColumn<QStringList>("simArguments");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");
        const QStringList none, write = {"write"};
        QTest::newRow("options that agree") << none << "app-elf.bin"
            << QStringList{"--start", "134230016", "--serial-pool", "line-1", "write", "{dir}/./app-elf.bin"} << 0 << "";
        QTest::newRow("a start the project contradicts") << none << "app-elf.bin" << QStringList{"--start", "0x08004000", "write"}
                                                         << 2 << "--start 0x08004000: the project {dir}/p.tamrivo sets 0x08003000";
        QTest::newRow("another pool") << none << "app-elf.bin" << QStringList{"--serial-pool", "x", "write"} << 2
                                      << "--serial-pool x: the project {dir}/p.tamrivo sets line-1";
        QTest::newRow("another image") << none << "app-elf.bin" << QStringList{"write", "{dir}/changed"} << 2
                                       << "sets the image {dir}/app-elf.bin";
        QTest::newRow("image changed since saved") << none << "changed" << write << 2
                                                   << "{dir}/changed was changed since the project {dir}/p.tamrivo was saved";
        QTest::newRow("device of larger pages") << QStringList{"--page-size", "2048"} << "app-elf.bin" << write << 2
            << "the device reports flash from 0x08003000 to 0x0800ffff in 2048-byte pages; the project is for "
               "0x08003000 to 0x0800ffff in 1024-byte pages";
        QTest::newRow("linked for the flash base") << none << "tiny.bin" << write << 2 << "the image seems linked for 0x08000000";
        QTest::newRow("written all the same") << none << "tiny.bin" << QStringList{"--no-vector-check", "write"} << 0 << "";
    }
    void project()
    {
        QFETCH(QStringList, simArguments);
        QFETCH(QString, image);
        QFETCH(QStringList, arguments);
        QFETCH(QString, err);
        QTemporaryDir dir;
        QFile file(dir.filePath(image));
        QVERIFY(QFile::copy(IMAGE_DATA_DIR "/" + (image == "changed" ? "app-elf.bin" : image), file.fileName()));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray bytes = file.readAll();
        Project project;
        project.image = file.fileName();
        project.geometry = Geometry{0x08003000, 0x0800ffff, 1024};
        project.serial = ProjectSerial{0x08003200, {}, "line-1", {}, {}, false};
        project.store = "sqlite:" + dir.filePath("store.sqlite");
        QCOMPARE(SaveProject(dir.filePath("p.tamrivo"), project), QString());
        QVERIFY(image != "changed" || (file.write("\xff\xff") == 2 && file.flush()));

        const QString bin = qEnvironmentVariable("TAMRIVO_BIN_DIR") + '/';
        QProcess sim, cli;
        sim.start(bin + "tamrivo-loader-sim", simArguments << "--dump" << dir.filePath("flash.bin"));
        QVERIFY(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
        cli.start(bin + "tamrivo-cli", QStringList{"--port", QString(sim.readLine()).trimmed(), "--quiet", "--project",
                                                   dir.filePath("p.tamrivo")} + arguments.replaceInStrings("{dir}", dir.path()));
        QVERIFY(cli.waitForFinished(30000));
        const QString said = QString::fromLocal8Bit(cli.readAllStandardError());
        QTEST(cli.exitCode(), "status");
        QVERIFY2(err.isEmpty() ? said.isEmpty() : said.contains(err.replace("{dir}", dir.path())), qPrintable(said));
        ::kill(pid_t(sim.processId()), SIGTERM);
        QFile dump(dir.filePath("flash.bin"));
        QVERIFY(sim.waitForFinished(5000) && dump.open(QIODevice::ReadOnly));
        // Refused means nothing was erased: the simulated flash starts blank.
        QCOMPARE(dump.readAll().mid(0x3000, bytes.size()), cli.exitCode() == 0 ? bytes : QByteArray(bytes.size(), '\xff'));
    }
};

QTEST_GUILESS_MAIN(TestCliProject)
#include "tst_cliproject.moc"
