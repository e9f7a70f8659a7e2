// The window as the user first sees it: the form, the tool bar, the About
// box and the compiled-in icons.
#include "devicelink.h"
#include "guitestmain.h"
#include "windowdriver.h"

class WindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void spinBoxesShowDefaultsAndKeepBounds_data();
    void spinBoxesShowDefaultsAndKeepBounds();
    void layoutHoldsAtAnyWidth_data();
    void layoutHoldsAtAnyWidth();
    void initialStatesAndToolBar();
    void aboutBoxTitleAndVersion();
    void iconsLoadFromResources_data();
    void iconsLoadFromResources();
    void newLinkHasInstalledFormat();
};

void WindowFormTest::spinBoxesShowDefaultsAndKeepBounds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::newRow("start") << "spinBoxStartAddr" << "0x8003000" << 0x08000000 << 0x0800FFFF;
    QTest::newRow("end, raised maximum") << "spinBoxEndAddr" << "0x800efff" << 0x08000000 << 0x080FFFFF;
    QTest::newRow("page size") << "spinBoxSizePage" << "2048" << 64 << 4096;
}

void WindowFormTest::spinBoxesShowDefaultsAndKeepBounds()
{
    QFETCH(QString, name);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    WindowDriver driver;
    QSpinBox *box = driver.Spin(name.toLatin1().constData());
    QTEST(box->text(), "shown");
    box->setValue(maximum);
    QCOMPARE(box->value(), maximum);
    // Past either bound the box holds still, typed or stepped: no wrapping.
    for (int value : { maximum + 1, minimum - 1 }) {
        box->setValue(value);
        box->stepBy(value > maximum ? 1 : -1);
        QCOMPARE(box->value(), value > maximum ? maximum : minimum);
    }
    QVERIFY(!driver.Spin("spinBoxEndAddr")->isAccelerated());
}

void WindowFormTest::layoutHoldsAtAnyWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("as built") << 400;
    QTest::newRow("wide") << 1000;
}

void WindowFormTest::layoutHoldsAtAnyWidth()
{
    QFETCH(int, width);
    WindowDriver driver;
    driver.window.resize(width, 426);
    QVERIFY(QTest::qWaitForWindowExposed(&driver.window));
    QCOMPARE(driver.Spin("spinBoxStartAddr")->width(), 90);
    QCOMPARE(driver.Spin("spinBoxEndAddr")->width(), 90);
    const int pageWidth = driver.Spin("spinBoxSizePage")->width();
    QVERIFY(pageWidth >= 90 && pageWidth <= 110);
    QVERIFY(driver.Child("pushButtonFileData")->width() <= 40);
    // The two buttons sit at the right end of their row, write then cancel.
    const QRect write = driver.WriteButton()->geometry();
    const QRect cancel = driver.CancelButton()->geometry();
    QVERIFY(write.right() < cancel.left());
    QCOMPARE(cancel.right(), driver.window.centralWidget()->width() - 1 - 11);
}

void WindowFormTest::initialStatesAndToolBar()
{
    WindowDriver driver;
    QCOMPARE(driver.window.windowTitle(), QStringLiteral("Tamrivo"));
    QCOMPARE(driver.window.size(), QSize(400, 426));
    QVERIFY(driver.Child("groupBox")->isEnabled());
    QVERIFY(driver.Child("groupBox_2")->isEnabled());
    QVERIFY(!driver.Progress()->isEnabled());   // drawn disabled with its group
    QVERIFY(driver.IdleAfterJob(false));
    QCOMPARE(driver.PassLabel(), QStringLiteral("Запись"));
    QCOMPARE(driver.WriteButton()->text(), QStringLiteral("Запись"));
    QCOMPARE(driver.CancelButton()->text(), QStringLiteral("Отмена"));
    QVERIFY(driver.FileText().isEmpty());

    auto *toolBar = driver.Child<QToolBar>("mainToolBar");
    QCOMPARE(toolBar->iconSize(), QSize(32, 32));
    const QList<QAction *> actions = driver.ToolBar();
    QCOMPARE(actions.size(), 8);
    QStringList texts;
    for (QAction *action : actions)
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(texts, QStringList({ "Подключить", "Отключить", "|", "", "", "", "|", "О программе" }));
    QVERIFY(actions[0]->isEnabled() && !actions[1]->isEnabled() && actions[7]->isEnabled());
    for (int i : { 0, 1, 7 })
        QVERIFY(!actions[i]->icon().availableSizes().isEmpty());

    auto *caption = qobject_cast<QLabel *>(toolBar->widgetForAction(actions[3]));
    auto *port = qobject_cast<QComboBox *>(toolBar->widgetForAction(actions[4]));
    auto *baud = qobject_cast<QComboBox *>(toolBar->widgetForAction(actions[5]));
    QVERIFY(caption && port && baud);
    QCOMPARE(caption->text(), QStringLiteral("  Параметры\n  порта"));
    QVERIFY(caption->font().bold());
    QVERIFY(port->isEditable());
    QCOMPARE(port->size(), QSize(60, 25));
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
    QCOMPARE(baud->itemText(1), QStringLiteral("19200"));
}

void WindowFormTest::aboutBoxTitleAndVersion()
{
    WindowDriver driver;
    driver.ToolBar().last()->trigger();
    QCOMPARE(driver.answerer.Count(), 1);
    QCOMPARE(driver.answerer.Last().title, QStringLiteral("О программе"));
    QVERIFY(driver.answerer.Last().text.contains(QStringLiteral("<h2>Tamrivo 1.3.1</h2>")));
    QVERIFY(driver.answerer.Last().text.contains(QStringLiteral("ostrel.example")));
}

void WindowFormTest::iconsLoadFromResources_data()
{
    QTest::addColumn<QString>("path");
    for (const char *name : { "connect", "disconnect", "about" })
        QTest::newRow(name) << QStringLiteral(":/new/prefix1/rec/%1.png").arg(QLatin1String(name));
}

void WindowFormTest::iconsLoadFromResources()
{
    QFETCH(QString, path);
    const QImage image(path);
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(image.hasAlphaChannel());
}

void WindowFormTest::newLinkHasInstalledFormat()
{
    DeviceLink link;
    QCOMPARE(link.Format().hexAlphabet, QByteArray("0123456789ABCDEF"));
    QCOMPARE(link.Format().requestStart, '#');
    QCOMPARE(link.Format().replyStart, '^');
    QCOMPARE(link.Format().lineEnd, '\r');
    QVERIFY(link.Port() == nullptr);
}

TAMRIVO_GUI_TEST_MAIN(WindowFormTest)
#include "tst_windowform.moc"
