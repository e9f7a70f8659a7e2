#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicelink.h"
#include "ports.h"
#include "serialline.h"
#include "windowtexts.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QSerialPort>

namespace {

// The serial port reports a port locked by another program as a
// permission error too; only the device's own rights tell them apart.
PortRefusal RefusalOf(int error, const QString &port)
{
    if (error != QSerialPort::PermissionError)
        return PortRefusal::Other;
    return PortForbidden(port) ? PortRefusal::NoAccess : PortRefusal::InUse;
}

} // namespace

void MainWindow::OpenPort()
{
    // A connect that slipped in while a job or the parameter query is
    // ending would start a second conversation inside the first.
    if (WaitingForLoader())
        return;
    const QString name = comboBoxPort->currentText().trimmed();
    // The line runs at the speed the selector shows, so the selector never
    // lies; a port that refuses it is not connected.
    const LineOpening opening = OpenSerialLine(*serialPort, name, comboBoxBaud->currentText().toInt());
    if (!opening.Ok()) {
        QMessageBox::critical(this, tr("Ошибка"),
                              OpenFailureText(name, opening.reason, RefusalOf(opening.error, name), PortAccessGroup(name)),
                              QMessageBox::Ok);
        return;
    }
    RememberPort();
    portLost = false;
    // A new device: what the last job on the last one came to is no news,
    // on the status bar, in the differences and on the map.
    labelJobStatus->clear();
    FlashChanged();

    actionConnect->setEnabled(false);
    actionDisconnect->setEnabled(true);
    comboBoxPort->setEnabled(false);
    comboBoxBaud->setEnabled(false);

    QueryFlashParams();
    PreviewMap();
}

// Offers the device's own geometry for the settings boxes. A silent or
// confused device leaves the port open, as the user may still type the
// values, but the user is told: a wrong port, a wrong speed and a device
// without power all look like this.
void MainWindow::QueryFlashParams()
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
    queryRunning = true;
    SetWaitingForLoader(true);
    deviceGeometry.reset();
    const int result = deviceLink->ReadFlashParams(&start, &end, &pageSize);
    queryRunning = false;
    SetWaitingForLoader(false);
    if (portLost) {
        PortLost(QString());
        return;
    }
    // Closed by the user while waiting: nothing to tell.
    if (!serialPort->isOpen())
        return;
    if (result != LinkOk) {
        QMessageBox::warning(this, tr("Внимание"),
                             NoAnswerText(comboBoxPort->currentText().trimmed(), int(serialPort->baudRate()),
                                          result),
                             QMessageBox::Ok);
        return;
    }
    deviceGeometry = Geometry{start, end, pageSize};

    const QString text = QString::asprintf(
        tr("Считаны следующие параметры flash\nStart addr 0x%x\nEnd addr 0x%x\nSize Page %d\n\n"
           "Применить их ?").toUtf8().constData(),
        start, end, int(pageSize));
    const auto answer = QMessageBox::information(this, tr("Внимание"), text,
                                                 QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;

    // Values outside a box's range are clamped by the box itself.
    ui->spinBoxStartAddr->setValue(int(qMin<quint32>(start, INT_MAX)));
    ui->spinBoxEndAddr->setValue(int(qMin<quint32>(end, INT_MAX)));
    ui->spinBoxSizePage->setValue(int(pageSize));
}

// A disconnect during a job or the parameter query ends it at its next
// wait for the loader; until then no connect can begin, and a job keeps
// its own buttons.
void MainWindow::ClosePort()
{
    FlashChanged();
    if (serialPort->isOpen()) {
        serialPort->setDataTerminalReady(true);
        serialPort->setRequestToSend(false);
        serialPort->setDataTerminalReady(false);
        serialPort->close();
    }

    // The settings group stays usable: the user may always type the geometry.
    actionConnect->setEnabled(!WaitingForLoader());
    actionDisconnect->setEnabled(false);
    comboBoxPort->setEnabled(true);
    comboBoxBaud->setEnabled(true);
    if (jobRunning)
        return;
    ui->pushButtonCansel->setEnabled(false);
    EnableDeviceJobs(false);
    RefreshPorts();
}

// A port whose adapter was unplugged, or whose device closed the line,
// reports its error on every turn of the event loop for as long as it
// stays open, so it is closed at once. A command in flight then ends
// with the port lost and its caller tells the user; otherwise it is told
// here.
void MainWindow::PortError(int error)
{
    if (!DeviceLink::IsDeadPortError(error) || !serialPort->isOpen())
        return;
    portLost = true;
    serialPort->close();
    // A line waiting for its next board takes a port gone for a board gone.
    if (!jobRunning && !queryRunning && boardWait == BoardWait::Off)
        PortLost(QString());
}

// Back to the disconnected state, saying which port, so the user can plug
// in and connect again without guessing. What failed comes first, if
// anything.
void MainWindow::PortLost(const QString &failure)
{
    const QString name = comboBoxPort->currentText();
    ClosePort();
    QString text = QString::asprintf(tr("Связь через порт %s потеряна").toUtf8().constData(),
                                     name.toUtf8().constData());
    if (!failure.isEmpty())
        text = failure + QStringLiteral("\n\n") + text;
    QMessageBox::critical(this, tr("Ошибка"), text, QMessageBox::Ok);
}
