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
struct JobOutcome;
enum class JobPass;

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
    void PortError(int error);
    void PortLost(const QString &failure);

    // The programming job (writedata.cpp)
    struct JobPlan;
    bool PrepareJob(JobPlan *plan);
    void EndCheckFailed();
    void ReportFailure(const JobOutcome &outcome);
    QString FailureText(const JobOutcome &outcome);
    static QString NotStartingText();
    void EndJob();
    bool AskCancel(JobPass pass);
    friend class WindowJobObserver;

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
    bool jobRunning = false;
    bool closeRequested = false;    // the window was closed while a job ran
    bool queryRunning = false;      // the flash parameters are being asked for
    bool portLost = false;          // the port went away since it was opened
};

#endif // MAINWINDOW_H
