#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "blockplan.h"
#include "fingerprint.h"
#include "imagereaders.h"
#include "recentfiles.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSettings>

namespace {

const char KeyDir[] = "dirDataFile";
const char KeyName[] = "nameDataFile";
const char KeyRecent[] = "recentFiles";
// Enough for the few images a developer switches between.
const int RecentCount = 8;

// The one local file being dragged, or nothing.
QString DraggedFile(const QMimeData *mime)
{
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).isFile() ? path : QString();
}

QString FormatText(ImageFormat format)
{
    switch (format) {
    case ImageFormat::IntelHex: return QStringLiteral("Intel HEX");
    case ImageFormat::SRecord: return QStringLiteral("S-record");
    case ImageFormat::Elf: return QStringLiteral("ELF");
    case ImageFormat::Raw: break;
    }
    return MainWindow::tr("двоичный");
}

} // namespace

// Read as a job reads it; a file that cannot be read or parsed is reported
// by the job once started. The size and time are taken first, so that a
// change during the read shows at the next look.
MainWindow::FileFacts MainWindow::ReadFileFacts(const QString &path)
{
    const QFileInfo info(path);
    FileFacts facts;
    facts.path = path;
    facts.size = info.size();
    facts.modified = info.lastModified();
    QFile file(path);
    if (facts.size > MaxImageFileBytes || !file.open(QIODevice::ReadOnly))
        return facts;
    const QByteArray bytes = file.readAll();
    if (bytes.size() != facts.size)
        return facts;
    facts.readable = true;
    facts.format = DetectFormat(path, bytes);
    const ImageResult read = ReadImage(bytes, info.fileName(), facts.format, 0);
    if (!read.Ok())
        return facts;
    facts.parsed = true;
    facts.image = read.image;
    facts.print = MakeFingerprint(bytes, read.image);
    return facts;
}

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
                                                              " (*.hex *.ihex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf"
                                                              " *.axf *.out *.bin *.bine);;")
                                                          + tr("Все файлы") + QStringLiteral(" (*)"));
    if (!path.isEmpty())
        ChooseDataFile(path);
}

// However the file was chosen, the dialog opens next in its folder, now
// and after a restart.
void MainWindow::ChooseDataFile(const QString &path)
{
    if (ProjectRefusesImage(path))
        return;
    dataFileDir = QFileInfo(path).path();
    settings->setValue(QLatin1String(KeyDir), dataFileDir);
    settings->setValue(QLatin1String(KeyName), path);
    // Written through at once, so the choice survives a crash or a kill.
    settings->sync();
    ui->lineEditFileData->setText(path);
    dataFileName = path;
    ShowFingerprint();
    RememberRecent(menuRecent, KeyRecent, RecentCount, path, fileFacts.readable, &MainWindow::ChooseDataFile);
}

// A list of the files used last, newest first, each once, kept in the
// settings under key and offered in menu; a file that would not open is
// no use there. Picking an entry opens it as open does.
void MainWindow::RememberRecent(QMenu *menu, const char *key, int count, const QString &path, bool opened,
                                OpenRecent open)
{
    settings->setValue(QLatin1String(key),
                       UpdatedRecent(settings->value(QLatin1String(key)).toStringList(), path, opened, count));
    settings->sync();
    FillRecentMenu(menu, key, open);
}

void MainWindow::FillRecentMenu(QMenu *menu, const char *key, OpenRecent open)
{
    menu->clear();
    const QStringList recent = settings->value(QLatin1String(key)).toStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent.at(i);
        QAction *action = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        connect(action, &QAction::triggered, this, [this, path, open] {
            if (!WaitingForLoader())
                (this->*open)(path);
        });
    }
    menu->setEnabled(!recent.isEmpty());
}

void MainWindow::FillRecentFiles()
{
    FillRecentMenu(menuRecent, KeyRecent, &MainWindow::ChooseDataFile);
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
// against a build's or a device's at a glance. The file is read only when
// it is not the one last read or has changed on disk since; a step of the
// boxes only counts its pages again.
void MainWindow::ShowFingerprint()
{
    const QFileInfo info(dataFileName);
    const bool known = fileFacts.path == dataFileName && fileFacts.size == info.size()
                       && fileFacts.modified == info.lastModified();
    if (!dataFileName.isEmpty() && !known) {
        fileFacts = ReadFileFacts(dataFileName);
        FlashChanged();
    }
    PreviewMap();
    if (dataFileName.isEmpty() || !fileFacts.parsed) {
        ui->labelFingerprint->clear();
        return;
    }
    // A raw file's pages run from the start address, wherever that is.
    const quint32 start = fileFacts.format == ImageFormat::Raw ? 0 : quint32(ui->spinBoxStartAddr->value());
    const int pages = PlanPages(fileFacts.image, start, quint32(ui->spinBoxSizePage->value())).size();
    ui->labelFingerprint->setText(tr("%1, %n байт, страниц: %2\nSHA-256 %3\nCRC-32 %4", nullptr, int(fileFacts.size))
                                      .arg(FormatText(fileFacts.format)).arg(pages)
                                      .arg(QString::fromLatin1(fileFacts.print.sha256), fileFacts.print.Crc32Text()));
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
