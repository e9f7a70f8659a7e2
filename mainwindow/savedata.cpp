#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "flashmapview.h"
#include "imagewriters.h"
#include "programmingjob.h"
#include "windowtexts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>

namespace {

// The format follows the file's name: HEX and S-record names keep the
// flash addresses, any other name is saved raw. Gives what was saved, or
// why nothing was.
WriteResult WriteBackup(QSaveFile *file, quint32 start, const QByteArray &data)
{
    WriteResult backup = WriteFlashBytes(data, start, OutputFormat(file->fileName()));
    if (backup.Ok() && (file->write(backup.bytes) != backup.bytes.size() || !file->commit()))
        backup = {QByteArray(), file->errorString()};
    return backup;
}

} // namespace

// Saves what the device holds from the start address to the end address,
// end included, before it is overwritten.
void MainWindow::SaveData()
{
    if (WaitingForLoader())
        return;
    const quint32 start = quint32(ui->spinBoxStartAddr->value());
    const quint32 end = quint32(ui->spinBoxEndAddr->value());
    if (start > end || end - start >= ProgrammingJob::MaxReadLength) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Диапазон чтения 0x%1 - 0x%2 пуст или больше 16 МБ")
                                  .arg(start, 0, 16).arg(end, 0, 16), QMessageBox::Ok);
        return;
    }
    // A backup from an odd start could never be written back.
    const quint32 pageSize = quint32(ui->spinBoxSizePage->value());
    if (!CheckImagePlace(CheckRawRange(start, end, pageSize, 0, RangeUse::Read), start, pageSize, FirmwareImage(), true))
        return;
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Сохранение данных прибора"), dataFileDir.isEmpty() ? QDir::currentPath() : dataFileDir,
        tr("Файл данных (*.bine)") + QStringLiteral(";;Intel HEX (*.hex);;S-record (*.s19 *.srec);;")
            + tr("Все файлы") + QStringLiteral(" (*)"));
    if (path.isEmpty())
        return;
    // Opened before the device is read, so that a bad path fails at once,
    // and committed only after a complete read: a partial backup must
    // never look like a whole one.
    QSaveFile file(path);
    const QString cannotWrite = tr("Не удается записать файл %1:\n%2");
    if (!file.open(QIODevice::WriteOnly)) {
        QMessageBox::critical(this, tr("Ошибка"), cannotWrite.arg(path, file.errorString()), QMessageBox::Ok);
        return;
    }

    QElapsedTimer clock;
    clock.start();
    CheckReport report;
    report.pass = JobPass::Read;
    report.size = int(end - start + 1);
    QByteArray data;
    ui->flashMap->Model().StartRead(start, end, pageSize, report.size, ProgrammingJob::DefaultBlockSize);
    const JobOutcome outcome = RunJob(WindowJob::Save, [&](JobObserver &observer) {
        return ProgrammingJob(*deviceLink, start, pageSize, QByteArray()).Read(observer, report.size, &data);
    }, &report.done);
    const WriteResult backup = outcome.status == JobOutcome::Done ? WriteBackup(&file, start, data) : WriteResult();
    const bool saved = outcome.status == JobOutcome::Done && backup.Ok();
    report.status = outcome.status;
    report.elapsedMs = clock.elapsed();
    report.file = saved ? path : QString();
    labelJobStatus->setText(CheckStatusText(report));

    if (outcome.status == JobOutcome::Failed)
        ReportFailure(outcome);
    else if (outcome.status == JobOutcome::Done && !saved)
        QMessageBox::critical(this, tr("Ошибка"), cannotWrite.arg(path, backup.error), QMessageBox::Ok);
    EndJob();
    if (saved) {
        QMessageBox::information(this, tr("Информация"),
                                 tr("Прочитано %n байт и сохранено в файл\n%1", nullptr, data.size()).arg(path),
                                 QMessageBox::Ok);
    }
    if (closeRequested)
        close();
}
