#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "programmingjob.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>

namespace {

const char KeyRecentProjects[] = "recentProjects";
const char KeyProjectDir[] = "dirProject";
const int RecentProjectCount = 8;

QString Address(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

QString Filter()
{
    return MainWindow::tr("Проект Tamrivo") + QStringLiteral(" (*.tamrivo)");
}

// Empty when the image file with this SHA-256 is the project's.
QString ChangedText(const Project &project, const QByteArray &sha256)
{
    if (ImageChanged(project, sha256).isEmpty())
        return QString();
    return MainWindow::tr("Образ %1 изменён после сохранения проекта %2:\nSHA-256 сейчас %3..., в проекте %4...")
        .arg(QDir::toNativeSeparators(ImagePath(project)), QDir::toNativeSeparators(project.file),
             QString::fromLatin1(sha256.left(12)), QString::fromLatin1(project.sha256.left(12)));
}

} // namespace

void MainWindow::CreateProjectMenu(QMenu *menuFile)
{
    menuFile->addSeparator();
    menuFile->addAction(tr("Открыть проект..."), this, &MainWindow::OpenProject)->setObjectName("actionOpenProject");
    menuFile->addAction(tr("Сохранить проект..."), this, &MainWindow::SaveProjectAs)->setObjectName("actionSaveProject");
    actionCloseProject = menuFile->addAction(tr("Закрыть проект"), this, &MainWindow::CloseProject);
    actionCloseProject->setObjectName(QStringLiteral("actionCloseProject"));
    actionCloseProject->setEnabled(false);
    menuRecentProjects = menuFile->addMenu(tr("Недавние проекты"));
    menuRecentProjects->setObjectName(QStringLiteral("menuRecentProjects"));
}

void MainWindow::OpenProject()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Открытие проекта"),
                                                      settings->value(QLatin1String(KeyProjectDir)).toString(), Filter());
    if (!path.isEmpty())
        OpenProjectFile(path);
}

// The project's image and settings take the window's place; only a project
// whose image is the one it was saved with opens, and only such a project
// is offered again.
void MainWindow::OpenProjectFile(const QString &path)
{
    Project opened;
    QString error = LoadProject(path, &opened);
    QFile image(ImagePath(opened));
    if (error.isEmpty() && !image.open(QIODevice::ReadOnly))
        error = QDir::toNativeSeparators(ImagePath(opened)) + QStringLiteral("\n") + image.errorString();
    else if (error.isEmpty())
        error = ChangedText(opened, Sha256Hex(image.readAll()));
    if (!error.isEmpty()) {
        RememberRecent(menuRecentProjects, KeyRecentProjects, RecentProjectCount, QFileInfo(path).absoluteFilePath(),
                       false, &MainWindow::OpenProjectFile);
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удается открыть проект\n%1").arg(error), QMessageBox::Ok);
        return;
    }
    project = opened;
    vectorTableAccepted = false;
    const Geometry &geometry = opened.geometry;
    ui->spinBoxStartAddr->setValue(int(qMin<quint32>(geometry.start, INT_MAX)));
    ui->spinBoxEndAddr->setValue(int(qMin<quint32>(geometry.end, INT_MAX)));
    ui->spinBoxSizePage->setValue(int(geometry.pageSize));
    ui->checkBoxSkipUnchanged->setChecked(opened.skipUnchanged);
    ChooseDataFile(ImagePath(opened));
    settings->setValue(QLatin1String(KeyProjectDir), QFileInfo(path).absolutePath());
    RememberRecent(menuRecentProjects, KeyRecentProjects, RecentProjectCount, opened.file, true,
                   &MainWindow::OpenProjectFile);
    ShowProject();
    const QString lineError = SetLine(LineFromProject(opened));
    if (!lineError.isEmpty())
        QMessageBox::warning(this, tr("Ошибка"), tr("Не удается открыть базу записей линии\n%1").arg(lineError),
                             QMessageBox::Ok);
}

void MainWindow::SaveProjectAs()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Сохранение проекта"),
                                                      settings->value(QLatin1String(KeyProjectDir)).toString(), Filter());
    if (!path.isEmpty())
        SaveProjectFile(path.endsWith(QLatin1String(".tamrivo")) ? path : path + QStringLiteral(".tamrivo"));
}

// The window's image and settings, with the serial numbers, store and
// station of the project open, if any; the window always writes 64-byte
// blocks, the first block last. The saved project is the one open then.
void MainWindow::SaveProjectFile(const QString &path)
{
    TakeTypedFile();
    if (dataFileName.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не выбран файл данных"), QMessageBox::Ok);
        return;
    }
    Project saved = project.value_or(Project());
    saved.file = QFileInfo(path).absoluteFilePath();
    saved.image = QFileInfo(dataFileName).absoluteFilePath();
    saved.geometry = Geometry{quint32(ui->spinBoxStartAddr->value()), quint32(ui->spinBoxEndAddr->value()),
                              quint32(ui->spinBoxSizePage->value())};
    saved.blockSize = ProgrammingJob::DefaultBlockSize;
    saved.skipUnchanged = ui->checkBoxSkipUnchanged->isChecked();
    saved.firstBlockLast = true;
    const QString error = SaveProject(path, saved);
    if (!error.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удается сохранить проект\n%1").arg(error), QMessageBox::Ok);
        return;
    }
    OpenProjectFile(path);
}

