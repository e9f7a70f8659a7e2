#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicelink.h"
#include "elidedlabel.h"
#include "fitwidth.h"
#include "flashmapview.h"
#include "screenfit.h"
#include "productionpanel.h"
#include "stationstore.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

namespace {

// The end address may lie past the application area the form allows for
// the start: parts with up to 1 MiB of flash report such an end.
const int EndAddrMaximum = 0x080FFFFF;
const char SettingsOrganisation[] = "ostrel.example";
const char SettingsApplication[] = "Tamrivo";
// Often enough that an adapter just plugged in is there when the user
// looks; listing the ports takes a few milliseconds.
const int PortRefreshMs = 1000;

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      labelPortParams(nullptr),
      labelJobStatus(nullptr),
      comboBoxPort(nullptr),
      comboBoxBaud(nullptr),
      fileData(nullptr),
      actionConnect(nullptr),
      actionDisconnect(nullptr),
      actionVerify(nullptr),
      actionSave(nullptr),
      actionAbout(nullptr),
      deviceLink(nullptr),
      serialPort(nullptr),
      settings(nullptr),
      portTimer(nullptr),
      cancelPressed(false)
{
    ui->setupUi(this);

    serialPort = new QSerialPort(this);
    labelPortParams = new QLabel(tr("  Параметры\n  порта"));
    comboBoxPort = new QComboBox;
    comboBoxPort->setObjectName(QStringLiteral("comboBoxPort"));

    deviceLink = new DeviceLink;
    deviceLink->SetPort(serialPort);
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { PortError(error); });

    comboBoxBaud = new QComboBox;
    comboBoxBaud->setObjectName(QStringLiteral("comboBoxBaud"));
    comboBoxBaud->addItem(QStringLiteral("9600"));
    comboBoxBaud->addItem(QStringLiteral("19200"));

    labelPortParams->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont captionFont = labelPortParams->font();
    captionFont.setWeight(QFont::Bold);
    labelPortParams->setFont(captionFont);
    labelPortParams->setMinimumWidth(85);
    comboBoxPort->setFixedHeight(25);
    comboBoxBaud->setFixedHeight(25);
    SetUpPortSelector();

    CreateActions();
    CreateFileMenu();
    // A widget of the status bar, not a message: the tips of the tool bar
    // actions would wipe a message as the pointer passes over them.
    labelJobStatus = new ElidedLabel;
    labelJobStatus->setObjectName(QStringLiteral("labelJobStatus"));
    ui->statusBar->addWidget(labelJobStatus, 1);

    settings = new QSettings(QString::fromLatin1(SettingsOrganisation),
                             QString::fromLatin1(SettingsApplication));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 keeps settings in UTF-8; a Qt 5 build does too, so that either
    // reads a non-ASCII path the other remembered.
    settings->setIniCodec("UTF-8");
#endif
    RestoreDataFile();
    FillRecentFiles();
    FillRecentProjects();
    RestoreSkipUnchanged();
    RefreshPorts();
    RestorePort();

    ui->spinBoxEndAddr->setMaximum(EndAddrMaximum);
    FitWidths();

    connect(ui->pushButtonFileData, &QPushButton::clicked, this, &MainWindow::SelectedFileData);
    connect(ui->pushButtonWrite, &QPushButton::clicked, this, &MainWindow::WriteData);
    connect(ui->pushButtonCansel, &QPushButton::clicked, this, &MainWindow::PushCansel);
    connect(ui->lineEditFileData, &QLineEdit::editingFinished, this, &MainWindow::TakeTypedFile);
    connect(ui->progressBar, &QProgressBar::valueChanged, this, &MainWindow::ShowJobTitle);
    // The speed and time left beside the pass's name, the bar under both.
    labelRate = new QLabel;
    labelRate->setObjectName(QStringLiteral("labelRate"));
    labelRate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ui->gridLayout_4->addWidget(labelRate, 0, 1);
    ui->gridLayout_4->addWidget(ui->progressBar, 1, 0, 1, 2);
    // The file's pages depend on the page size and, where the file carries
    // its own addresses, on the start; the map's on all three boxes.
    connect(ui->spinBoxStartAddr, QOverload<int>::of(&QSpinBox::valueChanged), this, &MainWindow::ShowFingerprint);
    connect(ui->spinBoxSizePage, QOverload<int>::of(&QSpinBox::valueChanged), this, &MainWindow::ShowFingerprint);
    connect(ui->spinBoxEndAddr, QOverload<int>::of(&QSpinBox::valueChanged), this, &MainWindow::PreviewMap);
    // A file dropped anywhere on the window is chosen; the path field would
    // otherwise take the drop as text typed into the middle of the path.
    ui->lineEditFileData->setAcceptDrops(false);
    setAcceptDrops(true);

    portTimer = new QTimer(this);
    connect(portTimer, &QTimer::timeout, this, &MainWindow::RefreshPorts);
    portTimer->start(PortRefreshMs);
    // Room for the whole tool bar, so no action hides behind its extension.
    resize(qMax(width(), ui->mainToolBar->sizeHint().width()), height());
    FitToScreen();
}

