// Connecting to the device and taking over its flash geometry, the port
// list, the data file chosen and found again after a restart, the widths of
// the boxes and the window's language.
#include "fitwidth.h"
#include "language.h"
#include "windowdriver.h"
#include "windowtexts.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// port empty: the simulator's; baud: the selector's index; box: the dialog
// seen, PORT standing for the simulator's port; shown: the start, end and
// page size boxes afterwards.
struct ConnectRow
{
    QString port;
    quint32 flashBase, pageSize;
    int device;     // 0 answers, 1 is silent, 2 is held by another program
    QMessageBox::StandardButton answer;
    int baud;
    QString box, shown, state;
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
    int x[2];
    for (int end : { 0, 1 }) {
        edit->setCursorPosition(end ? edit->text().size() : 0);
        edit->grab();
        x[end] = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    }
    return x[1] - x[0] >= edit->fontMetrics().horizontalAdvance(edit->text()) - 1;
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

// The terminal's own speed both ways, not what the port object remembers.
speed_t LineSpeed(const QString &path)
{
    termios settings {};
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    tcgetattr(fd, &settings);   // on failure the speed stays B0
    ::close(fd);
    return cfgetispeed(&settings) == cfgetospeed(&settings) ? cfgetospeed(&settings) : B0;
}

} // namespace

Q_DECLARE_METATYPE(ConnectRow)

class WindowConnectTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings(QStringLiteral("ostrel.example"), QStringLiteral("Tamrivo")).clear(); }

    void connectToDevice_data()
    {
        QTest::addColumn<ConnectRow>("row");
        const QString defaults = QStringLiteral("0x8003000 0x800efff 2048");
        const QString question = Question("8003000", "800ffff", "1024");
        QTest::newRow("accepted, 19200 baud") << ConnectRow{ {}, 0x08000000, 1024, 0, QMessageBox::Ok, 1,
                                                             question, "0x8003000 0x800ffff 1024", Connected };
        QTest::newRow("refused, 9600 baud") << ConnectRow{ {}, 0x08000000, 1024, 0, QMessageBox::Cancel, 0,
                                                           question, defaults, Connected };
        // Values past the boxes' ranges are clamped to the nearest bound.
        QTest::newRow("clamped") << ConnectRow{ {}, 0x08100000, 8192, 0, QMessageBox::Ok, 0,
                                                Question("8103000", "810ffff", "8192"),
                                                "0x800ffff 0x80fffff 4096", Connected };
        // A silent device: connected all the same, nothing changed, but told what to check.
        QTest::newRow("silent") << ConnectRow{ {}, 0x08000000, 1024, 1, QMessageBox::Ok, 1,
            Box(QMessageBox::Warning, "Внимание", QMessageBox::Ok, "Прибор на порту PORT не отвечает.\n\n"
                "Проверьте, что выбран порт прибора, скорость 19200 бод совпадает со скоростью загрузчика "
                "и на прибор подано питание."), defaults, Connected };
        QTest::newRow("no such port") << ConnectRow{ "/dev/tamrivo-no-such-port", 0x08000000, 1024, 0,
            QMessageBox::Ok, 0, Error("Не удается открыть порт /dev/tamrivo-no-such-port:\nNo such file or directory"),
            defaults, Disconnected };
        QTest::newRow("held by another program") << ConnectRow{ {}, 0x08000000, 1024, 2, QMessageBox::Ok, 0,
            Error("Не удается открыть порт PORT:\nPermission error while locking the device\n\nПорт, видимо, уже "
                  "открыт другой программой: закройте ее и подключитесь снова."), defaults, Disconnected };
    }

    // Return in the port box connects, without adding to the list; a port
    // that opened is offered again, with its speed, at the next start. While
    // the parameters are asked for, F5 and Ctrl+O do nothing.
    void connectToDevice()
    {
        QFETCH(ConnectRow, row);
        SimConfig config;
        config.flashBase = row.flashBase;
        config.pageSize = row.pageSize;
        if (row.device == 1)
            config.faults.append({ FaultKind::DropReply, 1, -1, 0.0, -1, -1, -1 });
        WindowDriver driver(&config);
        QVERIFY(QTest::qWaitForWindowActive(&driver.window));
        driver.BaudBox()->setCurrentIndex(row.baud);
        QSerialPort other(driver.sim->SlavePath());
        QVERIFY(row.device != 2 || other.open(QIODevice::ReadWrite));
        QString during;     // what is on while the query waits
        if (row.state == Connected)     // the first turn of the event loop is inside the query's wait
            QTimer::singleShot(0, &driver.window, [&driver, &during] {
                during = driver.State();
                for (const QKeySequence &key : { QKeySequence(Qt::Key_F5), QKeySequence(QKeySequence::Open) })
                    QTest::keySequence(&driver.window, key);
            });

        driver.Connect(row.answer, row.port);

        QCOMPARE(driver.answerer.seen.join('\n').replace(driver.sim->SlavePath(), "PORT"), row.box);
        QCOMPARE(during, row.state == Connected ? QStringLiteral("open disconnect") : QString());
        QStringList shown;
        for (const char *name : { "spinBoxStartAddr", "spinBoxEndAddr", "spinBoxSizePage" })
            shown << driver.Child<QSpinBox>(name)->text();
        QCOMPARE(shown.join(' '), row.shown);
        QCOMPARE(driver.State(), row.state);
        QCOMPARE(driver.PortBox()->findText(driver.PortBox()->currentText()), -1);
        const bool opened = row.state == Connected;
        if (opened)
            QCOMPARE(LineSpeed(driver.sim->SlavePath()), row.baud == 1 ? speed_t(B19200) : speed_t(B9600));
        WindowDriver restarted;
        QCOMPARE(restarted.PortBox()->currentText() == driver.PortBox()->currentText(), opened);
        QCOMPARE(restarted.BaudBox()->currentIndex(), opened ? row.baud : 0);
    }

    // The device's line going away while the window is idle: the window must
    // not spin on the dead port, must say which it was, and connects again.
    void portLostAndConnectAgain()
    {
        SimConfig config;
        WindowDriver driver(&config);
        driver.Connect();
        driver.sim->Close();
        const QStringList boxes = { driver.answerer.seen.value(0),
                                    Error(QStringLiteral("Связь через порт %1 потеряна").arg(driver.sim->SlavePath())) };
        QTRY_COMPARE(driver.answerer.seen, boxes);
        QCOMPARE(driver.State(), Disconnected);

        QVERIFY(driver.sim->OpenPty());
        driver.Connect();
        QCOMPARE(driver.State(), Connected);
        QCOMPARE(driver.answerer.seen.size(), 3);
    }

    // The dialog opens in the folder of the last file chosen, in this run and
    // after a restart; a path typed in counts as chosen, and so does a file
    // dropped on the window. A cancelled dialog changes nothing. The file's
    // fingerprint shows however it came, and none for one that does not parse.
    void dataFileRememberedAndRestored()
    {
        QTemporaryDir files;
        const QString a = files.filePath("a"), b = files.filePath("b"), c = files.filePath("c");
        for (const QString &folder : { a, b, c })
            QVERIFY(QDir().mkpath(folder) && QFile(folder + "/app.bine").open(QIODevice::WriteOnly));
        QFile raw(a + "/app.bine"), broken(b + "/app.hex"), src(IMAGE_DATA_DIR "/src.bin");
        QVERIFY(raw.open(QIODevice::WriteOnly) && raw.write("123456789") == 9 && raw.flush() && src.open(QIODevice::ReadOnly)
                && broken.open(QIODevice::WriteOnly) && broken.write(":00000001FE\n") == 12 && broken.flush()
                && QFile::copy(IMAGE_DATA_DIR "/gaps.hex", c + "/app.hex"));
        // gaps.hex: src.bin from 0x0800FF80 but for 0x180-0x1FF, which the CRC takes as erased; SHA-256 by sha256sum.
        const QByteArray flash = src.readAll().replace(0x180, 0x80, QByteArray(0x80, '\xFF'));
        const QString gapsPrint = QStringLiteral("Intel HEX, 2124 байт, страниц: 2\nSHA-256 79d888991d29a6c965b082c80a420a3536958e6d363e28f3a85524dda72552c3\n"
            "CRC-32 %1").arg(crc32(0, reinterpret_cast<const Bytef *>(flash.constData()), uInt(flash.size())), 8, 16, QLatin1Char('0'));
        const auto print = [](WindowDriver &driver) { return driver.Child<QLabel>("labelFingerprint")->text(); };
        const auto dialog = [](const QString &folder) {
            return Box(QMessageBox::NoIcon, "Выбор файла данных", QMessageBox::NoButton,
                       "Файл данных (*.bine)|Образы прошивки (*.hex *.ihex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf "
                       "*.out *.bin *.bine)|Все файлы (*) " + folder);
        };
        QStringList dialogs;
        {
            WindowDriver driver;
            driver.ChooseFile(a + "/app.bine");
            QCOMPARE(driver.FileText(), a + "/app.bine");
            dialogs << driver.answerer.seen;
        }
        {
            WindowDriver driver;
            QCOMPARE(driver.FileText(), a + "/app.bine");
            QCOMPARE(print(driver), "двоичный, 9 байт, страниц: 1\n"
                                    "SHA-256 15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225\nCRC-32 cbf43926");
            driver.ChooseFile(b + "/app.hex");
            driver.ChooseFile(QString());
            QCOMPARE(driver.FileText() + print(driver), b + "/app.hex");     // and no fingerprint
            driver.Child<QLineEdit>("lineEditFileData")->setText(c + "/app.hex");
            emit driver.Child<QLineEdit>("lineEditFileData")->editingFinished();
            QCOMPARE(print(driver), gapsPrint);
            dialogs << driver.answerer.seen;
        }
        WindowDriver restarted;
        QCOMPARE(restarted.FileText(), c + "/app.hex");
        QMimeData mime;
        mime.setUrls({ QUrl::fromLocalFile(a + "/app.bine") });
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&restarted.window, &enter);
        QApplication::sendEvent(&restarted.window, &drop);
        restarted.ChooseFile(QString());
        QCOMPARE(restarted.FileText(), a + "/app.bine");
        QCOMPARE(dialogs << restarted.answerer.seen, QStringList({ dialog(QDir::currentPath()), dialog(a), dialog(b), dialog(a) }));
        // The files used, newest first and each once, are offered again in the File menu.
        QStringList recent;
        for (QAction *action : restarted.Child<QMenu>("menuRecent")->actions())
            recent << action->text();
        QCOMPARE(recent, QStringList({ "&1 " + a + "/app.bine", "&2 " + c + "/app.hex", "&3 " + b + "/app.hex" }));
        restarted.Child<QMenu>("menuRecent")->actions().at(1)->trigger();
        QCOMPARE(restarted.FileText(), c + "/app.hex");
        // One that no longer opens leaves the list once picked from it.
        QVERIFY(QFile::remove(b + "/app.hex"));
        restarted.Child<QMenu>("menuRecent")->actions().at(2)->trigger();
        QCOMPARE(restarted.Child<QMenu>("menuRecent")->actions().size(), 2);
    }

    // The file is read once per change: steps of the boxes count the pages
    // again from what was read; a new size or time on disk has it read again.
    void fileReadOncePerChange_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // put in the file's place, instead of 3000 'a'
        QTest::addColumn<int>("moved");         // seconds its modification time moves
        QTest::newRow("same size and time: not read") << QByteArray(3000, 'b') << 0;
        QTest::newRow("time moved") << QByteArray(3000, 'b') << 60;
        QTest::newRow("size changed") << QByteArray(1000, 'b') << 0;
    }

    void fileReadOncePerChange()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, moved);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(QByteArray(3000, 'a')) == 3000 && file.flush());
        WindowDriver driver;
        driver.ChooseFile(file.fileName());
        const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
        QVERIFY(file.resize(0) && file.seek(0) && file.write(bytes) == bytes.size() && file.flush()
                && file.setFileTime(modified.addSecs(moved), QFileDevice::FileModificationTime));
        driver.Child<QSpinBox>("spinBoxStartAddr")->stepUp();
        driver.Child<QSpinBox>("spinBoxSizePage")->setValue(1024);
        const QByteArray shown = moved || bytes.size() != 3000 ? bytes : QByteArray(3000, 'a');
        QCOMPARE(driver.Child<QLabel>("labelFingerprint")->text().section('\n', 0, 1),
                 QStringLiteral("двоичный, %1 байт, страниц: %2\nSHA-256 %3").arg(shown.size()).arg((shown.size() + 1023) / 1024)
                     .arg(QString::fromLatin1(QCryptographicHash::hash(shown, QCryptographicHash::Sha256).toHex())));
    }

    // Adapters plugged in and pulled out show up; the port the user chose
    // or typed stays whatever the list does.
    void portListFollowsSystem()
    {
        WindowDriver driver;
        QComboBox *box = driver.PortBox();
        const PortEntry usb0{ "ttyUSB0", "CP2102 USB to UART Bridge", "CP2102 USB to UART Bridge\n/dev/ttyUSB0" };
        const auto offer = [&driver](const QVector<PortEntry> &ports) {
            driver.window.ports = ports;
            QMetaObject::invokeMethod(&driver.window, "RefreshPorts");
        };
        offer({ { "ttyACM0", "", "/dev/ttyACM0" }, usb0 });
        box->setCurrentIndex(1);
        QCOMPARE(box->itemData(1, Qt::DisplayRole).toString(), QStringLiteral("ttyUSB0 — CP2102 USB to UART Bridge"));
        QCOMPARE(box->toolTip(), usb0.details);

        offer({ usb0, { "ttyUSB1", "FT232R USB UART", "" } });
        QCOMPARE(box->currentText(), QStringLiteral("ttyUSB0"));
        box->setEditText(QStringLiteral("/tmp/gw-sim"));
        offer({});
        QCOMPARE(box->count(), 0);
        QCOMPARE(box->currentText(), QStringLiteral("/tmp/gw-sim"));
    }

    // A spin box's own size hint covers only its bounds: the fitted width
    // must cover every value of the range. The port box grows to show a
    // typed name whole.
    void valuesShownWhole()
    {
        WindowDriver driver;
        const QFontMetrics metrics(driver.Child<QSpinBox>("spinBoxStartAddr")->font());
        const int widest = WidestValueWidth(metrics, 0x08000000, 0x0800FFFF, 16);
        for (int value = 0x08000000; value <= 0x0800FFFF; ++value)
            QVERIFY(metrics.horizontalAdvance(QString::number(value, 16)) <= widest);
        driver.PortBox()->setEditText(QStringLiteral("/tmp/gw-sim"));
        QVERIFY(ShowsWhole(driver.PortBox()->lineEdit()));
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
            driver.AboutAction()->trigger();
            driver.ChooseFile(image.fileName());
            driver.Write();
            QCOMPARE(driver.answerer.seen.size(), 5);
            if (language == QLatin1String("ru")) {
                QCOMPARE(texts, source);
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
