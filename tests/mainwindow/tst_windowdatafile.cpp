// Choosing the data file, and finding the choice again after a restart.
#include "guitestmain.h"
#include "windowdriver.h"

#include <QDir>
#include <QFile>
#include <QSettings>

class WindowDataFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstChoiceIsShownAndRemembered();
    void restartRestoresChoiceAndFolder();
    void cancelledDialogChangesNothing();

private:
    QString MakeFile(const QString &folder, const QString &name);

    QTemporaryDir files;
};

void WindowDataFileTest::init()
{
    QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
}

QString WindowDataFileTest::MakeFile(const QString &folder, const QString &name)
{
    QDir().mkpath(files.filePath(folder));
    const QString path = files.filePath(folder + QLatin1Char('/') + name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("firmware") != 8)
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

void WindowDataFileTest::firstChoiceIsShownAndRemembered()
{
    const QString path = MakeFile(QStringLiteral("a"), QStringLiteral("app.bine"));
    WindowDriver driver;
    driver.ChooseFile(path);

    QCOMPARE(driver.answerer.Count(), 1);
    const SeenDialog &dialog = driver.answerer.Last();
    QCOMPARE(dialog.className, QStringLiteral("QFileDialog"));
    QCOMPARE(dialog.title, QStringLiteral("Open File"));
    QCOMPARE(dialog.nameFilters, QStringList(QStringLiteral("Файл данных (*.bine)")));
    QCOMPARE(dialog.text, QDir::currentPath());

    QCOMPARE(driver.Child<QLineEdit>("lineEditFileData")->text(), path);
    QSettings settings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo"));
    QCOMPARE(settings.value(QStringLiteral("nameDataFile")).toString(), path);
    QCOMPARE(settings.value(QStringLiteral("dirDataFile")).toString(), files.filePath(QStringLiteral("a")));
}

void WindowDataFileTest::restartRestoresChoiceAndFolder()
{
    const QString first = MakeFile(QStringLiteral("a"), QStringLiteral("app.bine"));
    const QString second = MakeFile(QStringLiteral("b"), QStringLiteral("other.bine"));
    {
        WindowDriver driver;
        driver.ChooseFile(first);
    }

    {
        WindowDriver driver;
        QCOMPARE(driver.Child<QLineEdit>("lineEditFileData")->text(), first);
        driver.ChooseFile(second);
        QCOMPARE(driver.answerer.Count(), 1);
        QCOMPARE(driver.answerer.Last().text, files.filePath(QStringLiteral("a")));
        // Within one run the dialog keeps opening in the folder found at start.
        driver.ChooseFile(QString());
        QCOMPARE(driver.answerer.Count(), 2);
        QCOMPARE(driver.answerer.Last().text, files.filePath(QStringLiteral("a")));
        QCOMPARE(driver.Child<QLineEdit>("lineEditFileData")->text(), second);
    }

    WindowDriver restarted;
    restarted.ChooseFile(QString());
    QCOMPARE(restarted.answerer.Count(), 1);
    QCOMPARE(restarted.answerer.Last().text, files.filePath(QStringLiteral("b")));
    QCOMPARE(restarted.Child<QLineEdit>("lineEditFileData")->text(), second);
}

void WindowDataFileTest::cancelledDialogChangesNothing()
{
    const QString path = MakeFile(QStringLiteral("a"), QStringLiteral("app.bine"));
    WindowDriver driver;
    driver.ChooseFile(path);
    driver.ChooseFile(QString());

    QCOMPARE(driver.answerer.Count(), 2);
    QCOMPARE(driver.Child<QLineEdit>("lineEditFileData")->text(), path);
    QSettings settings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo"));
    QCOMPARE(settings.value(QStringLiteral("nameDataFile")).toString(), path);
}

TAMRIVO_GUI_TEST_MAIN(WindowDataFileTest)
#include "tst_windowdatafile.moc"
