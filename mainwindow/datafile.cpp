#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "blockplan.h"
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

// What the window says of the chosen file.
struct FileFacts
{
    ImageFormat format = ImageFormat::Raw;
    qint64 size = 0;
    FirmwareImage image;
    Fingerprint print;
};

// Read as a job reads it, a raw file placed at rawStart; nothing when the
// file cannot be read or parsed, which the job reports once started.
std::optional<FileFacts> ReadFileFacts(const QString &path, quint32 rawStart)
{
    QFile file(path);
    if (file.size() > MaxImageFileBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    FileFacts facts;
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        return std::nullopt;
    facts.format = DetectFormat(path, bytes);
    const ImageResult read = ReadImage(bytes, QFileInfo(path).fileName(), facts.format, rawStart);
    if (!read.Ok())
        return std::nullopt;
    facts.size = bytes.size();
    facts.image = read.image;
    facts.print = MakeFingerprint(bytes, read.image);
    return facts;
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
    dataFileDir = QFileInfo(path).path();
    settings->setValue(QLatin1String(KeyDir), dataFileDir);
    settings->setValue(QLatin1String(KeyName), path);
    // Written through at once, so the choice survives a crash or a kill.
    settings->sync();
    ui->lineEditFileData->setText(path);
    dataFileName = path;
    RememberRecent(path);
    ShowFingerprint();
}

// The files used last, newest first, each once, for the File menu.
void MainWindow::RememberRecent(const QString &path)
{
    QStringList recent = settings->value(QLatin1String(KeyRecent)).toStringList();
    recent.removeAll(path);
    recent.prepend(path);
    recent = recent.mid(0, RecentCount);
    settings->setValue(QLatin1String(KeyRecent), recent);
    settings->sync();
    FillRecentMenu();
}

void MainWindow::FillRecentMenu()
{
    menuRecent->clear();
    const QStringList recent = settings->value(QLatin1String(KeyRecent)).toStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent.at(i);
        QAction *action = menuRecent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        connect(action, &QAction::triggered, this, [this, path] {
            if (!WaitingForLoader())
                ChooseDataFile(path);
        });
    }
    menuRecent->setEnabled(!recent.isEmpty());
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
    const quint32 start = quint32(ui->spinBoxStartAddr->value());
    const std::optional<FileFacts> facts = dataFileName.isEmpty() ? std::nullopt : ReadFileFacts(dataFileName, start);
    if (!facts) {
        ui->labelFingerprint->clear();
        return;
    }
    const int pages = PlanPages(facts->image, start, quint32(ui->spinBoxSizePage->value())).size();
    ui->labelFingerprint->setText(tr("%1, %2 байт, страниц: %3\nSHA-256 %4\nCRC-32 %5")
                                      .arg(FormatText(facts->format)).arg(facts->size).arg(pages)
                                      .arg(QString::fromLatin1(facts->print.sha256), facts->print.Crc32Text()));
}

// No file changes while the loader is waited for, as neither the file
// button nor the File menu can be reached then.
void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!WaitingForLoader() && !DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = DraggedFile(event->mimeData());
    if (path.isEmpty() || WaitingForLoader())
        return;
    ChooseDataFile(path);
    event->acceptProposedAction();
}
