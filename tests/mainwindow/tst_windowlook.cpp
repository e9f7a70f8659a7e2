// The window without a device: its size on small screens, marks, plurals.
#include "elidedlabel.h"
#include "flashmapview.h"
#include "language.h"
#include "screenfit.h"
#include "windowdriver.h"
#include "windowtexts.h"

class WindowLookTest : public QObject
{
    Q_OBJECT

private slots:
    void fitsScreen_data()
    {
        QTest::addColumn<QSize>("room");     // what the screen leaves, in scaled pixels, frame aside
        QTest::newRow("1366x768 at 100 %") << QSize(1366, 768) - QSize(16, 80);
        QTest::newRow("1920x1080 at 200 %") << QSize(960, 540) - QSize(16, 64);
    }

    // The window, a backup's 250-character path on its status bar, can
    // be made small enough for the room and opens no larger; the path
    // keeps its start and its file name.
    void fitsScreen()
    {
        QFETCH(QSize, room);
        WindowDriver driver;
        auto *status = driver.Child<ElidedLabel>("labelJobStatus");
        status->setText("Прочитано 53248 байт за 70,2 с и сохранено в /home/" + QString(230, 'd') + "/backup.hex");
        QCoreApplication::processEvents();
        const QSize minimum = driver.window.minimumSizeHint();
        QVERIFY2(minimum.boundedTo(room) == minimum, qPrintable(QStringLiteral("%1x%2").arg(minimum.width()).arg(minimum.height())));
        QCOMPARE(FitToRoom(QSize(3000, 3000), minimum, room), room);
        QVERIFY(driver.window.screen()->availableGeometry().contains(QRect(QPoint(), driver.window.size())));
        QVERIFY2(status->Shown().startsWith("Прочитано 53248") && status->Shown().endsWith("/backup.hex"), qPrintable(status->Shown()));
    }

    void marks_data()
    {
        QTest::addColumn<int>("state");
        for (int state = int(PageState::Outside); state <= int(PageState::Failed); ++state)
            QTest::newRow(qPrintable(FlashMapView::StateName(PageState(state)))) << state;
    }

    // Without colour a state is told from every other by its mark, or
    // where both have the same, by how light it is.
    void marks()
    {
        QFETCH(int, state);
        for (int other = int(PageState::Outside); other <= int(PageState::Failed); ++other) {
            const auto [one, two] = std::pair(PageState(state), PageState(other));
            const int lighter = qAbs(FlashMapView::StateColour(one).lightness() - FlashMapView::StateColour(two).lightness());
            QVERIFY2(other == state || FlashMapView::StateMark(one) != FlashMapView::StateMark(two) || lighter >= 48,
                     qPrintable(FlashMapView::StateName(two)));
        }
    }

    void plurals_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        const QString ru = "Проверка за 0,0 с: %1, первый с адреса 0x08003000";
        const QString en = "Verified in 0.0 s: %1, the first at address 0x08003000";
        QTest::newRow("ru 1") << "ru" << 1 << ru.arg("отличается 1 байт в 1 диапазоне");
        QTest::newRow("ru 3") << "ru" << 3 << ru.arg("отличаются 3 байта в 3 диапазонах");
        QTest::newRow("ru 21") << "ru" << 21 << ru.arg("отличается 21 байт в 21 диапазоне");
        QTest::newRow("en 1") << "en" << 1 << en.arg("1 byte differs in 1 range");
        QTest::newRow("en 2") << "en" << 2 << en.arg("2 bytes differ in 2 ranges");
    }

    // Counted words agree with their count in either language.
    void plurals()
    {
        QFETCH(QString, language);
        QFETCH(int, count);
        QVERIFY(InstallTranslations(language));
        CheckReport report{ JobPass::Verify, JobOutcome::Failed, 0, 0, 0, true, 0x08003000, count, count, {} };
        const QString text = CheckStatusText(report);
        QVERIFY(InstallTranslations(QStringLiteral("ru")));
        QTEST(text, "text");
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowLookTest)
#include "tst_windowlook.moc"
