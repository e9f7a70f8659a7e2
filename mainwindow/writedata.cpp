#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "blockplan.h"
#include "devicelink.h"
#include "flashmapview.h"
#include "differences.h"
#include "imagereaders.h"
#include "programmingjob.h"
#include "windowtexts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>
#include <QSettings>

// Shows the job's progress in the window, keeps how far the last pass
// got, and turns a press of the cancel button into the question of the
// job and pass.
class WindowJobObserver : public JobObserver
{
public:
    WindowJobObserver(MainWindow &window, MainWindow::WindowJob job) : window(window), job(job) {}

    // The pass's name first: the bar's first move retitles the window, and
    // the title is right from the pass's first step on.
    void PassStarted(JobPass newPass, int newMaximum) override
    {
        Ui::MainWindow *ui = window.ui;
        pass = newPass;
        maximum = newMaximum;
        switch (pass) {
        case JobPass::Erase:
            ui->labelProcessBar->setText(MainWindow::tr("Стирание"));
            break;
        case JobPass::Write:
            ui->labelProcessBar->setText(MainWindow::tr("Запись"));
            break;
        case JobPass::Read:
            ui->labelProcessBar->setText(MainWindow::tr("Чтение"));
            break;
        case JobPass::Compare:
            ui->labelProcessBar->setText(MainWindow::tr("Сравнение"));
            break;
        default:
            ui->labelProcessBar->setText(MainWindow::tr("Верификация"));
            break;
        }
        // A range of 0 to 0 would show a busy bar for a pass with nothing to do.
        ui->progressBar->setMaximum(qMax(maximum, 1));
        ui->progressBar->setValue(0);
        done = 0;
        passClock.start();
        rateShown.invalidate();
        window.labelRate->clear();
        window.ShowJobTitle();
    }

    void Progress(int value) override
    {
        done = value;
        window.ui->progressBar->setValue(value);
        if (rateShown.isValid() && rateShown.elapsed() < RateIntervalMs && value < maximum)
            return;
        rateShown.start();
        window.labelRate->setText(RateText(pass, value, maximum, passClock.nsecsElapsed()));
    }

    bool ShouldStop(JobPass pass) override { return window.AskCancel(job, pass); }

    void Done(JobPass pass, quint32 address, int length) override
    {
        window.ui->flashMap->Model().Done(pass, address, length);
    }

    void PageCompared(quint32 page, bool unchanged) override
    {
        window.ui->flashMap->Model().PageCompared(page, unchanged);
    }

    void Differs(JobPass, quint32 address, int length) override
    {
        window.ui->flashMap->Model().Failed(address, length);
    }

    int done = 0;   // what the pass running last had got through

private:
    // Steady enough to read; the figures settle within a few seconds.
    static constexpr qint64 RateIntervalMs = 250;

    MainWindow &window;
    MainWindow::WindowJob job;
    JobPass pass = JobPass::Erase;
    int maximum = 0;
    QElapsedTimer passClock;
    QElapsedTimer rateShown;
};

namespace {

const char KeySkipUnchanged[] = "skipUnchanged";

// The engine counts what the device acknowledged, blank blocks left to
// the erase aside.
JobReport Report(const JobOutcome &outcome, int pages, const FirmwareImage &image, qint64 elapsedMs,
                 bool skipUnchanged)
{
    JobReport report;
    report.status = outcome.status;
    report.elapsedMs = elapsedMs;
    report.pagesErased = outcome.pagesErased;
    report.pages = pages;
    report.size = int(image.ByteCount());
    report.bytesWritten = int(outcome.bytesWritten);
    report.skipUnchanged = skipUnchanged;
    report.pagesSkipped = outcome.pagesSkipped;
    return report;
}

} // namespace

// Off unless the user turned it on: the comparison reads every page
// before the erase, time lost on a blank device or on other firmware.
void MainWindow::RestoreSkipUnchanged()
{
    ui->checkBoxSkipUnchanged->setChecked(settings->value(QLatin1String(KeySkipUnchanged), false).toBool());
    connect(ui->checkBoxSkipUnchanged, &QCheckBox::toggled, this, [this](bool on) {
        settings->setValue(QLatin1String(KeySkipUnchanged), on);
        settings->sync();
    });
}

