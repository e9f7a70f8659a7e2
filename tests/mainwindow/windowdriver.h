#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "mainwindow.h"
#include "modalanswerer.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QToolBar>

// Drives the window the way a user does: through its tool bar, its
// buttons and the answers given to its dialogs.
class WindowDriver
{
public:
    WindowDriver() { window.show(); }

    template<typename T>
    T *Child(const char *name)
    {
        T *child = window.findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no %s in the window", name);
        return child;
    }

    QAction *ConnectAction() { return ToolBarActions().at(0); }
    QAction *DisconnectAction() { return ToolBarActions().at(1); }
    QComboBox *PortBox() { return Child<QComboBox>("comboBoxPort"); }
    QComboBox *BaudBox() { return Child<QComboBox>("comboBoxBaud"); }
    QSerialPort *Port() { return window.findChild<QSerialPort *>(); }
    QSpinBox *Start() { return Child<QSpinBox>("spinBoxStartAddr"); }
    QSpinBox *End() { return Child<QSpinBox>("spinBoxEndAddr"); }
    QSpinBox *PageSize() { return Child<QSpinBox>("spinBoxSizePage"); }
    QPushButton *WriteButton() { return Child<QPushButton>("pushButtonWrite"); }
    QPushButton *CancelButton() { return Child<QPushButton>("pushButtonCansel"); }
    QWidget *ProcessGroup() { return Child<QWidget>("groupBoxProcess"); }
    QProgressBar *Progress() { return Child<QProgressBar>("progressBar"); }
    QLabel *ProcessLabel() { return Child<QLabel>("labelProcessBar"); }

    // Connects to the port, answering the parameter question, if one comes.
    void Connect(const QString &port, QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        PortBox()->setEditText(port);
        answerer.Answer(answer);
        ConnectAction()->trigger();
    }

    // Chooses the data file through the dialog behind the "..." button.
    void ChooseFile(const QString &path)
    {
        answerer.ChooseFile(path);
        Child<QPushButton>("pushButtonFileData")->click();
    }

    MainWindow window;
    ModalAnswerer answerer;

private:
    QList<QAction *> ToolBarActions() { return Child<QToolBar>("mainToolBar")->actions(); }
};

#endif // WINDOWDRIVER_H
