#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "flashmapview.h"
#include "differenceview.h"
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
    if (WaitingForLoader())
        return;
    TakeTypedFile();
    JobPlan plan;
    if (!LoadJobImage(&plan, false))
        return;
    // What it shows is about to be out of date.
    if (differenceView)
        differenceView->hide();

    QElapsedTimer clock;
    clock.start();
    CheckReport report;
    ui->flashMap->Model().StartImage(plan.start, quint32(ui->spinBoxEndAddr->value()), plan.pageSize, plan.image,
                                     ProgrammingJob::DefaultBlockSize);
    const JobOutcome outcome = RunJob(WindowJob::Verify, [this, &plan](JobObserver &observer) {
        return ProgrammingJob(*deviceLink, plan.start, plan.pageSize, plan.image).VerifyAll(observer, &lastDifferences);
    }, &report.done);
    report.status = outcome.status;
    report.elapsedMs = clock.elapsed();
    report.size = int(plan.image.ByteCount());
    report.mismatch = outcome.mismatch;
    report.mismatchAddress = outcome.mismatchAddress;
    report.differingBytes = DifferingBytes(lastDifferences);
    report.differingRanges = lastDifferences.size();
    labelJobStatus->setText(CheckStatusText(report));
    // Every page a difference touches, not only the first one's.
    for (const FlashDifference &difference : lastDifferences)
        ui->flashMap->Model().Failed(difference.address, difference.expected.size());

    if (outcome.status == JobOutcome::Failed && !outcome.mismatch)
        ReportFailure(outcome);
    EndJob();
    if (outcome.status == JobOutcome::Done)
        QMessageBox::information(this, tr("Информация"), tr("Данные совпадают"), QMessageBox::Ok);
    // Only a verify that went to the end: beside a range, the device is
    // shown holding the file's bytes, which only a whole compare proves.
    if (outcome.mismatch && !closeRequested)
        ShowDifferences(plan.image);
    if (closeRequested)
        close();
}

// The view is the window's and outlives its closing: the next verify with
// differences shows them in the same place.
void MainWindow::ShowDifferences(const FirmwareImage &image)
{
    if (!differenceView)
        differenceView = new DifferenceView(this);
    differenceView->SetDifferences(image, lastDifferences);
    differenceView->show();
    differenceView->raise();
    differenceView->activateWindow();
}
