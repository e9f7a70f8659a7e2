// The window as the user first sees it: the form, the tool bar, the About
// box and the compiled-in icons.
#include "devicelink.h"
#include "guitestmain.h"
#include "mainwindow.h"
#include "modalanswerer.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QToolBar>
#include <QWidgetAction>

class WindowFormTest : public QObject
{
    Q_OBJECT

private:
    template<typename T>
    T *Child(MainWindow &window, const char *name)
    {
        T *child = window.findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no %s in the window", name);
        return child;
    }

private slots:
    void spinBoxesShowTheirDefaults_data();
    void spinBoxesShowTheirDefaults();
    void spinBoxesKeepTheirBounds_data();
    void spinBoxesKeepTheirBounds();
    void addressBoxesDoNotWrap();
    void layoutHoldsAtAnyWidth_data();
    void layoutHoldsAtAnyWidth();
    void initialEnabledStates();
    void toolBarOrder();
    void aboutBoxTitleAndVersion();
    void iconsLoadFromResources_data();
    void iconsLoadFromResources();
    void newLinkHasInstalledFormat();
};

void WindowFormTest::spinBoxesShowTheirDefaults_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("start") << "spinBoxStartAddr" << "0x8003000";
    QTest::newRow("end") << "spinBoxEndAddr" << "0x800efff";
    QTest::newRow("page size") << "spinBoxSizePage" << "2048";
}

void WindowFormTest::spinBoxesShowTheirDefaults()
{
    QFETCH(QString, name);
    QFETCH(QString, shown);
    MainWindow window;
    auto *box = Child<QSpinBox>(window, name.toLatin1().constData());
    QCOMPARE(box->text(), shown);
}

void WindowFormTest::spinBoxesKeepTheirBounds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("typed");
    QTest::addColumn<int>("kept");
    QTest::newRow("start below") << "spinBoxStartAddr" << 0x07FFFFFF << 0x08000000;
    QTest::newRow("start above") << "spinBoxStartAddr" << 0x080FFFFF << 0x0800FFFF;
    QTest::newRow("end at raised max") << "spinBoxEndAddr" << 0x080FFFFF << 0x080FFFFF;
    QTest::newRow("end above raised max") << "spinBoxEndAddr" << 0x08100000 << 0x080FFFFF;
    QTest::newRow("end below") << "spinBoxEndAddr" << 0 << 0x08000000;
    QTest::newRow("page too small") << "spinBoxSizePage" << 63 << 64;
    QTest::newRow("page too large") << "spinBoxSizePage" << 4097 << 4096;
}

void WindowFormTest::spinBoxesKeepTheirBounds()
{
    QFETCH(QString, name);
    QFETCH(int, typed);
    QFETCH(int, kept);
    MainWindow window;
    auto *box = Child<QSpinBox>(window, name.toLatin1().constData());
    box->setValue(typed);
    QCOMPARE(box->value(), kept);
}

void WindowFormTest::addressBoxesDoNotWrap()
{
    MainWindow window;
    for (const char *name : { "spinBoxStartAddr", "spinBoxEndAddr" }) {
        auto *box = Child<QSpinBox>(window, name);
        box->setValue(box->maximum());
        box->stepBy(1);
        QCOMPARE(box->value(), box->maximum());
        box->setValue(box->minimum());
        box->stepBy(-1);
        QCOMPARE(box->value(), box->minimum());
    }
    QVERIFY(!Child<QSpinBox>(window, "spinBoxEndAddr")->isAccelerated());
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
    MainWindow window;
    window.resize(width, 426);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(Child<QSpinBox>(window, "spinBoxStartAddr")->width(), 90);
    QCOMPARE(Child<QSpinBox>(window, "spinBoxEndAddr")->width(), 90);
    const int pageWidth = Child<QSpinBox>(window, "spinBoxSizePage")->width();
    QVERIFY2(pageWidth >= 90 && pageWidth <= 110, qPrintable(QString::number(pageWidth)));
    QVERIFY(Child<QPushButton>(window, "pushButtonFileData")->width() <= 40);

    // The two buttons sit at the right end of their row, write then cancel.
    auto *write = Child<QPushButton>(window, "pushButtonWrite");
    auto *cancel = Child<QPushButton>(window, "pushButtonCansel");
    QWidget *central = window.centralWidget();
    QVERIFY(write->geometry().right() < cancel->geometry().left());
    QCOMPARE(cancel->geometry().right(), central->width() - 1 - 11);
}

