#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "mainwindow.h"
#include "simulatedloader.h"

#include <QSerialPort>
#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

// A dialog as ModalAnswerer records it: icon, title, buttons and text. A
// file dialog has neither icon nor buttons, and its name filters and the
// folder it opened in for text.
inline QString Box(QMessageBox::Icon icon, const QString &title, QMessageBox::StandardButtons buttons,
                   const QString &text)
{
    return QStringLiteral("%1 %2 [%3] %4").arg(QString::number(icon), title,
                                               QString::number(buttons, 16), text);
}

const QString Connected = QStringLiteral("open disconnect write verify save");
const QString Disconnected = QStringLiteral("connect port baud");

// Answers the modal dialogs a test provokes, in order, and records each. It
// polls for the active modal widget, so it works for the static QMessageBox
// and QFileDialog functions. A box with no answer queued is dismissed the
// way a cautious user would (Cancel, No or OK); a file dialog with no file
// queued is cancelled.
class ModalAnswerer
{
public:
    ModalAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
        timer.start(10);
    }

    void Answer(QMessageBox::StandardButton button) { buttons.append(button); }
    void ChooseFile(const QString &path) { files.append(path); }
    // Runs when the next message box has been recorded, before it is answered.
    void OnNextBox(std::function<void()> action) { nextBoxAction = std::move(action); }

    QStringList seen;

private:
    void Poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal); box && box->isVisible())
            Handle(box);
        else if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && dialog->isVisible())
            Handle(dialog);
    }

    void Handle(QMessageBox *box)
    {
        seen << Box(box->icon(), box->windowTitle(), box->standardButtons(), box->text());
        if (auto action = std::exchange(nextBoxAction, nullptr))
            action();
        QAbstractButton *button = buttons.isEmpty() ? nullptr : box->button(buttons.takeFirst());
        for (auto fallback : { QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok })
            button = button ? button : box->button(fallback);
        if (button)
            button->click();
        else
            box->done(0);
    }

    void Handle(QFileDialog *dialog)
    {
        seen << Box(QMessageBox::NoIcon, dialog->windowTitle(), QMessageBox::NoButton,
                    dialog->nameFilters().join('|') + ' ' + dialog->directory().absolutePath());
        const QFileInfo file(files.isEmpty() ? QString() : files.takeFirst());
        if (file.filePath().isEmpty())
            return dialog->reject();
        // The name is typed as a user would: selectFile() leaves the name field
        // alone while it has the focus, which depends on timing.
        dialog->setDirectory(file.absolutePath());
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(file.fileName());
        if (dialog->selectedFiles().value(0) != file.absoluteFilePath())
            return dialog->reject();
        // Accepted straight: accept() checks against a file system model that
        // loads asynchronously and now and then refuses.
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
    }

    QTimer timer;
    QList<QMessageBox::StandardButton> buttons;
    QStringList files;
    std::function<void()> nextBoxAction;
};

// The window, with the ports the system offers in the test's hands.
class TestWindow : public MainWindow
{
public:
    QVector<PortEntry> ports;
protected:
    QVector<PortEntry> ListPorts() const override { return ports; }
};

// Drives the window the way a user does, through its tool bar, buttons and
// dialogs, optionally against a simulated loader on a pseudo-terminal.
class WindowDriver
{
public:
    explicit WindowDriver(const SimConfig *config = nullptr)
    {
        if (config) {
            sim = std::make_unique<SimulatedLoader>(*config);
            if (!sim->OpenPty())
                qFatal("no pseudo-terminal");
        }
        window.show();
    }

    template<typename T = QWidget>
    T *Child(const char *name)
    {
        T *child = window.findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no %s in the window", name);
        return child;
    }

    QList<QAction *> ToolBar() { return Child<QToolBar>("mainToolBar")->actions(); }
    QAction *ConnectAction() { return ToolBar().at(0); }
    QAction *DisconnectAction() { return ToolBar().at(1); }
    // After the separator that follows the port selectors.
    QAction *VerifyAction() { return ToolBar().at(7); }
    QAction *SaveAction() { return ToolBar().at(8); }
    QSerialPort *Port() { return window.findChild<QSerialPort *>(); }
    QPushButton *WriteButton() { return Child<QPushButton>("pushButtonWrite"); }
    QPushButton *CancelButton() { return Child<QPushButton>("pushButtonCansel"); }
    QProgressBar *Progress() { return Child<QProgressBar>("progressBar"); }
    QString PassLabel() { return Child<QLabel>("labelProcessBar")->text(); }
    QString FileText() { return Child<QLineEdit>("lineEditFileData")->text(); }
    QString Status() { return Child<QLabel>("labelJobStatus")->text(); }
    QComboBox *PortBox() { return Child<QComboBox>("comboBoxPort"); }

    // The system now offers these ports; the window looks at once.
    void OfferPorts(const QVector<PortEntry> &ports)
    {
        window.ports = ports;
        QMetaObject::invokeMethod(&window, "RefreshPorts");
    }

    // What is open or enabled: the port, connect and disconnect, the port and
    // baud selectors, the write, verify and save jobs, the cancel button and
    // the progress group;
    // connected or disconnected and idle, these are Connected and Disconnected.
    QString State()
    {
        const std::pair<const char *, bool> flags[] = {
            { "open", Port()->isOpen() }, { "connect", ConnectAction()->isEnabled() },
            { "disconnect", DisconnectAction()->isEnabled() },
            { "port", Child("comboBoxPort")->isEnabled() }, { "baud", Child("comboBoxBaud")->isEnabled() },
            { "write", WriteButton()->isEnabled() }, { "verify", VerifyAction()->isEnabled() },
            { "save", SaveAction()->isEnabled() }, { "cancel", CancelButton()->isEnabled() },
            { "process", Child("groupBoxProcess")->isEnabled() } };
        QStringList on;
        for (auto [name, isOn] : flags) {
            if (isOn)
                on << name;
        }
        return on.join(' ');
    }

    // Connects to the port (the simulator's unless named) by Return in the
    // port box, answering the parameter question if one comes.
    void Connect(QMessageBox::StandardButton answer = QMessageBox::Ok, QString port = QString())
    {
        PortBox()->setEditText(port.isNull() ? sim->SlavePath() : port);
        answerer.Answer(answer);
        QTest::keyClick(PortBox(), Qt::Key_Return);
    }

    void ChooseFile(const QString &path)
    {
        answerer.ChooseFile(path);
        Child<QPushButton>("pushButtonFileData")->click();
    }

    std::unique_ptr<SimulatedLoader> sim;
    TestWindow window;
    ModalAnswerer answerer;
};

// main() for window tests: offscreen unless a platform is asked for, the
// window's icons registered, and the per-user settings kept in a fresh
// temporary folder so that no test reads or writes the user's own.
#define TAMRIVO_GUI_TEST_MAIN(TestClass)                                   \
    int main(int argc, char *argv[])                                       \
    {                                                                      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                \
            qputenv("QT_QPA_PLATFORM", "offscreen");                       \
        QTemporaryDir configHome;                                          \
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());       \
        Q_INIT_RESOURCE(resources);                                        \
        QApplication app(argc, argv);                                      \
        TestClass test;                                                    \
        return QTest::qExec(&test, argc, argv);                            \
    }

#endif // WINDOWDRIVER_H