void MainWindow::WriteData()
{
    // The write button is off during a job and the parameter query, but a
    // slot may still be queued.
    if (WaitingForLoader())
        return;
    TakeTypedFile();
    JobPlan plan;
    if (!PrepareJob(&plan))
        return;

    QElapsedTimer clock;
    clock.start();
    const bool skipUnchanged = ui->checkBoxSkipUnchanged->isChecked();
    ui->flashMap->Model().StartImage(plan.start, quint32(ui->spinBoxEndAddr->value()), plan.pageSize, plan.image,
                                     ProgrammingJob::DefaultBlockSize);
    const JobOutcome outcome = RunJob(WindowJob::Write, [this, &plan, skipUnchanged](JobObserver &observer) {
        ProgrammingJob job(*deviceLink, plan.start, plan.pageSize, plan.image);
        job.SetSkipUnchanged(skipUnchanged);
        return job.Run(observer);
    });
    if (outcome.firstBlockErased || outcome.pagesErased > 0 || outcome.bytesWritten > 0)
        FlashChanged();
    const JobReport report = Report(outcome, plan.pages, plan.image, clock.elapsed(), skipUnchanged);
    labelJobStatus->setText(JobStatusText(report));

    if (outcome.status == JobOutcome::Failed)
        ReportFailure(outcome);
    EndJob();
    if (outcome.status == JobOutcome::Done)
        QMessageBox::information(this, tr("Информация"), JobDoneText(report), QMessageBox::Ok);
    // A window being closed has nobody left to tell.
    if (outcome.status == JobOutcome::Cancelled && outcome.firstBlockErased && !closeRequested)
        QMessageBox::warning(this, tr("Внимание"), tr("Запись прервана.") + NotStartingText(),
                             QMessageBox::Ok);
    if (closeRequested)
        close();
}

// The checks before anything is erased, and the summary.
bool MainWindow::PrepareJob(JobPlan *plan)
{
    if (!LoadJobImage(plan, true))
        return false;
    if (!ProjectAllowsWrite(*plan)) {
        EndCheckFailed();
        return false;
    }
    const quint32 end = quint32(ui->spinBoxEndAddr->value());
    const QString summary = QString::asprintf(
        tr("Доступно памяти %d кБ\nОбъем данных %d кБ\nКоличество страниц %d \n\n"
           "Жми ОК для продолжения").toUtf8().constData(),
        int(AvailableBytes(plan->start, end) / 1024), int(plan->image.ByteCount() / 1024), plan->pages);
    const auto answer = QMessageBox::information(this, tr("Внимание"), summary,
                                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
        EndCheckFailed();
        return false;
    }
    return true;
}

