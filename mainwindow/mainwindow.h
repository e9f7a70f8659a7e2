#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "blockplan.h"
#include "fingerprint.h"
#include "firmwareimage.h"
#include "imageformat.h"
#include "portlist.h"
#include "project.h"
#include "productionline.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QFile;
class QLabel;
class QMenu;
class QSerialPort;
class QSettings;
class QTimer;
class DeviceLink;
class DifferenceView;
class ProductionPanel;
class QDockWidget;
class StationStore;
struct BoardResult;
class JobObserver;
struct JobOutcome;
enum class JobPass;
enum class RangeCheck;

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

    // A production line (productionline.cpp): numbered boards through the
    // production core, its panel shown and F5 taking the next board; none
    // takes the window back to the bench. Empty when set, else why not
    // (the store could not be opened).
    QString SetLine(const std::optional<LineSettings> &settings);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    // The serial ports the system offers now.
    virtual QVector<PortEntry> ListPorts() const;

private slots:
    void About();
    void ClosePort();
    void OpenPort();
    void SelectedFileData();
    void WriteData();
    void PushCansel();
    void RefreshPorts();

private:
    void CreateActions();
    void FitWidths();
    void SetUpPortSelector();
    void RestorePort();
    void RememberPort();
    void PortTextChanged(const QString &text);
    void RestoreDataFile();
    void ChooseDataFile(const QString &path);
    void TakeTypedFile();
    void ShowFingerprint();
    // The map shows the chosen file's pages over the range the boxes set,
    // whenever either changes and no job is running.
    void PreviewMap();
    // The device's flash, or the file it is held against, is other than a
    // verify saw: its differences, if shown, no longer hold.
    void FlashChanged();
    // The window within the screen it opens on, however large its font.
    void FitToScreen();
    // The chosen file as the window last read it, kept while its path, size
    // and modification time stay the same.
    struct FileFacts
    {
        QString path;
        qint64 size = -1;           // on disk, as the file was read
        QDateTime modified;
        bool readable = false;      // opened and read whole
        bool parsed = false;        // false: unreadable, too large or broken
        ImageFormat format = ImageFormat::Raw;
        FirmwareImage image;        // a raw file from address 0
        Fingerprint print;
    };
    static FileFacts ReadFileFacts(const QString &path);
    using OpenRecent = void (MainWindow::*)(const QString &);
    void RememberRecent(QMenu *menu, const char *key, int count, const QString &path, bool opened, OpenRecent open);
    void FillRecentMenu(QMenu *menu, const char *key, OpenRecent open);
    void FillRecentFiles();
    void CreateFileMenu();
    void RestoreSkipUnchanged();
    void QueryFlashParams();
    void PortError(int error);
    void PortLost(const QString &failure);

    // The programming job (writedata.cpp), and the jobs that only read the
    // device: verify (verifydata.cpp) and save (savedata.cpp)
    enum class WindowJob { Write, Verify, Save };
    // What the checks hand to the passes.
    struct JobPlan
    {
        quint32 start = 0;
        quint32 pageSize = 0;
        FirmwareImage image;
        int pages = 0;          // pages that hold image bytes
        QByteArray sha256;      // of the file the image was read from
    };
    bool PrepareJob(JobPlan *plan);
    // Project files (project.cpp): the image locked while one is open, and
    // the device and image guards before a write.
    void CreateProjectMenu(QMenu *menuFile);
    void OpenProject();
    void OpenProjectFile(const QString &path);
    void SaveProjectAs();
    void SaveProjectFile(const QString &path);
    void CloseProject();
    void FillRecentProjects();
    void ShowProject();
    QString IdleTitle() const;
    bool ProjectRefusesImage(const QString &path);
    bool ProjectAllowsWrite(const JobPlan &plan);
    bool LoadJobImage(JobPlan *plan, bool forWrite);
    bool CheckImagePlace(RangeCheck check, quint32 start, quint32 pageSize, const FirmwareImage &image, bool raw);
    JobOutcome RunJob(WindowJob job, const std::function<JobOutcome(JobObserver &)> &run,
                      int *done = nullptr);
    void EnableDeviceJobs(bool enabled);
    void SetWaitingForLoader(bool waiting);
    bool WaitingForLoader() const { return jobRunning || queryRunning; }
    void VerifyData();
    void ShowDifferences(const FirmwareImage &image);
    void SaveData();
    void EndCheckFailed();
    void ReportFailure(const JobOutcome &outcome);
    QString FailureText(const JobOutcome &outcome);
    static QString NotStartingText();
    void EndJob();
    void ResetProgress();
    void ShowJobTitle();
    bool AskCancel(WindowJob job, JobPass pass);
    friend class WindowJobObserver;
    void ProgramNextBoard();
    void ShowBoardResult(const BoardResult &result);
    void ShowLineCounts();
    void AwaitBoard(BoardWait wait);
    void StopAutoStart();
    void PollBoard();

    Ui::MainWindow *ui;
    QLabel *labelPortParams;
    QLabel *labelJobStatus;
    QLabel *labelRate = nullptr;      // speed and time left of the pass running
    QComboBox *comboBoxPort;
    QComboBox *comboBoxBaud;
    QFile *fileData;
    QAction *actionConnect;
    QAction *actionDisconnect;
    QAction *actionVerify;
    QAction *actionSave;
    QAction *actionAbout;
    QMenu *menuRecent = nullptr;      // the files used last, in the File menu
    QMenu *menuRecentProjects = nullptr;
    QAction *actionCloseProject = nullptr;
    DeviceLink *deviceLink;
    QSerialPort *serialPort;
    QSettings *settings;
    QTimer *portTimer;
    QVector<PortEntry> portEntries;     // as the port selector lists them
    // Where the last verify found the flash other than the file, as far as
    // it got; empty after a match.
    QVector<FlashDifference> lastDifferences;
    DifferenceView *differenceView = nullptr;
    QString dataFileName;
    FileFacts fileFacts;
    QString dataFileDir;
    bool cancelPressed;
    bool jobRunning = false;
    bool closeRequested = false;    // the window was closed while a job ran
    bool queryRunning = false;      // the flash parameters are being asked for
    bool portLost = false;          // the port went away since it was opened
    QAction *writeKey = nullptr;    // F5 for the write button
    QAction *lineWriteKey = nullptr;    // F5 for the next board, while a line is set up
    std::unique_ptr<LineSettings> line;
    std::unique_ptr<StationStore> lineStore;
    ProductionPanel *panel = nullptr;
    QDockWidget *panelDock = nullptr;
    QTimer *boardPoll = nullptr;
    BoardWait boardWait = BoardWait::Off;
    std::optional<Project> project;         // the project open, whose image cannot be changed
    std::optional<Geometry> deviceGeometry; // what the device connected last reported
    bool vectorTableAccepted = false;       // the user's word that the project's image is meant as it is

public:
    const std::optional<Project> &OpenedProject() const { return project; }
};

#endif // MAINWINDOW_H
