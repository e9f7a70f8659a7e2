#ifndef PORTLIST_H
#define PORTLIST_H

#include <QStandardItemModel>
#include <QString>

class QSerialPortInfo;

// One serial port as the port selector offers it.
struct PortEntry
{
    QString name;           // what the port is opened by
    QString description;    // the system's name for the adapter; may be empty
    QString details;        // description, maker, serial number and device path

    bool operator==(const PortEntry &other) const
    {
        return name == other.name && description == other.description && details == other.details;
    }
    bool operator!=(const PortEntry &other) const { return !(*this == other); }
};

PortEntry PortEntryFor(const QSerialPortInfo &info);

// The port selector's items: the list shows each port with its adapter's
// description, while the edit field, and so the port opened, keeps the
// bare name (an editable combo box takes its text from the edit role).
class PortListModel : public QStandardItemModel
{
public:
    static constexpr int DescriptionRole = Qt::UserRole + 1;

    using QStandardItemModel::QStandardItemModel;
    QVariant data(const QModelIndex &index, int role) const override;
};

#endif // PORTLIST_H