// The image is read whole here, once: the passes write and verify exactly
// these bytes, so a file that changes on disk during the job cannot make a
// verify succeed by accident. Only a write erases, so only a write needs a
// start on a page boundary.
bool MainWindow::LoadJobImage(JobPlan *plan, bool forWrite)
{
    if (dataFileName.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не выбран файл данных"), QMessageBox::Ok);
        return false;
    }
    delete fileData;
    fileData = new QFile(dataFileName);
    const QString cannotOpen = tr("Не удается открыть файл\n%1\n%2");
    if (!fileData->open(QIODevice::ReadOnly)) {
        QMessageBox::critical(this, tr("Ошибка"),
                              cannotOpen.arg(QDir::toNativeSeparators(dataFileName), fileData->errorString()), QMessageBox::Ok);
        return false;
    }

    // Refused unread, at the same size as on the command line.
    if (fileData->size() > MaxImageFileBytes) {
        QMessageBox::critical(this, tr("Ошибка"),
                              tr("Файл данных больше %1 байт — больше любого образа, который записывает программа:\n%2")
                                  .arg(MaxImageFileBytes).arg(QDir::toNativeSeparators(dataFileName)), QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }

    plan->start = quint32(ui->spinBoxStartAddr->value());
    const quint32 end = quint32(ui->spinBoxEndAddr->value());
    plan->pageSize = quint32(ui->spinBoxSizePage->value());
    const QByteArray bytes = fileData->readAll();
    plan->sha256 = Sha256Hex(bytes);
    if (bytes.size() != fileData->size()) {
        QMessageBox::critical(this, tr("Ошибка"),
                              cannotOpen.arg(QDir::toNativeSeparators(dataFileName), fileData->errorString()), QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }
    // A raw file goes to the start address; HEX, S-record and ELF carry
    // their own addresses, which the range only bounds.
    const QString name = QFileInfo(dataFileName).fileName();
    const ImageFormat format = DetectFormat(dataFileName, bytes);
    const RangeUse use = forWrite ? RangeUse::Write : RangeUse::Read;
    // A raw file is measured before it is placed: one running past
    // 0xFFFFFFFF is too large for the range, not a broken file.
    if (format == ImageFormat::Raw && !CheckImagePlace(CheckRawRange(plan->start, end, plan->pageSize, bytes.size(), use),
                                                       plan->start, plan->pageSize, FirmwareImage(), true)) {
        EndCheckFailed();
        return false;
    }
    const ImageResult read = ReadImage(bytes, name, format, plan->start);
    if (!read.Ok()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка в файле образа\n%1").arg(read.error), QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }
    // An empty image would end in a "success" that put nothing on the device.
    if (read.image.IsEmpty()) {
        const QString text = bytes.isEmpty() ? tr("Файл данных пуст:\n%1") : tr("В файле данных нет данных:\n%1");
        QMessageBox::critical(this, tr("Ошибка"), text.arg(QDir::toNativeSeparators(dataFileName)), QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }
    plan->image = read.image;
    if (!CheckImagePlace(CheckImageRange(plan->start, end, plan->pageSize, plan->image, use), plan->start,
                         plan->pageSize, plan->image, format == ImageFormat::Raw)) {
        EndCheckFailed();
        return false;
    }
    plan->pages = PlanPages(plan->image, plan->start, plan->pageSize).size();
    return true;
}

// Tells why the settings cannot take the image; true when they can.
// Erasing by pages from a start inside a page would wipe memory below the
// chosen range, as would data placed below the start, and the flash
// takes half-words only.
bool MainWindow::CheckImagePlace(RangeCheck check, quint32 start, quint32 pageSize, const FirmwareImage &image,
                                 bool raw)
{
    QString text;
    switch (check) {
    case RangeCheck::Fits:
        return true;
    case RangeCheck::TooLarge:
    case RangeCheck::BelowStart:
        text = raw ? tr("Размер файла больше заданного диапазона памяти")
                   : tr("Данные образа лежат вне заданного диапазона памяти\n0x%1 - 0x%2")
                         .arg(image.LowestAddress(), 0, 16).arg(image.HighestAddress(), 0, 16);
        break;
    case RangeCheck::OddStart:
        text = tr("Начальный адрес 0x%1 нечётный: flash программируется полусловами с чётного адреса")
                   .arg(start, 8, 16, QLatin1Char('0'));
        break;
    case RangeCheck::OddPageSize:
        text = tr("Размер страницы %1 нечётный: flash программируется полусловами").arg(pageSize);
        break;
    case RangeCheck::Unaligned:
        text = tr("Начальный адрес не кратен размеру страницы");
        break;
    }
    QMessageBox::critical(this, tr("Ошибка"), text, QMessageBox::Ok);
    return false;
}

void MainWindow::EndCheckFailed()
{
    fileData->close();
    ui->pushButtonCansel->setEnabled(false);
    ui->groupBoxProcess->setEnabled(false);
}

// A port that went away under the job takes the window back to its
// disconnected state. After the user's own disconnect the job just failed.
void MainWindow::ReportFailure(const JobOutcome &outcome)
{
    QString text = FailureText(outcome);
    // The device talked out of turn: nothing it said could be trusted.
    if (outcome.linkResult == LinkOutOfTurn)
        text += QStringLiteral("\n\n") + tr("Устройство продолжает передавать без запроса");
    if (outcome.firstBlockErased)
        text += NotStartingText();
    if (portLost)
        PortLost(text);
    else
        QMessageBox::critical(this, tr("Ошибка"), text, QMessageBox::Ok);
}

QString MainWindow::FailureText(const JobOutcome &outcome)
{
    QString text;
    if (outcome.pass == JobPass::Erase) {
        text = QString::asprintf(tr("Ошибка при стирания Flash\nPage %d").toUtf8().constData(),
                                 outcome.index);
    } else if (outcome.pass == JobPass::Write) {
        text = QString::asprintf(tr("Ошибка при записи flash\nAdrees %d\nSize block %d").toUtf8().constData(),
                                 outcome.index, outcome.blockLength);
    } else if (!outcome.mismatch) {
        text = QString::asprintf(tr("Ошибка при чтении flash\nAdrees %d\nSize block %d").toUtf8().constData(),
                                 outcome.index, outcome.blockLength);
    } else {
        text = tr("Ошибка верификации flash\nAdress %1\nSize block %2\nSize send block %3")
                   .arg(AddressText(outcome.address)).arg(outcome.blockLength).arg(outcome.readBackLength);
    }
    return text;
}

// The job writes the application's first block last, so a job stopped
// early leaves an application that cannot start rather than a half one.
QString MainWindow::NotStartingText()
{
    return QStringLiteral("\n\n") + tr("Приложение не запустится, пока запись не будет выполнена до конца");
}

// Shows the job running, with the cancel button live and no other job
// startable, while run drives the engine; done, if given, is how far its
// last pass got. The flash map, set up by the caller, follows the job and
// keeps its failing page.
JobOutcome MainWindow::RunJob(WindowJob job, const std::function<JobOutcome(JobObserver &)> &run, int *done)
{
    ui->groupBoxProcess->setEnabled(true);
    ui->pushButtonCansel->setEnabled(true);
    // Only the cancel question may ask anything.
    SetWaitingForLoader(true);
    labelJobStatus->clear();
    cancelPressed = false;

    jobRunning = true;
    WindowJobObserver observer(*this, job);
    const JobOutcome outcome = run(observer);
    jobRunning = false;
    // The outcome goes to the status bar and the map; the group is idle
    // again before any box about it opens.
    ResetProgress();
    if (outcome.status == JobOutcome::Failed)
        ui->flashMap->Model().Failed(outcome.address, outcome.blockLength);
    if (done)
        *done = observer.done;
    return outcome;
}

// Write, verify and save: all three need the device and no other job.
void MainWindow::EnableDeviceJobs(bool enabled)
{
    ui->pushButtonWrite->setEnabled(enabled);
    actionVerify->setEnabled(enabled);
    actionSave->setEnabled(enabled);
}

// While the window waits for the loader, in a job or in the parameter
// query, the event loop turns inside the wait. Nothing may start a job or
// a connect then, a second conversation inside the first, no dialog may
// open and no dropped file be read and hashed: the wait would stand still
// meanwhile, and the time would count against the reply. Afterwards the
// jobs come back only on an open port: a disconnect meanwhile leaves
// nothing to work with.
void MainWindow::SetWaitingForLoader(bool waiting)
{
    EnableDeviceJobs(!waiting && serialPort->isOpen());
    actionConnect->setEnabled(!waiting && !serialPort->isOpen());
    actionAbout->setEnabled(!waiting);
    ui->pushButtonFileData->setEnabled(!waiting && !project);
    ui->menuBar->setEnabled(!waiting);
    setAcceptDrops(!waiting);
}

// The end of every job that got past its checks, done or not.
void MainWindow::EndJob()
{
    ui->groupBoxProcess->setEnabled(false);
    if (fileData)
        fileData->close();
    ui->pushButtonCansel->setEnabled(false);
    SetWaitingForLoader(false);
    ResetProgress();
    ShowProject();
}

// Back to how the window shows an idle job at start.
void MainWindow::ResetProgress()
{
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->labelProcessBar->setText(tr("Запись"));
    labelRate->clear();
    setWindowTitle(IdleTitle());
}

// The job's pass and share done in the title, for a window behind others
// or minimised.
void MainWindow::ShowJobTitle()
{
    const int span = ui->progressBar->maximum() - ui->progressBar->minimum();
    if (jobRunning && span > 0)
        setWindowTitle(QStringLiteral("%1 %2% — %3").arg(ui->labelProcessBar->text())
                           .arg(qint64(ui->progressBar->value() - ui->progressBar->minimum()) * 100 / span)
                           .arg(IdleTitle()));
}

bool MainWindow::AskCancel(WindowJob job, JobPass pass)
{
    if (!cancelPressed)
        return false;
    QString text = tr("Прервать верификацию данных");
    if (job == WindowJob::Verify)
        text = tr("Прервать проверку данных ?");
    else if (job == WindowJob::Save)
        text = tr("Прервать чтение данных ?");
    else if (pass == JobPass::Erase)
        text = tr("Прервать стирание данных ?");
    else if (pass == JobPass::Write)
        text = tr("Прервать запись данных ?");
    else if (pass == JobPass::Compare)
        text = tr("Прервать сравнение данных ?");
    const auto answer = QMessageBox::critical(this, tr("Подтверждение"), text,
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        return true;
    cancelPressed = false;
    closeRequested = false;
    return false;
}

void MainWindow::PushCansel()
{
    cancelPressed = true;
}

// Closing the window while a job runs would leave an invisible process
// writing flash. The close becomes a cancel request: the job asks its
// question at its next step, and the window closes once the job has ended.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!jobRunning) {
        event->accept();
        return;
    }
    cancelPressed = true;
    closeRequested = true;
    event->ignore();
}
