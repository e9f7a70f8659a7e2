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
    void choiceIsShownRememberedAndRestored();

private:
    QString MakeFile(const QString &folder)
    {
        QDir().mkpath(files.filePath(folder));
        const QString path = files.filePath(folder + QStringLiteral("/app.bine"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot make %s", qPrintable(path));
        return path;
    }

    QTemporaryDir files;
};

void WindowDataFileTest::choiceIsShownRememberedAndRestored()
{
    const QString first = MakeFile(QStringLiteral("a"));
    const QString second = MakeFile(QStringLiteral("b"));
    {
        WindowDriver driver;
        driver.ChooseFile(first);
        QCOMPARE(driver.answerer.Count(), 1);
        const SeenDialog &dialog = driver.answerer.Last();
        QCOMPARE(dialog.className, QStringLiteral("QFileDialog"));
        QCOMPARE(dialog.title, QStringLiteral("Open File"));
        QCOMPARE(dialog.nameFilters, QStringList(QStringLiteral("Файл данных (*.bine)")));
        QCOMPARE(dialog.text, QDir::currentPath());     // first start: nothing remembered
        QCOMPARE(driver.FileText(), first);
        QSettings settings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo"));
        QCOMPARE(settings.value(QStringLiteral("nameDataFile")).toString(), first);
        QCOMPARE(settings.value(QStringLiteral("dirDataFile")).toString(), files.filePath(QStringLiteral("a")));
    }
    {
        WindowDriver driver;
        QCOMPARE(driver.FileText(), first);
        driver.ChooseFile(second);
        // A cancelled dialog changes nothing; within one run the dialog keeps
        // opening in the folder found at start.
        driver.ChooseFile(QString());
        QCOMPARE(driver.answerer.Count(), 2);
        QCOMPARE(driver.answerer.Seen().at(0).text, files.filePath(QStringLiteral("a")));
        QCOMPARE(driver.answerer.Seen().at(1).text, files.filePath(QStringLiteral("a")));
        QCOMPARE(driver.FileText(), second);
    }
    WindowDriver restarted;
    restarted.ChooseFile(QString());
    QCOMPARE(restarted.answerer.Count(), 1);
    QCOMPARE(restarted.answerer.Last().text, files.filePath(QStringLiteral("b")));
    QCOMPARE(restarted.FileText(), second);
}

TAMRIVO_GUI_TEST_MAIN(WindowDataFileTest)
#include "tst_windowdatafile.moc"
