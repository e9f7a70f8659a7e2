#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "mainwindow.h"
#include "modalanswerer.h"
#include "simulatedloader.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QToolBar>

#include <memory>

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
    QSerialPort *Port() { return window.findChild<QSerialPort *>(); }
    QSpinBox *Spin(const char *name) { return Child<QSpinBox>(name); }
    QPushButton *WriteButton() { return Child<QPushButton>("pushButtonWrite"); }
    QPushButton *CancelButton() { return Child<QPushButton>("pushButtonCansel"); }
    QProgressBar *Progress() { return Child<QProgressBar>("progressBar"); }
    QString PassLabel() { return Child<QLabel>("labelProcessBar")->text(); }
    QString FileText() { return Child<QLineEdit>("lineEditFileData")->text(); }

    // Connects to the port (the simulator's unless named), answering the
    // parameter question if one comes.
    void Connect(QMessageBox::StandardButton answer = QMessageBox::Ok, QString port = QString())
    {
        Child<QComboBox>("comboBoxPort")->setEditText(port.isNull() ? sim->SlavePath() : port);
        answerer.Answer(answer);
        ConnectAction()->trigger();
    }

    void ChooseFile(const QString &path)
    {
        answerer.ChooseFile(path);
        Child<QPushButton>("pushButtonFileData")->click();
    }

    // Widgets a job leaves behind: process group and cancel off, write as given.
    bool IdleAfterJob(bool writeEnabled)
    {
        return !Child("groupBoxProcess")->isEnabled() && !CancelButton()->isEnabled()
            && WriteButton()->isEnabled() == writeEnabled;
    }

    std::unique_ptr<SimulatedLoader> sim;
    MainWindow window;
    ModalAnswerer answerer;
};

#endif // WINDOWDRIVER_H
