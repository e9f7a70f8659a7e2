// What the programs say about themselves: the manual pages are made from
// it at build time, on machines that have no display.

#include "commandline.h"

#include <QProcess>
#include <QTest>

class ProgramTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void windowCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("starts");
        QTest::newRow("window") << QStringList{ "tamrivo" } << "";
        QTest::newRow("language") << QStringList{ "tamrivo", "--lang", "en" } << "";
        QTest::newRow("qt option") << QStringList{ "tamrivo", "-platform", "offscreen" } << "";
        QTest::newRow("help") << QStringList{ "tamrivo", "--help" } << "Usage: tamrivo [--lang LANGUAGE]";
        QTest::newRow("-h after a language") << QStringList{ "tamrivo", "--lang", "ru", "-h" } << "Usage: tamrivo";
        QTest::newRow("language spelt --help") << QStringList{ "tamrivo", "--lang", "--help" } << "";
        QTest::newRow("version") << QStringList{ "tamrivo", "--version" } << "tamrivo " TAMRIVO_VERSION "\n";
    }

    void windowCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, starts);
        const QString text = WindowCommandLineText(arguments);
        QVERIFY2(starts.isEmpty() ? text.isEmpty() : text.startsWith(starts), qPrintable(text));
    }

    // The built programs, with no display and no Qt platform chosen.
    void programs_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("starts");
        for (const char *program : { "tamrivo", "tamrivo-cli", "tamrivo-loader-sim" }) {
            QTest::addRow("%s --version", program) << program << "--version" << QString(program) + " " TAMRIVO_VERSION "\n";
            QTest::addRow("%s --help", program) << program << "--help" << "Usage: ";
        }
    }

    void programs()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, starts);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        QProcess process;
        process.setProcessEnvironment(environment);
        // Text: Windows programs end their lines with CR LF.
        process.start(qEnvironmentVariable("TAMRIVO_BIN_DIR") + '/' + program, { option },
                      QIODevice::ReadOnly | QIODevice::Text);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(out.startsWith(starts), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(ProgramTextsTest)
#include "tst_programtexts.moc"
