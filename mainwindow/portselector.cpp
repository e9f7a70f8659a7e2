#include "mainwindow.h"

#include "fitwidth.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSignalBlocker>

#include <utility>

namespace {

const char KeyPort[] = "portName";
const char KeyBaud[] = "baudRate";

void SetPortText(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findData(text, Qt::EditRole));
    box->setEditText(text);
}

} // namespace

// Editable, so that a port the system does not list (a USB adapter's
// device path, a pseudo-terminal) can be typed in. Return connects rather
// than adding what was typed to the list.
void MainWindow::SetUpPortSelector()
{
    comboBoxPort->setEditable(true);
    comboBoxPort->setModel(new PortListModel(comboBoxPort));
    comboBoxPort->setInsertPolicy(QComboBox::NoInsert);
    comboBoxPort->lineEdit()->setPlaceholderText(tr("имя порта"));
    connect(comboBoxPort, &QComboBox::editTextChanged, this, &MainWindow::PortTextChanged);
    connect(comboBoxPort->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (actionConnect->isEnabled())
            OpenPort();
    });
}

QVector<PortEntry> MainWindow::ListPorts() const
{
    QVector<PortEntry> entries;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        entries << PortEntryFor(info);
    return entries;
}

// Follows adapters plugged in and pulled out while no port is open (a
// job's waits for the loader would run the listing too). What the user
// typed or chose stays, listed or not, with the cursor where it was; the
// list is left alone while it is open under the user's hand.
void MainWindow::RefreshPorts()
{
    if (!comboBoxPort->isEnabled() || comboBoxPort->view()->isVisible())
        return;
    const QVector<PortEntry> entries = ListPorts();
    if (entries == portEntries)
        return;
    portEntries = entries;

    QLineEdit *edit = comboBoxPort->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    {
        const QSignalBlocker blocker(comboBoxPort);
        comboBoxPort->clear();
        for (const PortEntry &entry : entries) {
            comboBoxPort->addItem(entry.name);
            const int row = comboBoxPort->count() - 1;
            comboBoxPort->setItemData(row, entry.description, PortListModel::DescriptionRole);
            comboBoxPort->setItemData(row, entry.details, Qt::ToolTipRole);
        }
        SetPortText(comboBoxPort, text);
        edit->setCursorPosition(cursor);
    }
    PortTextChanged(text);
}

// The port and speed of the last connection that opened, else the first
// port listed.
void MainWindow::RestorePort()
{
    QString port = settings->value(QLatin1String(KeyPort)).toString();
    if (port.isEmpty() && comboBoxPort->count() > 0)
        port = comboBoxPort->itemText(0);
    SetPortText(comboBoxPort, port);
    const int speed = comboBoxBaud->findText(settings->value(QLatin1String(KeyBaud)).toString());
    if (speed >= 0)
        comboBoxBaud->setCurrentIndex(speed);
}

void MainWindow::RememberPort()
{
    settings->setValue(QLatin1String(KeyPort), comboBoxPort->currentText().trimmed());
    settings->setValue(QLatin1String(KeyBaud), comboBoxBaud->currentText());
    settings->sync();
}

// The tip describes the adapter behind the port shown; the box grows to
// show the longest name it holds, typed or listed, and its list to show
// every description whole.
void MainWindow::PortTextChanged(const QString &text)
{
    QString tip;
    QStringList names = { text, comboBoxPort->lineEdit()->placeholderText() };
    for (const PortEntry &entry : std::as_const(portEntries)) {
        names << entry.name;
        if (entry.name == text)
            tip = entry.details;
    }
    comboBoxPort->setToolTip(tip);
    FitComboBox(comboBoxPort, names);
    comboBoxPort->view()->setMinimumWidth(comboBoxPort->view()->sizeHintForColumn(0));
}
