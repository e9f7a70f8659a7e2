#include "portlist.h"

#include <QCoreApplication>
#include <QSerialPortInfo>

PortEntry PortEntryFor(const QSerialPortInfo &info)
{
    PortEntry entry;
    entry.name = info.portName();
    entry.description = info.description();
    QStringList lines;
    for (const QString &line : { info.description(), info.manufacturer() }) {
        if (!line.isEmpty())
            lines << line;
    }
    if (!info.serialNumber().isEmpty())
        lines << QCoreApplication::translate("MainWindow", "Серийный номер %1").arg(info.serialNumber());
    lines << info.systemLocation();
    entry.details = lines.join(QLatin1Char('\n'));
    return entry;
}

QVariant PortListModel::data(const QModelIndex &index, int role) const
{
    const QVariant value = QStandardItemModel::data(index, role);
    if (role != Qt::DisplayRole)
        return value;
    const QString description = QStandardItemModel::data(index, DescriptionRole).toString();
    if (description.isEmpty())
        return value;
    return QString(value.toString() + QStringLiteral(" — ") + description);
}
