// How the window looks, without a device: the status bar, the screen it
// fits, the map's preview and marks, the words for counts, the recent
// files and the time a pass has left.
#include "elidedlabel.h"
#include "flashmapview.h"
#include "language.h"
#include "passrate.h"
#include "recentfiles.h"
#include "screenfit.h"
#include "windowdriver.h"
#include "windowtexts.h"

class WindowLookTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void statusElided_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << QStringLiteral("Проверено 3000 байт за 1,0 с: данные совпадают");
        QTest::newRow("a backup under a 250-character path")
            << "Прочитано 53248 байт за 70,2 с и сохранено в /home/" + QString(230, 'd') + "/backup.hex";
    }

    // Shown whole where it fits, else its middle left out; the window's
    // width is never the status text's.
    void statusElided()
    {
        QFETCH(QString, text);
        WindowDriver driver;
        const int minimum = driver.window.minimumSizeHint().width();
        const int width = driver.window.width();
        auto *label = driver.Child<ElidedLabel>("labelJobStatus");

        label->setText(text);
        QCoreApplication::processEvents();

        QCOMPARE(driver.window.minimumSizeHint().width(), minimum);
        QCOMPARE(driver.window.width(), width);
        const QString shown = label->Shown();
        QVERIFY2(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width(), qPrintable(shown));
        if (shown != text) {
            QVERIFY2(shown.startsWith(text.left(10)) && shown.endsWith(QStringLiteral("/backup.hex")), qPrintable(shown));
            QVERIFY(label->fontMetrics().horizontalAdvance(text) > label->contentsRect().width());
        }
    }

    void fitsScreen_data()
    {
        QTest::addColumn<QSize>("room");     // the screen's available size, in scaled pixels
        QTest::newRow("1366x768 at 100 %") << QSize(1366, 768 - 40);
        QTest::newRow("1920x1080 at 200 %") << QSize(960, 540 - 24);
        QTest::newRow("800x600") << QSize(800, 600);
    }

    // The window can be made small enough for the room, title bar and
    // borders aside, and takes no more than the room when it opens.
    void fitsScreen()
    {
        QFETCH(QSize, room);
        WindowDriver driver;
        const QSize frame(16, 40);
        const QSize minimum = driver.window.minimumSizeHint();
        QVERIFY2(minimum.width() <= room.width() - frame.width() && minimum.height() <= room.height() - frame.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(minimum.width()).arg(minimum.height())));
        const QSize opened = FitToRoom(driver.window.sizeHint().expandedTo(QSize(400, 2000)), minimum, room - frame);
        QVERIFY(opened.width() <= room.width() - frame.width() && opened.height() == room.height() - frame.height());
        const QSize screen = driver.window.screen()->availableGeometry().size();
        QVERIFY(driver.window.width() <= screen.width() && driver.window.height() <= screen.height());
    }

    void mapPreview_data()
    {
        QTest::addColumn<QByteArray>("file");   // a raw file's size, or a HEX file's text
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("end");           // from the start address, 0x08003000
        QTest::addColumn<QString>("map");       // a letter per page: to do, outside
        QTest::newRow("raw, from the start address") << QByteArray("3000") << 1024 << 8191 << "tttooooo";
        QTest::newRow("larger pages") << QByteArray("3000") << 2048 << 8191 << "ttoo";
        QTest::newRow("end address lower") << QByteArray("3000") << 1024 << 4095 << "ttto";
        QTest::newRow("HEX at its own address")
            << QByteArray(":020000040800F2\n:02400000AAAA6A\n:00000001FF\n") << 1024 << 8191 << "ooootooo";
    }

    // Once a file is chosen the map shows the pages a job on it would
    // touch, in the range the boxes set, whichever box changes last.
    void mapPreview()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, pageSize);
        QFETCH(int, end);
        WindowDriver driver;
        const bool raw = file.toInt() > 0;
        QFile image(dir.filePath(raw ? "image.bin" : "image.hex"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(raw ? QByteArray(file.toInt(), 'x') : file);
        image.close();
        driver.Child<QSpinBox>("spinBoxStartAddr")->setValue(0x08003000);
        driver.Child<QSpinBox>("spinBoxSizePage")->setValue(512);
        driver.ChooseFile(image.fileName());

        driver.Child<QSpinBox>("spinBoxSizePage")->setValue(pageSize);
        driver.Child<QSpinBox>("spinBoxEndAddr")->setValue(0x08003000 + end);

        const FlashMapModel &map = driver.Child<FlashMapView>("flashMap")->Model();
        QString letters;
        for (int page = 0; page < map.Count(); ++page)
            letters += map.State(page) == PageState::ToDo ? 't' : map.State(page) == PageState::Outside ? 'o' : '?';
        QTEST(letters, "map");
    }

    void marks_data()
    {
        QTest::addColumn<int>("state");
        for (int state = int(PageState::Outside); state <= int(PageState::Failed); ++state)
            QTest::newRow(qPrintable(FlashMapView::StateName(PageState(state)))) << state;
    }

    // Without colour a state is told from every other by its mark, or where
    // neither has one, by how light it is.
    void marks()
    {
        QFETCH(int, state);
        const PageState one = PageState(state);
        for (int other = int(PageState::Outside); other <= int(PageState::Failed); ++other) {
            if (other == state)
                continue;
            const PageState two = PageState(other);
            const int lighter = qAbs(FlashMapView::StateColour(one).lightness() - FlashMapView::StateColour(two).lightness());
            QVERIFY2(FlashMapView::StateMark(one) != FlashMapView::StateMark(two) || lighter >= 48,
                     qPrintable(FlashMapView::StateName(two)));
        }
    }

    void plurals_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("ru 1") << "ru" << 1 << "Проверка за 0,0 с: отличается 1 байт в 1 диапазоне, первый с адреса 0x08003000";
        QTest::newRow("ru 3") << "ru" << 3 << "Проверка за 0,0 с: отличаются 3 байта в 3 диапазонах, первый с адреса 0x08003000";
        QTest::newRow("ru 5") << "ru" << 5 << "Проверка за 0,0 с: отличаются 5 байт в 5 диапазонах, первый с адреса 0x08003000";
        QTest::newRow("ru 21") << "ru" << 21 << "Проверка за 0,0 с: отличается 21 байт в 21 диапазоне, первый с адреса 0x08003000";
        QTest::newRow("en 1") << "en" << 1 << "Verified in 0.0 s: 1 byte differs in 1 range, the first at address 0x08003000";
        QTest::newRow("en 2") << "en" << 2 << "Verified in 0.0 s: 2 bytes differ in 2 ranges, the first at address 0x08003000";
    }

    // Counted words agree with their count in either language.
    void plurals()
    {
        QFETCH(QString, language);
        QFETCH(int, count);
        QVERIFY(InstallTranslations(language));
        CheckReport report;
        report.status = JobOutcome::Failed;
        report.mismatch = true;
        report.mismatchAddress = 0x08003000;
        report.differingBytes = count;
        report.differingRanges = count;
        const QString text = CheckStatusText(report);
        QVERIFY(InstallTranslations(QStringLiteral("ru")));
        QTEST(text, "text");
    }

    void recentFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("recent");    // after a.bin b.bin c.bin
        QTest::newRow("a new file, first") << "d.bin" << true << "d.bin a.bin b.bin";
        QTest::newRow("a listed file, moved first") << "c.bin" << true << "c.bin a.bin b.bin";
        QTest::newRow("a listed file that fails, dropped") << "b.bin" << false << "a.bin c.bin";
        QTest::newRow("a new file that fails, left out") << "d.bin" << false << "a.bin b.bin c.bin";
    }

    void recentFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, opened);
        QTEST(UpdatedRecent({ "a.bin", "b.bin", "c.bin" }, path, opened, 3).join(' '), "recent");
    }

    void timeLeft_data()
    {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("a quarter in 10 s") << 4096 << 16384 << 10000 << "0,4 кБ/с, осталось 0:30";
        QTest::newRow("nothing yet") << 0 << 16384 << 3000 << "0,0 кБ/с";
        QTest::newRow("done") << 16384 << 16384 << 4000 << "4,0 кБ/с, осталось 0:00";
        QTest::newRow("a long way to go") << 1000 << 1048576 << 1000 << "1,0 кБ/с, осталось 17:28";
    }

    // The window's and the command line's reckoning, in the window's words.
    void timeLeft()
    {
        QFETCH(int, done);
        QFETCH(int, maximum);
        QFETCH(int, elapsedMs);
        QLocale::setDefault(QLocale(QLocale::Russian));
        QTEST(RateText(JobPass::Verify, done, maximum, qint64(elapsedMs) * 1000000), "text");
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowLookTest)
#include "tst_windowlook.moc"