void MainWindow::CloseProject()
{
    project.reset();
    SetLine(std::nullopt);
    ShowProject();
}

void MainWindow::FillRecentProjects()
{
    FillRecentMenu(menuRecentProjects, KeyRecentProjects, &MainWindow::OpenProjectFile);
}

// The project's name in the title, behind a job's progress too.
QString MainWindow::IdleTitle() const
{
    return project ? QStringLiteral("%1 — Tamrivo").arg(QFileInfo(project->file).completeBaseName())
                   : QStringLiteral("Tamrivo");
}

// While a project is open its image stays.
void MainWindow::ShowProject()
{
    setWindowTitle(IdleTitle());
    ui->lineEditFileData->setEnabled(!project);
    ui->pushButtonFileData->setEnabled(!project && !WaitingForLoader());
    actionCloseProject->setEnabled(project.has_value());
}

// Another image than the project's, however chosen (the dialog, the
// recent files, a drop), waits until the project is closed.
bool MainWindow::ProjectRefusesImage(const QString &path)
{
    if (!project || QFileInfo(path).absoluteFilePath() == ImagePath(*project))
        return false;
    labelJobStatus->setText(tr("Открыт проект: образ меняется только после «Закрыть проект»"));
    return true;
}

// Before anything is erased: the project's very image, on the device it
// is for, and a vector table that starts, or the user's word that the
// image is meant as it is.
bool MainWindow::ProjectAllowsWrite(const JobPlan &plan)
{
    if (!project)
        return true;
    const Geometry &want = project->geometry;
    QString refusal = ChangedText(*project, plan.sha256);
    if (refusal.isEmpty() && !deviceGeometry)
        refusal = tr("Прибор не сообщил параметры flash: не проверить, тот ли это прибор, для которого проект");
    else if (refusal.isEmpty() && !GeometryMisfit(want, *deviceGeometry).isEmpty())
        refusal = tr("Прибор не тот, для которого проект:\nприбор сообщает flash %1 – %2 страницами по %3 байт,\n"
                     "проект рассчитан на %4 – %5 страницами по %6 байт")
                      .arg(Address(deviceGeometry->start), Address(deviceGeometry->end)).arg(deviceGeometry->pageSize)
                      .arg(Address(want.start), Address(want.end)).arg(want.pageSize);
    if (!refusal.isEmpty()) {
        QMessageBox::critical(this, tr("Ошибка"), refusal, QMessageBox::Ok);
        return false;
    }
    const Geometry geometry{plan.start, quint32(ui->spinBoxEndAddr->value()), plan.pageSize};
    const VectorTable table = ReadVectorTable(plan.image, geometry);
    const QString stack = Address(table.stack), reset = Address(table.reset);
    QString problem;
    if (vectorTableAccepted)
        return true;
    switch (table.verdict) {
    case VectorTable::Fine:
        return true;
    case VectorTable::StackErased:
        problem = tr("Указатель стека по адресу %1 — стёртая flash (0xffffffff): в образе нет таблицы векторов")
                      .arg(Address(plan.start));
        break;
    case VectorTable::StackUnaligned:
        problem = tr("Указатель стека %1 не кратен 4").arg(stack);
        break;
    case VectorTable::StackInFlash:
        problem = tr("Указатель стека %1 лежит во flash (%2 – %3), а стек должен лежать в ОЗУ")
                      .arg(stack, Address(geometry.start), Address(geometry.end));
        break;
    case VectorTable::ResetEven:
        problem = tr("Адрес обработчика сброса %1 чётный: код Cortex-M выполняется по нечётным адресам (Thumb)").arg(reset);
        break;
    case VectorTable::ResetBelowStart:
        problem = table.linkedFor
            ? tr("Обработчик сброса %1 лежит ниже начального адреса %2: образ, видимо, собран для адреса %3")
                  .arg(reset, Address(plan.start), Address(*table.linkedFor))
            : tr("Обработчик сброса %1 лежит ниже начального адреса %2: образ, видимо, собран для другого адреса")
                  .arg(reset, Address(plan.start));
        break;
    case VectorTable::ResetOutside:
        problem = tr("Обработчик сброса %1 лежит там, где образ ничего не записывает (%2 – %3)")
                      .arg(reset, Address(plan.image.LowestAddress()), Address(plan.image.HighestAddress()));
        break;
    }
    // Asked once for the project: a line does not stop at every board.
    vectorTableAccepted = QMessageBox::warning(this, tr("Внимание"), problem + QStringLiteral("\n\n") + tr("Записать всё равно?"),
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
    return vectorTableAccepted;
}
