#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "mainwindow.h"
#include "simulatedloader.h"

#include <QSerialPort>
#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

// A dialog as ModalAnswerer records it; a file dialog has its name filters
// and folder for text.
inline QString Box(QMessageBox::Icon icon, const QString &title, QMessageBox::StandardButtons buttons,
                   const QString &text)
{
    return QStringLiteral("%1 %2 [%3] %4").arg(QString::number(icon), title,
                                               QString::number(buttons, 16), text);
}

inline QString Error(const QString &text)
{
    return Box(QMessageBox::Critical, QStringLiteral("Ошибка"), QMessageBox::Ok, text);
}

const QString Connected = QStringLiteral("open disconnect write verify save drops");
const QString Disconnected = QStringLiteral("connect port baud drops");

// Records and answers the modal dialogs in order, polling for them as the
// static QMessageBox and QFileDialog functions give no other hold. With no
// answer queued a box gets Cancel, No or OK, a file dialog is cancelled.
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
        button ? button->click() : box->done(0);
    }

    void Handle(QFileDialog *dialog)
    {
        seen << Box(QMessageBox::NoIcon, dialog->windowTitle(), QMessageBox::NoButton,
                    dialog->nameFilters().join('|') + ' ' + dialog->directory().absolutePath());
        const QFileInfo file(files.isEmpty() ? QString() : files.takeFirst());
        if (file.filePath().isEmpty())
            return dialog->reject();
        // Typed as a user would: selectFile() leaves a focused name field alone.
        dialog->setDirectory(file.absolutePath());
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(file.fileName());
        if (dialog->selectedFiles().value(0) != file.absoluteFilePath())
            return dialog->reject();
        // accept() would check a file system model that loads asynchronously.
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

// Drives the window as a user does, optionally against a simulated loader
// on a pseudo-terminal.
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

    // Connect, disconnect, the port selectors, verify and save, About.
    QAction *Action(int index) { return Child<QToolBar>("mainToolBar")->actions().at(index); }
    QAction *DisconnectAction() { return Action(1); }
    QAction *VerifyAction() { return Action(7); }
    QAction *SaveAction() { return Action(8); }
    QAction *AboutAction() { return Action(10); }
    QPushButton *WriteButton() { return Child<QPushButton>("pushButtonWrite"); }
    QPushButton *CancelButton() { return Child<QPushButton>("pushButtonCansel"); }
    QProgressBar *Progress() { return Child<QProgressBar>("progressBar"); }
    QString PassLabel() { return Child<QLabel>("labelProcessBar")->text(); }
    QString FileText() { return Child<QLineEdit>("lineEditFileData")->text(); }
    QComboBox *PortBox() { return Child<QComboBox>("comboBoxPort"); }
    QComboBox *BaudBox() { return Child<QComboBox>("comboBoxBaud"); }
    // The status bar, with the seconds taken as N.
    QString Status()
    {
        return Child<QLabel>("labelJobStatus")->text().replace(QRegularExpression("\\d+[.,]\\d с"), "N с");
    }

    // What is open or enabled: Connected or Disconnected when idle.
    QString State()
    {
        const std::pair<const char *, bool> flags[] = {
            { "open", window.findChild<QSerialPort *>()->isOpen() }, { "connect", Action(0)->isEnabled() },
            { "disconnect", DisconnectAction()->isEnabled() }, { "port", PortBox()->isEnabled() },
            { "baud", BaudBox()->isEnabled() }, { "write", WriteButton()->isEnabled() },
            { "verify", VerifyAction()->isEnabled() }, { "save", SaveAction()->isEnabled() },
            { "cancel", CancelButton()->isEnabled() }, { "process", Child("groupBoxProcess")->isEnabled() },
            { "drops", window.acceptDrops() } };
        QStringList on;
        for (auto [name, isOn] : flags) {
            if (isOn)
                on << name;
        }
        return on.join(' ');
    }

    // By Return in the port box, to the simulator's port unless named.
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

    // Presses the write button, answering the summary.
    void Write(QMessageBox::StandardButton summary = QMessageBox::Ok)
    {
        answerer.Answer(summary);
        WriteButton()->click();
    }

    std::unique_ptr<SimulatedLoader> sim;
    TestWindow window;
    ModalAnswerer answerer;
};

// Offscreen unless a platform is asked for; settings in a fresh folder, so
// that no test reads or writes the user's own.
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
