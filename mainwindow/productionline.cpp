#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "boardjob.h"
#include "devicelink.h"
#include "differences.h"
#include "flashmapview.h"
#include "ports.h"
#include "productionline.h"
#include "productionpanel.h"
#include "serialline.h"
#include "stationstore.h"
#include "windowtexts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSysInfo>
#include <QTimer>

namespace {

// Newest boards the panel lists.
constexpr int RecentBoards = 10;

} // namespace

BoardWait NextWait(BoardWait wait, bool answered)
{
    switch (wait) {
    case BoardWait::Gone: return answered ? BoardWait::Gone : BoardWait::Seated;
    case BoardWait::Seated: return answered ? BoardWait::Off : BoardWait::Seated;
    case BoardWait::Off: break;
    }
    return BoardWait::Off;
}

std::optional<LineSettings> LineFromProject(const Project &project)
{
    if (!project.serial)
        return std::nullopt;
    const ProjectSerial &serial = *project.serial;
    LineSettings line;
    line.serial.address = serial.address;
    line.serial.format = serial.format;
    line.serial.pool = serial.pool;
    // As tamrivo-cli takes the same project: a new pool from 1 unless
    // told, and never past what the layout holds.
    line.serial.range = PoolRange(serial.first.value_or(1), serial.last, serial.format.Largest());
    line.serial.voidOnFail = serial.voidOnFail;
    line.storeAddress = project.store;
    line.station = project.station;
    return line;
}

// The line's store opens when the line is set up: a store that cannot be
// reached is told before the first board, not after it. PostgreSQL takes
// its password from libpq's environment or password file, as tamrivo-cli;
// without either it is asked for once and kept only in the connection.
QString MainWindow::SetLine(const std::optional<LineSettings> &settings)
{
    StopAutoStart();
    line.reset();
    if (!settings) {
        if (panelDock)
            panelDock->hide();
        lineWriteKey->setEnabled(false);
        writeKey->setEnabled(true);
        return QString();
    }
    auto next = std::make_unique<LineSettings>(*settings);
    if (next->station.isEmpty())
        next->station = QSysInfo::machineHostName();
    const QString address = next->storeAddress.isEmpty() ? QStringLiteral("sqlite:") + DefaultStore() : next->storeAddress;
    const QString journal = next->journalFolder.isEmpty() ? DefaultJournal() : next->journalFolder;
    if (!lineStore)
        lineStore = std::make_unique<StationStore>();
    QString error = lineStore->Open(address, journal);
    const bool postgres = ParseStoreAddress(address).value.kind == StoreAddress::Postgres;
    // Only a refused login asks: a server out of reach would not take a password either.
    if (!error.isEmpty() && postgres && qEnvironmentVariableIsEmpty("PGPASSWORD")
        && error.contains(QLatin1String("password"), Qt::CaseInsensitive)) {
        bool given = false;
        const QString password = QInputDialog::getText(this, tr("База записей"),
                                                       tr("Пароль для %1:").arg(address), QLineEdit::Password,
                                                       QString(), &given);
        if (given)
            error = lineStore->Open(address, journal, password);
    }
    if (!error.isEmpty())
        return error;
    line = std::move(next);
    if (!panel) {
        panel = new ProductionPanel;
        panelDock = new QDockWidget(tr("Производство"), this);
        panelDock->setObjectName(QStringLiteral("dockProduction"));
        panelDock->setWidget(panel);
        panelDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
        addDockWidget(Qt::RightDockWidgetArea, panelDock);
        connect(panel->NextButton(), &QPushButton::clicked, this, &MainWindow::ProgramNextBoard);
        connect(panel->AutoBox(), &QCheckBox::toggled, this, [this](bool on) {
            // The line starts from a connected socket; the board in it
            // is taken as the first when it answers. Turned on during a
            // board's job, it takes over when the job ends.
            if (on && jobRunning)
                return;
            if (on && (!serialPort->isOpen() || queryRunning))
                panel->AutoBox()->setChecked(false);
            else if (on)
                AwaitBoard(BoardWait::Seated);
            else
                StopAutoStart();
        });
        boardPoll = new QTimer(this);
        boardPoll->setSingleShot(true);
        connect(boardPoll, &QTimer::timeout, this, &MainWindow::PollBoard);
    }
    // F5 programs the next board while a line is set up, never a bare write.
    writeKey->setEnabled(false);
    lineWriteKey->setEnabled(true);
    panelDock->show();
    panel->ShowState(tr("Станция %1").arg(line->station));
    ShowLineCounts();
    return QString();
}

