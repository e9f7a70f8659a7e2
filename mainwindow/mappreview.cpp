#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "differenceview.h"
#include "flashmapview.h"
#include "imagereaders.h"
#include "programmingjob.h"

#include <QFileInfo>
#include <QSpinBox>

// What a job on the chosen file would touch, before any runs: its pages to
// do, the rest of the range outside it. A file that cannot be read shows
// the range alone. A running job keeps the map it reports to; the one it
// leaves stays until the settings or the file change.
void MainWindow::PreviewMap()
{
    if (jobRunning)
        return;
    const quint32 start = quint32(ui->spinBoxStartAddr->value());
    const quint32 end = quint32(ui->spinBoxEndAddr->value());
    const quint32 pageSize = quint32(ui->spinBoxSizePage->value());
    FirmwareImage image;
    if (!dataFileName.isEmpty() && fileFacts.parsed && fileFacts.path == dataFileName) {
        image = fileFacts.image;
        // A raw file was read from address 0; a job puts it at the start.
        if (fileFacts.format == ImageFormat::Raw && !image.IsEmpty())
            image = ReadImage(image.Segments().first().bytes, QFileInfo(dataFileName).fileName(), ImageFormat::Raw, start)
                        .image;
    }
    ui->flashMap->Model().StartImage(start, end, pageSize, image, ProgrammingJob::DefaultBlockSize);
}

void MainWindow::FlashChanged()
{
    if (differenceView)
        differenceView->MarkOutOfDate();
}