void WindowFormTest::initialEnabledStates()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamrivo"));
    QCOMPARE(window.size(), QSize(400, 426));
    QVERIFY(Child<QWidget>(window, "groupBox")->isEnabled());
    QVERIFY(Child<QWidget>(window, "groupBox_2")->isEnabled());
    QVERIFY(!Child<QWidget>(window, "groupBoxProcess")->isEnabled());
    QVERIFY(!Child<QProgressBar>(window, "progressBar")->isEnabled());
    QVERIFY(!Child<QLabel>(window, "labelProcessBar")->isEnabled());
    QVERIFY(!Child<QPushButton>(window, "pushButtonWrite")->isEnabled());
    QVERIFY(!Child<QPushButton>(window, "pushButtonCansel")->isEnabled());
    QCOMPARE(Child<QLabel>(window, "labelProcessBar")->text(), QStringLiteral("Запись"));
    QCOMPARE(Child<QPushButton>(window, "pushButtonWrite")->text(), QStringLiteral("Запись"));
    QCOMPARE(Child<QPushButton>(window, "pushButtonCansel")->text(), QStringLiteral("Отмена"));
    QCOMPARE(Child<QProgressBar>(window, "progressBar")->value(), 0);
    QVERIFY(Child<QLineEdit>(window, "lineEditFileData")->text().isEmpty());
}

void WindowFormTest::toolBarOrder()
{
    MainWindow window;
    auto *toolBar = Child<QToolBar>(window, "mainToolBar");
    QCOMPARE(toolBar->iconSize(), QSize(32, 32));

    const QList<QAction *> actions = toolBar->actions();
    QCOMPARE(actions.size(), 8);
    QCOMPARE(actions[0]->text(), QStringLiteral("Подключить"));
    QCOMPARE(actions[1]->text(), QStringLiteral("Отключить"));
    QVERIFY(actions[2]->isSeparator());
    QVERIFY(actions[6]->isSeparator());
    QCOMPARE(actions[7]->text(), QStringLiteral("О программе"));
    QVERIFY(actions[0]->isEnabled());
    QVERIFY(!actions[1]->isEnabled());
    QVERIFY(actions[7]->isEnabled());
    for (int i : { 0, 1, 7 })
        QVERIFY2(!actions[i]->icon().availableSizes().isEmpty(), qPrintable(actions[i]->text()));

    auto *caption = qobject_cast<QLabel *>(toolBar->widgetForAction(actions[3]));
    auto *port = qobject_cast<QComboBox *>(toolBar->widgetForAction(actions[4]));
    auto *baud = qobject_cast<QComboBox *>(toolBar->widgetForAction(actions[5]));
    QVERIFY(caption && port && baud);
    QCOMPARE(caption->text(), QStringLiteral("  Параметры\n  порта"));
    QVERIFY(caption->font().bold());
    QVERIFY(port->isEditable());
    QCOMPARE(baud->count(), 2);
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
    QCOMPARE(baud->itemText(1), QStringLiteral("19200"));
    QCOMPARE(port->width(), 60);
    QCOMPARE(baud->height(), 25);
}

void WindowFormTest::aboutBoxTitleAndVersion()
{
    MainWindow window;
    window.show();
    ModalAnswerer answerer;
    auto *toolBar = Child<QToolBar>(window, "mainToolBar");
    toolBar->actions().last()->trigger();

    QCOMPARE(answerer.Count(), 1);
    QCOMPARE(answerer.Last().title, QStringLiteral("О программе"));
    QVERIFY(answerer.Last().text.contains(QStringLiteral("<h2>Tamrivo 1.3.1</h2>")));
    QVERIFY(answerer.Last().text.contains(QStringLiteral("ostrel.example")));
}

void WindowFormTest::iconsLoadFromResources_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("connect") << ":/new/prefix1/rec/connect.png";
    QTest::newRow("disconnect") << ":/new/prefix1/rec/disconnect.png";
    QTest::newRow("about") << ":/new/prefix1/rec/about.png";
}

void WindowFormTest::iconsLoadFromResources()
{
    QFETCH(QString, path);
    QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
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