// Today is the station's local day; the store keeps UTC.
void MainWindow::ShowLineCounts()
{
    JobFilter filter;
    filter.station = line->station;
    const QDate today = QDate::currentDate();
    filter.from = today.startOfDay().toUTC();
    filter.until = today.addDays(1).startOfDay().toUTC();
    const StoreResult<QVector<QPair<QString, int>>> counts = lineStore->Records().CountByClass(filter);
    filter.from.reset();
    filter.until.reset();
    filter.newest = RecentBoards;
    const StoreResult<QVector<JobRecord>> recent = lineStore->Records().Jobs(filter);
    if (!counts.Ok() || !recent.Ok()) {
        panel->ShowStoreTrouble(counts.Ok() ? recent.error : counts.error);
        return;
    }
    int passed = 0;
    int failed = 0;
    for (const auto &[resultClass, count] : counts.value)
        (resultClass == QLatin1String("ok") ? passed : failed) += count;
    panel->ShowCounts(passed, failed);
    panel->ShowRecent(recent.value);
}

// One board through the production core, as tamrivo-cli --serial-at runs
// it: the same journal, numbers and records. Its result goes on the
// panel, not into a box: the next board must not wait for a click.
void MainWindow::ProgramNextBoard()
{
    if (!line || WaitingForLoader() || !serialPort->isOpen())
        return;
    TakeTypedFile();
    JobPlan plan;
    if (!LoadJobImage(&plan, true))
        return;
    if (!ProjectAllowsWrite(plan)) {
        EndCheckFailed();
        return;
    }
    const SerialSettings &serial = line->serial;
    if (!SerialInImagePages(plan.image, plan.start, plan.pageSize, serial.address, serial.format)
        || !SerialPlaceMisfit(plan.image, serial.address, serial.format, dataFileName).isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"),
                              tr("Номер платы по адресу %1 должен лежать в страницах образа, на стёртых байтах")
                                  .arg(AddressText(serial.address)), QMessageBox::Ok);
        EndCheckFailed();
        return;
    }
    BoardSettings board;
    board.station = line->station;
    board.port = comboBoxPort->currentText().trimmed();
    board.image = QFileInfo(dataFileName).absoluteFilePath();
    if (fileFacts.parsed && fileFacts.path == dataFileName) {
        board.sha256 = fileFacts.print.sha256;
        board.crc32 = fileFacts.print.crc32;
    }
    board.serial = serial;
    board.skipUnchanged = ui->checkBoxSkipUnchanged->isChecked();
    const Geometry geometry{plan.start, quint32(ui->spinBoxEndAddr->value()), plan.pageSize};
    ui->flashMap->Model().StartImage(plan.start, geometry.end, plan.pageSize, plan.image,
                                     ProgrammingJob::DefaultBlockSize);
    panel->ShowState(tr("Программирование платы…"));
    BoardJob job(board, lineStore->Access());
    BoardResult result;
    RunJob(WindowJob::Write, [&](JobObserver &observer) {
        result = job.Run(*deviceLink, geometry, plan.image, observer);
        return result.outcome.value_or(JobOutcome());
    });
    ShowBoardResult(result);
    EndJob();
    ResetProgress();
    ShowLineCounts();
    const bool automatic = panel->AutoBox()->isChecked();
    if (closeRequested) {
        StopAutoStart();
        close();
    } else if (automatic) {
        // A board pulled with its adapter took the port along: the poll
        // opens it again when the next one comes.
        AwaitBoard(BoardWait::Gone);
    } else if (portLost) {
        PortLost(QString());
    } else {
        panel->ShowState(tr("Вставьте следующую плату и нажмите F5"));
    }
}

