#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicelink.h"
#include "programmingjob.h"
#include "windowtexts.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QSerialPort>

// What the checks hand to the passes.
struct MainWindow::JobPlan
{
    quint32 start = 0;
    quint32 pageSize = 0;
    QByteArray image;
};

// Shows the job's progress in the window, keeps how far the erase and
// write passes got, and turns a press of the cancel button into the
// pass's question.
class WindowJobObserver : public JobObserver
{
public:
    explicit WindowJobObserver(MainWindow &window) : window(window) {}

    void PassStarted(JobPass pass, int maximum) override
    {
        Ui::MainWindow *ui = window.ui;
        current = pass;
        // A range of 0 to 0 would show a busy bar for a pass with nothing to do.
        ui->progressBar->setMaximum(qMax(maximum, 1));
        ui->progressBar->setValue(0);
        switch (pass) {
        case JobPass::Erase:
            ui->labelProcessBar->setText(MainWindow::tr("Стирание"));
            break;
        case JobPass::Write:
            ui->labelProcessBar->setText(MainWindow::tr("Запись"));
            break;
        default:
            ui->labelProcessBar->setText(MainWindow::tr("Верификация"));
            break;
        }
    }

    void Progress(int value) override
    {
        window.ui->progressBar->setValue(value);
        if (current == JobPass::Erase)
            pagesErased = value;
        else if (current == JobPass::Write)
            writeProgress = value;
    }

    bool ShouldStop(JobPass pass) override { return window.AskCancel(pass); }

    JobReport Report(const JobOutcome &outcome, const QByteArray &image, quint32 pageSize,
                     qint64 elapsedMs) const
    {
        JobReport report;
        report.status = outcome.status;
        report.elapsedMs = elapsedMs;
        report.pagesErased = pagesErased;
        report.pages = int(PagesFor(quint32(image.size()), pageSize));
        report.size = image.size();
        report.bytesWritten = BytesWritten(outcome, writeProgress, report.size);
        return report;
    }

private:
    MainWindow &window;
    JobPass current = JobPass::Erase;
    int pagesErased = 0;
    int writeProgress = 0;
};

void MainWindow::WriteData()
{
    // The write button is off during a job, but a slot may still be queued.
    if (jobRunning)
        return;
    TakeTypedFile();
    JobPlan plan;
    if (!PrepareJob(&plan))
        return;

    ui->groupBoxProcess->setEnabled(true);
    ui->pushButtonCansel->setEnabled(true);
    ui->pushButtonWrite->setEnabled(false);
    labelJobStatus->clear();
    cancelPressed = false;

    jobRunning = true;
    QElapsedTimer clock;
    clock.start();
    WindowJobObserver observer(*this);
    ProgrammingJob job(*deviceLink, plan.start, plan.pageSize, plan.image);
    const JobOutcome outcome = job.Run(observer);
    jobRunning = false;

    const JobReport report = observer.Report(outcome, plan.image, plan.pageSize, clock.elapsed());
    labelJobStatus->setText(JobStatusText(report));

    if (outcome.status == JobOutcome::Failed)
        ReportFailure(outcome);
    EndJob();
    if (outcome.status == JobOutcome::Done)
        QMessageBox::information(this, tr("Информация"), tr("Данные успешно записаны"),
                                 QMessageBox::Ok);
    // A window being closed has nobody left to tell.
    if (outcome.status == JobOutcome::Cancelled && outcome.firstBlockErased && !closeRequested)
        QMessageBox::warning(this, tr("Внимание"), tr("Запись прервана.") + NotStartingText(),
                             QMessageBox::Ok);
    ResetProgress();
    if (closeRequested)
        close();
}

// The checks before anything is erased. The image is read whole here, once:
// the passes write and verify exactly these bytes, so a file that changes
// on disk during the job cannot make a verify succeed by accident.
bool MainWindow::PrepareJob(JobPlan *plan)
{
    if (dataFileName.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не выбран файл данных"), QMessageBox::Ok);
        return false;
    }
    delete fileData;
    fileData = new QFile(dataFileName);
    if (!fileData->open(QIODevice::ReadOnly)) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удается открыть файл"), QMessageBox::Ok);
        return false;
    }

    plan->start = quint32(ui->spinBoxStartAddr->value());
    const quint32 end = quint32(ui->spinBoxEndAddr->value());
    const quint32 available = AvailableBytes(plan->start, end);
    const qint64 size = fileData->size();
    if (size > qint64(available)) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Размер файла больше заданного диапазона памяти"),
                              QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }
    plan->pageSize = quint32(ui->spinBoxSizePage->value());
    // Erasing by pages from a start inside a page would wipe memory below
    // the chosen range.
    if (CheckRange(plan->start, end, plan->pageSize, quint32(size)) == RangeCheck::Unaligned) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Начальный адрес не кратен размеру страницы"),
                              QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }
    plan->image = fileData->readAll();
    if (plan->image.size() != size) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удается открыть файл"), QMessageBox::Ok);
        EndCheckFailed();
        return false;
    }

    const QString summary = QString::asprintf(
        tr("Доступно памяти %d кБ\nОбъем данных %d кБ\nКоличество страниц %d \n\n"
           "Жми ОК для продолжения").toUtf8().constData(),
        int(available / 1024), int(size / 1024), int(PagesFor(quint32(size), plan->pageSize)));
    const auto answer = QMessageBox::information(this, tr("Внимание"), summary,
                                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
        EndCheckFailed();
        return false;
    }
    return true;
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
        text = QString::asprintf(
            tr("Ошибка верификации flash\nAdress %d\nSize block %d\nSize send block %d").toUtf8().constData(),
            outcome.index, outcome.blockLength, outcome.readBackLength);
    }
    return text;
}

// The job writes the application's first block last, so a job stopped
// early leaves an application that cannot start rather than a half one.
QString MainWindow::NotStartingText()
{
    return QStringLiteral("\n\n") + tr("Приложение не запустится, пока запись не будет выполнена до конца");
}

// The end of every job that got past its checks, done or not. The write
// button comes back only on an open port: a disconnect during the job
// leaves nothing to write to.
void MainWindow::EndJob()
{
    ui->groupBoxProcess->setEnabled(false);
    fileData->close();
    ui->pushButtonCansel->setEnabled(false);
    ui->pushButtonWrite->setEnabled(serialPort->isOpen());
    actionConnect->setEnabled(!serialPort->isOpen());
}

// Back to how the window shows an idle job at start.
void MainWindow::ResetProgress()
{
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->labelProcessBar->setText(tr("Запись"));
}

bool MainWindow::AskCancel(JobPass pass)
{
    if (!cancelPressed)
        return false;
    QString text = tr("Прервать верификацию данных");
    if (pass == JobPass::Erase)
        text = tr("Прервать стирание данных ?");
    else if (pass == JobPass::Write)
        text = tr("Прервать запись данных ?");
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