MainWindow::~MainWindow()
{
    delete ui;
    delete fileData;
    delete deviceLink;
    delete settings;
}

void MainWindow::CreateActions()
{
    actionConnect = new QAction(QIcon(QStringLiteral(":/new/prefix1/rec/connect.png")),
                                tr("Подключить"), this);
    actionConnect->setStatusTip(tr("Подключить прибор"));
    connect(actionConnect, &QAction::triggered, this, &MainWindow::OpenPort);

    actionDisconnect = new QAction(QIcon(QStringLiteral(":/new/prefix1/rec/disconnect.png")),
                                   tr("Отключить"), this);
    actionDisconnect->setStatusTip(tr("Отключить прибор"));
    connect(actionDisconnect, &QAction::triggered, this, &MainWindow::ClosePort);

    actionVerify = new QAction(QIcon(QStringLiteral(":/new/prefix1/rec/verify.png")), tr("Проверить"), this);
    actionVerify->setStatusTip(tr("Сравнить данные прибора с файлом данных"));
    connect(actionVerify, &QAction::triggered, this, &MainWindow::VerifyData);

    actionSave = new QAction(QIcon(QStringLiteral(":/new/prefix1/rec/save.png")), tr("Сохранить"), this);
    actionSave->setStatusTip(tr("Сохранить данные прибора в файл"));
    connect(actionSave, &QAction::triggered, this, &MainWindow::SaveData);

    actionAbout = new QAction(QIcon(QStringLiteral(":/new/prefix1/rec/about.png")),
                              tr("О программе"), this);
    actionAbout->setStatusTip(tr("О программе"));
    connect(actionAbout, &QAction::triggered, this, &MainWindow::About);

    ui->mainToolBar->addAction(actionConnect);
    ui->mainToolBar->addAction(actionDisconnect);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addWidget(labelPortParams);
    ui->mainToolBar->addWidget(comboBoxPort);
    ui->mainToolBar->addWidget(comboBoxBaud);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(actionVerify);
    ui->mainToolBar->addAction(actionSave);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(actionAbout);
    ui->mainToolBar->setIconSize(QSize(32, 32));

    // Keys for the bench: connect, disconnect, write, verify, save; Esc
    // asks to cancel the job running, as the cancel button does.
    actionConnect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    actionDisconnect->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    actionVerify->setShortcut(QKeySequence(Qt::Key_F6));
    actionSave->setShortcut(QKeySequence::Save);
    // The buttons' keys as window actions: a key works wherever the focus
    // is, and only while its button could be pressed.
    for (auto [button, key] : { std::pair(ui->pushButtonWrite, Qt::Key_F5), std::pair(ui->pushButtonCansel, Qt::Key_Escape) }) {
        QAction *press = new QAction(this);
        press->setShortcut(QKeySequence(key));
        connect(press, &QAction::triggered, button, [button = button] {
            if (button->isEnabled())
                button->click();
        });
        addAction(press);
        if (key == Qt::Key_F5)
            writeKey = press;
    }
    lineWriteKey = new QAction(this);
    lineWriteKey->setShortcut(QKeySequence(Qt::Key_F5));
    lineWriteKey->setEnabled(false);
    connect(lineWriteKey, &QAction::triggered, this, [this] {
        if (panel && panel->NextButton()->isEnabled())
            panel->NextButton()->click();
    });
    addAction(lineWriteKey);
    for (QAction *action : { actionConnect, actionDisconnect, actionVerify, actionSave })
        action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text(), action->shortcut().toString(QKeySequence::NativeText)));
    ui->pushButtonWrite->setToolTip(tr("Записать файл данных в прибор (%1)").arg(QStringLiteral("F5")));
    ui->pushButtonCansel->setToolTip(tr("Прервать задание (%1)").arg(QStringLiteral("Esc")));

    actionConnect->setEnabled(true);
    actionDisconnect->setEnabled(false);
    actionVerify->setEnabled(false);
    actionSave->setEnabled(false);
}

// The File menu: open a data file, or one of the last used again.
void MainWindow::CreateFileMenu()
{
    QMenu *menuFile = ui->menuBar->addMenu(tr("Файл"));
    menuFile->setObjectName(QStringLiteral("menuFile"));
    QAction *open = menuFile->addAction(tr("Открыть файл данных..."), this, &MainWindow::SelectedFileData);
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    menuRecent = menuFile->addMenu(tr("Недавние файлы"));
    menuRecent->setObjectName(QStringLiteral("menuRecent"));
    CreateProjectMenu(menuFile);
}

// Every value fits its box in the box's own font.
void MainWindow::FitWidths()
{
    for (QSpinBox *box : { ui->spinBoxStartAddr, ui->spinBoxEndAddr, ui->spinBoxSizePage })
        FitSpinBox(box);
    QStringList speeds;
    for (int i = 0; i < comboBoxBaud->count(); ++i)
        speeds << comboBoxBaud->itemText(i);
    FitComboBox(comboBoxBaud, speeds);
    PortTextChanged(comboBoxPort->currentText());
}
