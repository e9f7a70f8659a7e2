#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicelink.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSettings>

namespace {

// The end address may lie past the application area the form allows for
// the start: parts with up to 1 MiB of flash report such an end.
const int EndAddrMaximum = 0x080FFFFF;
const char SettingsOrganisation[] = "ostrel.example";
const char SettingsApplication[] = "Tamrivo";

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      labelPortParams(nullptr),
      comboBoxPort(nullptr),
      comboBoxBaud(nullptr),
      fileData(nullptr),
      actionConnect(nullptr),
      actionDisconnect(nullptr),
      actionAbout(nullptr),
      deviceLink(nullptr),
      serialPort(nullptr),
      settings(nullptr),
      cancelPressed(false)
{
    ui->setupUi(this);

    serialPort = new QSerialPort(this);
    labelPortParams = new QLabel(tr("  Параметры\n  порта"));
    comboBoxPort = new QComboBox;
    comboBoxPort->setObjectName(QStringLiteral("comboBoxPort"));
    // Editable, so that a port the system does not list (a USB adapter's
    // device path, a pseudo-terminal) can be typed in.
    comboBoxPort->setEditable(true);

    deviceLink = new DeviceLink;
    deviceLink->SetPort(serialPort);
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { PortError(error); });

    comboBoxBaud = new QComboBox;
    comboBoxBaud->setObjectName(QStringLiteral("comboBoxBaud"));

    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        comboBoxPort->addItem(info.portName());
    comboBoxBaud->addItem(QStringLiteral("9600"));
    comboBoxBaud->addItem(QStringLiteral("19200"));

    labelPortParams->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont captionFont = labelPortParams->font();
    captionFont.setWeight(75);
    labelPortParams->setFont(captionFont);
    labelPortParams->setMinimumWidth(85);
    for (QComboBox *box : { comboBoxPort, comboBoxBaud }) {
        box->setFixedHeight(25);
        box->setFixedWidth(60);
    }

    CreateActions();

    settings = new QSettings(QString::fromLatin1(SettingsOrganisation),
                             QString::fromLatin1(SettingsApplication));
    RestoreDataFile();

    ui->spinBoxEndAddr->setMaximum(EndAddrMaximum);

    connect(ui->pushButtonFileData, &QPushButton::clicked, this, &MainWindow::SelectedFileData);
    connect(ui->pushButtonWrite, &QPushButton::clicked, this, &MainWindow::WriteData);
    connect(ui->pushButtonCansel, &QPushButton::clicked, this, &MainWindow::PushCansel);
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
    ui->mainToolBar->addAction(actionAbout);
    ui->mainToolBar->setIconSize(QSize(32, 32));

    actionConnect->setEnabled(true);
    actionDisconnect->setEnabled(false);
}