// The class and the reason in the window's words; the number's fate as
// tamrivo-cli tells it, for a board that kept or lost its number.
void MainWindow::ShowBoardResult(const BoardResult &result)
{
    const BoardVerdict verdict = result.status == ExitDone ? BoardVerdict::Pass
        : result.status == ExitInterrupted                ? BoardVerdict::Stopped
                                                           : BoardVerdict::Fail;
    QStringList reason;
    if (result.outcome && result.outcome->status == JobOutcome::Failed)
        reason << FailureText(*result.outcome);
    switch (result.stop) {
    case BoardStop::RecordsWaiting:
        reason << tr("В журнале %1 ждут записи, которые база ещё не приняла: номер не выдаётся").arg(result.waiting.file);
        break;
    case BoardStop::JournalFailed:
    case BoardStop::StoreFailed:
    case BoardStop::PoolUsedUp:
        reason << result.error;
        break;
    case BoardStop::SerialTooLarge:
        reason << tr("Номер %1 не помещается в формат: пул исчерпан").arg(result.serial);
        break;
    case BoardStop::SerialUnread:
        reason.prepend(tr("Не удалось прочитать место номера"));
        break;
    case BoardStop::None:
        break;
    }
    if (result.serial >= 0 && result.status != ExitDone && result.state) {
        switch (*result.state) {
        case SerialState::Free: reason << tr("Номер %1 возвращён в пул").arg(result.serial); break;
        case SerialState::Void: reason << tr("Номер %1 аннулирован").arg(result.serial); break;
        case SerialState::Held: reason << tr("Номер %1 удержан: плата может его нести").arg(result.serial); break;
        default: reason << tr("Номер %1 под вопросом").arg(result.serial); break;
        }
    }
    if (result.rework)
        reason << tr("Плата сохранила свой номер (доработка)");
    if (result.kept == RecordFate::Pending)
        reason << tr("Запись ждёт в журнале %1: %2").arg(result.journal, result.recordError);
    else if (result.kept == RecordFate::Lost)
        reason << tr("Запись потеряна: %1").arg(result.recordError);
    panel->ShowBoard(verdict, result.serial, ClassName(result.status), reason.join('\n'));
    labelJobStatus->setText(verdict == BoardVerdict::Pass ? tr("Плата %1 готова").arg(result.serial)
                                                          : tr("Плата не готова: %1").arg(ClassName(result.status)));
}

// The jobs stay off while the line waits: a poll is a conversation with
// the loader like any other.
void MainWindow::AwaitBoard(BoardWait wait)
{
    boardWait = wait;
    SetWaitingForLoader(true);
    panel->NextButton()->setEnabled(false);
    panel->ShowState(wait == BoardWait::Gone ? tr("Снимите плату") : tr("Ожидание новой платы…"));
    boardPoll->start(0);
}

void MainWindow::StopAutoStart()
{
    if (boardWait == BoardWait::Off)
        return;
    boardWait = BoardWait::Off;
    boardPoll->stop();
    if (panel) {
        panel->NextButton()->setEnabled(true);
        panel->AutoBox()->setChecked(false);
    }
    if (jobRunning || queryRunning)
        return;
    SetWaitingForLoader(false);
    // The port went with the last board: back to the disconnected state.
    if (!serialPort->isOpen())
        ClosePort();
}

// One parameter query per poll, each with the link's own time-out; the
// next starts BoardPollMs after this one started, so a silent socket is
// asked no more often than an answering one. A port that went away with
// its board (a USB board's own adapter) is looked for instead, and opened
// again once it is back, as tamrivo-cli --wait waits for it.
void MainWindow::PollBoard()
{
    if (boardWait == BoardWait::Off)
        return;
    QElapsedTimer clock;
    clock.start();
    bool answered = false;
    if (!serialPort->isOpen()) {
        const QString name = comboBoxPort->currentText().trimmed();
        if (PortPresent(name) && OpenSerialLine(*serialPort, name, comboBoxBaud->currentText().toInt()).Ok())
            portLost = false;
    }
    if (serialPort->isOpen()) {
        queryRunning = true;
        quint32 start = 0, end = 0, pageSize = 0;
        answered = deviceLink->ReadFlashParams(&start, &end, &pageSize) == LinkOk && !portLost;
        // Each board is checked against the project as it answers.
        if (answered)
            deviceGeometry = Geometry{start, end, pageSize};
        queryRunning = false;
    }
    // Turned off while the query waited.
    if (boardWait == BoardWait::Off)
        return;
    const BoardWait wait = NextWait(boardWait, answered);
    if (wait == BoardWait::Off) {
        boardWait = BoardWait::Off;
        SetWaitingForLoader(false);
        panel->NextButton()->setEnabled(true);
        ProgramNextBoard();
        // A board that could not start (the image does not fit) ends the
        // line: the next would not start either.
        if (boardWait == BoardWait::Off)
            panel->AutoBox()->setChecked(false);
        return;
    }
    if (wait != boardWait)
        panel->ShowState(tr("Ожидание новой платы…"));
    boardWait = wait;
    boardPoll->start(int(qMax<qint64>(0, BoardPollMs - clock.elapsed())));
}
