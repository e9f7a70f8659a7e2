// Connecting to the device and taking over its flash geometry, the port
// list, the data file chosen and found again after a restart, and the
// window's language.
#include "fitwidth.h"
#include "language.h"
#include "windowdriver.h"
#include "windowtexts.h"

#include <QDir>
#include <QLibraryInfo>
#include <QSettings>
#include <QSpinBox>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// port empty: the simulator's; baud: the selector's index; boxes: the
// dialogs seen; shown: the start, end and page size boxes afterwards.
struct ConnectRow
{
    QString port;
    quint32 flashBase, pageSize;
    int device;     // 0 answers, 1 is silent, 2 is held by another program
    QMessageBox::StandardButton answer;
    int baud;
    QStringList boxes;
    QString shown, state;
};

QString Question(const char *start, const char *end, const char *pageSize)
{
    return Box(QMessageBox::Information, "Внимание", QMessageBox::Ok | QMessageBox::Cancel,
               QStringLiteral("Считаны следующие параметры flash\nStart addr 0x%1\nEnd addr 0x%2\n"
                              "Size Page %3\n\nПрименить их ?").arg(start, end, pageSize));
}

// True if the field shows all its text: putting the cursor at either end
// scrolls nothing.
bool ShowsWhole(QLineEdit *edit)
{
    edit->setCursorPosition(0);
    edit->grab();
    const int start = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    edit->setCursorPosition(edit->text().size());
    edit->grab();
    const int end = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    return end - start >= edit->fontMetrics().horizontalAdvance(edit->text()) - 1;
}

