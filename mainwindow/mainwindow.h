#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QString>

class QAction;
class QComboBox;
class QFile;
class QLabel;
class QSerialPort;
class QSettings;
class DeviceLink;

namespace Ui {
class MainWindow;
}

// The tool's one window: owns the form, the serial port, the link to the
// device's loader and the per-user settings, and carries every user action.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void About();
    void ClosePort();
    void OpenPort();
    void SelectedFileData();
    void WriteData();
    void PushCansel();

private:
    void CreateActions();
    void RestoreDataFile();
    void QueryFlashParams();

    Ui::MainWindow *ui;
    QLabel *labelPortParams;
    QComboBox *comboBoxPort;
    QComboBox *comboBoxBaud;
    QFile *fileData;
    QAction *actionConnect;
    QAction *actionDisconnect;
    QAction *actionAbout;
    DeviceLink *deviceLink;
    QSerialPort *serialPort;
    QSettings *settings;
    QString dataFileName;
    QString dataFileDir;
    bool cancelPressed;
};

#endif // MAINWINDOW_H
