#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace {

const char KeyDir[] = "dirDataFile";
const char KeyName[] = "nameDataFile";

} // namespace

// Brings back the last chosen data file. Neither the folder nor the file
// is checked: a file that has gone is reported when a job tries to open it.
void MainWindow::RestoreDataFile()
{
    const QString dir = settings->value(QLatin1String(KeyDir)).toString();
    if (!dir.isEmpty())
        dataFileDir = dir;
    const QString name = settings->value(QLatin1String(KeyName)).toString();
    if (!name.isEmpty()) {
        ui->lineEditFileData->setText(name);
        dataFileName = name;
    }
}

// The dialog keeps opening in the folder restored at start; the folder of
// a new choice takes effect from the next start on.
void MainWindow::SelectedFileData()
{
    const QString startDir = dataFileDir.isEmpty() ? QDir::currentPath() : dataFileDir;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open File"), startDir,
                                                      tr("Файл данных (*.bine)"));
    if (path.isEmpty())
        return;

    settings->setValue(QLatin1String(KeyDir), QFileInfo(path).path());
    settings->setValue(QLatin1String(KeyName), path);
    // Written through at once, so the choice survives a crash or a kill.
    settings->sync();
    ui->lineEditFileData->setText(path);
    dataFileName = path;
}