// Every text the window shows by itself, tool bar included.
QStringList WindowTexts(const QMainWindow &window)
{
    QStringList texts;
    for (QObject *child : window.findChildren<QObject *>()) {
        for (const char *name : { "text", "title", "placeholderText", "statusTip" })
            texts << child->property(name).toString();
    }
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(ConnectRow)

class WindowConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void connectToDevice_data()
    {
        QTest::addColumn<ConnectRow>("row");
        const QString defaults = QStringLiteral("0x8003000 0x800efff 2048");
        const QStringList question = { Question("8003000", "800ffff", "1024") };
        QTest::newRow("accepted, 19200 baud") << ConnectRow{ {}, 0x08000000, 1024, false, QMessageBox::Ok, 1,
                                                             question, "0x8003000 0x800ffff 1024", Connected };
        QTest::newRow("refused, 9600 baud") << ConnectRow{ {}, 0x08000000, 1024, false, QMessageBox::Cancel, 0,
                                                           question, defaults, Connected };
        // Values past the boxes' ranges are clamped to the nearest bound.
        QTest::newRow("clamped") << ConnectRow{ {}, 0x08100000, 8192, false, QMessageBox::Ok, 0,
                                                { Question("8103000", "810ffff", "8192") },
                                                "0x800ffff 0x80fffff 4096", Connected };
        // A silent device: connected all the same, nothing changed, but told what to check.
        QTest::newRow("silent") << ConnectRow{ {}, 0x08000000, 1024, true, QMessageBox::Ok, 1,
            { Box(QMessageBox::Warning, "Внимание", QMessageBox::Ok, "Прибор на порту PORT не отвечает.\n\n"
                  "Проверьте, что выбран порт прибора, скорость 19200 бод совпадает со скоростью загрузчика "
                  "и на прибор подано питание.") }, defaults, Connected };
        // The port and the system's reason; PORT stands for the simulator's.
        QTest::newRow("no such port")
            << ConnectRow{ "/dev/tamrivo-no-such-port", 0x08000000, 1024, false, QMessageBox::Ok, 0,
                           { Box(QMessageBox::Critical, "Ошибка", QMessageBox::Ok, "Не удается открыть порт "
                                 "/dev/tamrivo-no-such-port:\nNo such file or directory") },
                           defaults, Disconnected };
        QTest::newRow("held by another program") << ConnectRow{ {}, 0x08000000, 1024, 2, QMessageBox::Ok, 0,
            { Box(QMessageBox::Critical, "Ошибка", QMessageBox::Ok, "Не удается открыть порт PORT:\nPermission "
                  "error while locking the device\n\nПорт, видимо, уже открыт другой программой: закройте ее "
                  "и подключитесь снова.") }, defaults, Disconnected };
    }

    // Return in the port box connects; a port that opened is offered again,
    // with its speed, at the next start.
    void connectToDevice()
    {
        QFETCH(ConnectRow, row);
        QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
        SimConfig config;
        config.flashBase = row.flashBase;
        config.pageSize = row.pageSize;
        if (row.device == 1)
            config.faults.append({ FaultKind::DropReply, 1, -1, 0.0, -1, -1, -1 });
        WindowDriver driver(&config);
        driver.Child<QComboBox>("comboBoxBaud")->setCurrentIndex(row.baud);
        QSerialPort other(driver.sim->SlavePath());
        QVERIFY(row.device != 2 || other.open(QIODevice::ReadWrite));

        driver.Connect(row.answer, row.port);

        for (QString &box : row.boxes)
            box.replace(QStringLiteral("PORT"), driver.sim->SlavePath());
        QCOMPARE(driver.answerer.seen, row.boxes);
        QStringList shown;
        for (const char *name : { "spinBoxStartAddr", "spinBoxEndAddr", "spinBoxSizePage" })
            shown << driver.Child<QSpinBox>(name)->text();
        QCOMPARE(shown.join(' '), row.shown);
        QCOMPARE(driver.State(), row.state);
        if (row.device == 1)
            QCOMPARE(driver.sim->FramesReceived(), 6);  // two queries of three attempts
        QCOMPARE(driver.PortBox()->findText(driver.PortBox()->currentText()), -1);
        WindowDriver restarted;
        const bool opened = row.state == Connected;
        QCOMPARE(restarted.PortBox()->currentText() == driver.PortBox()->currentText(), opened);
        QCOMPARE(restarted.Child<QComboBox>("comboBoxBaud")->currentIndex(), opened ? row.baud : 0);
        if (!driver.Port()->isOpen())
            return;
        // What the terminal itself was set to, not what the port object remembers.
        const int fd = ::open(driver.sim->SlavePath().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios settings {};
        QCOMPARE(tcgetattr(fd, &settings), 0);
        ::close(fd);
        const speed_t speed = row.baud == 1 ? B19200 : B9600;
        QCOMPARE(cfgetospeed(&settings), speed);
        QCOMPARE(cfgetispeed(&settings), speed);
    }

    // By the user, or by the device's line going away while the window is
    // idle: the window must not spin on the dead port, and must say which it was.
    void disconnectAndConnectAgain_data()
    {
        QTest::addColumn<bool>("lost");
        QTest::newRow("disconnect") << false;
        QTest::newRow("port lost") << true;
    }

    void disconnectAndConnectAgain()
    {
        QFETCH(bool, lost);
        SimConfig config;
        WindowDriver driver(&config);
        driver.Connect();
        const QString path = driver.sim->SlavePath();
        if (lost) {
            driver.sim->Close();
            QTRY_COMPARE(driver.answerer.seen.size(), 2);
            QCOMPARE(driver.answerer.seen.last(),
                     Box(QMessageBox::Critical, "Ошибка", QMessageBox::Ok,
                         QStringLiteral("Связь через порт %1 потеряна").arg(path)));
            QVERIFY(driver.sim->OpenPty());
        } else {
            driver.DisconnectAction()->trigger();
        }
        QCOMPARE(driver.State(), Disconnected);

        driver.Connect();
        QCOMPARE(driver.State(), Connected);
        QCOMPARE(driver.answerer.seen.size(), lost ? 3 : 2);
    }

    // The dialog opens in the folder of the last file chosen, in this run and
    // after a restart; a path typed in counts as chosen, and so does a file
    // dropped on the window. A cancelled dialog changes nothing.
    void dataFileRememberedAndRestored()
    {
        QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear();
        QTemporaryDir files;
        const QString a = files.filePath("a"), b = files.filePath("b"), c = files.filePath("c");
        for (const QString &folder : { a, b, c })
            QVERIFY(QDir().mkpath(folder) && QFile(folder + "/app.bine").open(QIODevice::WriteOnly));
        const auto dialog = [](const QString &folder) {
            return Box(QMessageBox::NoIcon, "Выбор файла данных", QMessageBox::NoButton,
                       "Файл данных (*.bine)|Образы прошивки (*.hex *.ihex *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf "
                       "*.bin)|Все файлы (*) " + folder);
        };
        {
            WindowDriver driver;
            QVERIFY(driver.FileText().isEmpty());
            driver.ChooseFile(a + "/app.bine");
            QCOMPARE(driver.answerer.seen, QStringList(dialog(QDir::currentPath())));
            QCOMPARE(driver.FileText(), a + "/app.bine");
            QSettings settings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo"));
            QCOMPARE(settings.value(QStringLiteral("dirDataFile")).toString(), a);
        }
        {
            WindowDriver driver;
            QCOMPARE(driver.FileText(), a + "/app.bine");
            driver.ChooseFile(b + "/app.bine");
            driver.ChooseFile(QString());
            QCOMPARE(driver.answerer.seen, QStringList({ dialog(a), dialog(b) }));
            QCOMPARE(driver.FileText(), b + "/app.bine");
            driver.Child<QLineEdit>("lineEditFileData")->setText(c + "/app.bine");
            emit driver.Child<QLineEdit>("lineEditFileData")->editingFinished();
        }
        WindowDriver restarted;
        QCOMPARE(restarted.FileText(), c + "/app.bine");
        QMimeData mime;
        mime.setUrls({ QUrl::fromLocalFile(a + "/app.bine") });
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&restarted.window, &enter);
        QApplication::sendEvent(&restarted.window, &drop);
        restarted.ChooseFile(QString());
        QCOMPARE(restarted.answerer.seen, QStringList(dialog(a)));
        QCOMPARE(restarted.FileText(), a + "/app.bine");
    }

    // Adapters plugged in and pulled out show up; the port the user chose
    // or typed stays whatever the list does.
    void portListFollowsSystem()
    {
        WindowDriver driver;
        QComboBox *box = driver.PortBox();
        const PortEntry usb0{ "ttyUSB0", "CP2102 USB to UART Bridge", "CP2102 USB to UART Bridge\n/dev/ttyUSB0" };
        driver.OfferPorts({ { "ttyACM0", "", "/dev/ttyACM0" }, usb0 });
        box->setCurrentIndex(1);
        QCOMPARE(box->itemData(1, Qt::DisplayRole).toString(), QStringLiteral("ttyUSB0 — CP2102 USB to UART Bridge"));
        QCOMPARE(box->toolTip(), usb0.details);

        driver.OfferPorts({ usb0, { "ttyUSB1", "FT232R USB UART", "" } });
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->currentText(), QStringLiteral("ttyUSB0"));
        box->setEditText(QStringLiteral("/tmp/gw-sim"));
        driver.OfferPorts({});
        QCOMPARE(box->count(), 0);
        QCOMPARE(box->currentText(), QStringLiteral("/tmp/gw-sim"));
    }

    // Each box is wide enough for its longest value in its own font.
    void valuesShownWhole()
    {
        WindowDriver driver;
        for (const char *name : { "spinBoxStartAddr", "spinBoxEndAddr", "spinBoxSizePage" }) {
            auto *box = driver.Child<QSpinBox>(name);
            for (int value : { box->minimum(), box->maximum() }) {
                box->setValue(value);
                QVERIFY2(ShowsWhole(box->findChild<QLineEdit *>()), qPrintable(box->text()));
            }
        }
        // Not only the bounds: every value of the start box's range.
        const QFontMetrics metrics(driver.Child<QSpinBox>("spinBoxStartAddr")->font());
        const int widest = WidestValueWidth(metrics, 0x08000000, 0x0800FFFF, 16);
        for (int value = 0x08000000; value <= 0x0800FFFF; ++value)
            QVERIFY(metrics.horizontalAdvance(QString::number(value, 16)) <= widest);
        driver.PortBox()->setEditText(QStringLiteral("/tmp/gw-sim"));
        QVERIFY(ShowsWhole(driver.PortBox()->lineEdit()));

        auto *speed = driver.Child<QComboBox>("comboBoxBaud");
        QStyleOptionComboBox option;
        option.initFrom(speed);
        const QRect field = speed->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, speed);
        QVERIFY(field.width() - 2 >= speed->fontMetrics().horizontalAdvance(QStringLiteral("19200")));
    }

    // On Linux a port the user may not use names the group to join.
    void permissionAdvice()
    {
        QVERIFY(OpenFailureText("ttyUSB0", "Permission denied", PortRefusal::NoAccess, "dialout").endsWith(
            "Permission denied\n\nНет прав на порт. Добавьте пользователя в группу dialout:\n"
            "sudo usermod -aG dialout $USER\nи войдите в систему заново."));
    }

    // --lang over all, then LANGUAGE, then the system's locale.
    void chosenLanguage()
    {
        QCOMPARE(UiLanguage({ "tamrivo", "--lang", "en" }, "ru_RU", QLocale("ru_RU")), QStringLiteral("en"));
        QCOMPARE(UiLanguage({ "tamrivo" }, "ru_RU.UTF-8:en", QLocale("en_US")), QStringLiteral("ru"));
        QCOMPARE(UiLanguage({ "tamrivo" }, "", QLocale("ru_RU")), QStringLiteral("ru"));
        QCOMPARE(UiLanguage({ "tamrivo" }, "", QLocale("de_DE")), QStringLiteral("en"));
    }

    // Connect, About and write under each language: Russian shows the source
    // texts exactly, and Qt's buttons in Russian where the system has Qt's
    // files; English leaves no Cyrillic anywhere, boxes and status bar
    // included. Last, as it leaves translators installed.
    void textsInEachLanguage()
    {
        const QStringList source = WindowTexts(WindowDriver().window);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
        const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
        const bool qtRussian = QFile::exists(qtTranslations + QStringLiteral("/qtbase_ru.qm"));
        QTemporaryFile image(QDir::tempPath() + QStringLiteral("/XXXXXX.bine"));
        QVERIFY(image.open() && image.write(QByteArray(100, 'x')) == 100);
        image.close();

        for (const QString language : { "ru", "en" }) {
            QVERIFY(InstallTranslations(language));
            SimConfig config;
            WindowDriver driver(&config);
            QStringList texts = WindowTexts(driver.window);
            QString cancel;
            driver.answerer.OnNextBox([&cancel] {
                cancel = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())
                             ->button(QMessageBox::Cancel)->text();
            });
            driver.Connect();
            driver.ToolBar().last()->trigger();
            driver.ChooseFile(image.fileName());
            driver.answerer.Answer(QMessageBox::Ok);
            driver.WriteButton()->click();
            QCOMPARE(driver.answerer.seen.size(), 5);
            if (language == QLatin1String("ru")) {
                QCOMPARE(texts, source);
                QVERIFY(driver.answerer.seen.value(0).endsWith("Start addr 0x8003000\nEnd addr 0x800ffff\n"
                                                               "Size Page 1024\n\nПрименить их ?"));
                QCOMPARE(cancel, qtRussian ? QStringLiteral("Отмена") : QStringLiteral("Cancel"));
                continue;
            }
            texts << driver.answerer.seen << driver.Status();
            QCOMPARE(texts.filter(QRegularExpression(QStringLiteral("[А-яЁё]"))), QStringList());
            QVERIFY(texts.contains(QStringLiteral("Settings")));
            QCOMPARE(cancel, QStringLiteral("Cancel"));
        }
    }
};

TAMRIVO_GUI_TEST_MAIN(WindowConnectTest)
#include "tst_windowconnect.moc"
