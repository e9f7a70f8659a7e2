#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "fingerprint.h"
#include "imagereaders.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSettings>

#include <optional>

namespace {

const char KeyDir[] = "dirDataFile";
const char KeyName[] = "nameDataFile";

// The one local file being dragged, or nothing.
QString DraggedFile(const QMimeData *mime)
{
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).isFile() ? path : QString();
}

// Read as a job reads it, a raw file placed at rawStart; nothing when the
// file cannot be read or parsed, which the job reports once started.
std::optional<Fingerprint> ReadFingerprint(const QString &path, quint32 rawStart)
{
    QFile file(path);
    if (file.size() > MaxImageFileBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        return std::nullopt;
    const ImageResult read = ReadImage(bytes, QFileInfo(path).fileName(), DetectFormat(path, bytes), rawStart);
    if (!read.Ok())
        return std::nullopt;
    return MakeFingerprint(bytes, read.image);
}

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
    ShowFingerprint();
}

void MainWindow::SelectedFileData()
{
    const QString startDir = dataFileDir.isEmpty() ? QDir::currentPath() : dataFileDir;
    const QString path = QFileDialog::getOpenFileName(this, tr("Выбор файла данных"), startDir,
                                                      tr("Файл данных (*.bine)") + QStringLiteral(";;")
                                                          + tr("Образы прошивки") + QStringLiteral(
                                                              " (*.hex *.ihex *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;")
                                                          + tr("Все файлы") + QStringLiteral(" (*)"));
    if (!path.isEmpty())
        ChooseDataFile(path);
}

// However the file was chosen, the dialog opens next in its folder, now
// and after a restart.
void MainWindow::ChooseDataFile(const QString &path)
{
    dataFileDir = QFileInfo(path).path();
    settings->setValue(QLatin1String(KeyDir), dataFileDir);
    settings->setValue(QLatin1String(KeyName), path);
    // Written through at once, so the choice survives a crash or a kill.
    settings->sync();
    ui->lineEditFileData->setText(path);
    dataFileName = path;
    ShowFingerprint();
}

// A path typed or pasted into the field is taken as if chosen in the
// dialog; a relative one is taken from the current folder.
void MainWindow::TakeTypedFile()
{
    const QString text = ui->lineEditFileData->text().trimmed();
    if (text == dataFileName)
        return;
    if (text.isEmpty()) {
        dataFileName.clear();
        settings->remove(QLatin1String(KeyName));
        ShowFingerprint();
        return;
    }
    ChooseDataFile(QFileInfo(text).absoluteFilePath());
}

// The file's SHA-256 and the CRC-32 of the flash it fills, to hold
// against a build's or a device's at a glance.
void MainWindow::ShowFingerprint()
{
    const std::optional<Fingerprint> print = dataFileName.isEmpty()
        ? std::nullopt
        : ReadFingerprint(dataFileName, quint32(ui->spinBoxStartAddr->value()));
    ui->labelFingerprint->setText(
        print ? tr("SHA-256 %1\nCRC-32 %2").arg(QString::fromLatin1(print->sha256), print->Crc32Text()) : QString());
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = DraggedFile(event->mimeData());
    if (path.isEmpty())
        return;
    ChooseDataFile(path);
    event->acceptProposedAction();
}
