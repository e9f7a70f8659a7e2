#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "flashmapview.h"
#include "programmingjob.h"
#include "windowtexts.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>

// Is the device carrying this file? The flash is compared with the data
// file over the file's own addresses (a raw file from the start address);
// nothing is erased or written.
void MainWindow::VerifyData()
{
    if (jobRunning)
        return;
    TakeTypedFile();
    JobPlan plan;
    if (!LoadJobImage(&plan, false))
        return;

    QElapsedTimer clock;
    clock.start();
    CheckReport report;
    ui->flashMap->Model().StartImage(plan.start, quint32(ui->spinBoxEndAddr->value()), plan.pageSize, plan.image,
                                     ProgrammingJob::DefaultBlockSize);
    const JobOutcome outcome = RunJob(WindowJob::Verify, [this, &plan](JobObserver &observer) {
        return ProgrammingJob(*deviceLink, plan.start, plan.pageSize, plan.image).Verify(observer);
    }, &report.done);
    report.status = outcome.status;
    report.elapsedMs = clock.elapsed();
    report.size = int(plan.image.ByteCount());
    report.mismatch = outcome.mismatch;
    report.mismatchAddress = outcome.mismatchAddress;
    labelJobStatus->setText(CheckStatusText(report));

    if (outcome.mismatch)
        QMessageBox::critical(this, tr("Ошибка"), MismatchText(outcome), QMessageBox::Ok);
    else if (outcome.status == JobOutcome::Failed)
        ReportFailure(outcome);
    EndJob();
    if (outcome.status == JobOutcome::Done)
        QMessageBox::information(this, tr("Информация"), tr("Данные совпадают"), QMessageBox::Ok);
    ResetProgress();
    if (closeRequested)
        close();
}
