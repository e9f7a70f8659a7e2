#include "ports.h"

#include <QSerialPortInfo>

namespace {

// CreateFile takes COM10 and above only as \\.\COM10; the serial port
// and the user may give either form.
QString BareName(const QString &name)
{
    const QString upper = name.toUpper();
    return upper.startsWith(QLatin1String("\\\\.\\")) ? upper.mid(4) : upper;
}

} // namespace

QString SerialDevice(const QString &name)
{
    return BareName(name);
}

QString PortNameToOpen(const QString &name)
{
    return BareName(name);
}

// A COM number is handed out per adapter and may change when it moves to
// another socket; what the adapter says of itself stays.
QString StablePortName(const QString &name)
{
    const QSerialPortInfo info(BareName(name));
    if (info.isNull() || info.serialNumber().isEmpty())
        return QString();
    return QStringLiteral("%1 %2").arg(info.description(), info.serialNumber()).trimmed();
}

// Windows has no device files, but lists the ports that are there.
bool PortPresent(const QString &name)
{
    return !QSerialPortInfo(BareName(name)).isNull();
}

// Windows opens a COM port for one handle, with no sharing, and refuses
// a second opener by itself.
bool LockDevice(qintptr)
{
    return true;
}

// A COM port is open to every user; a refusal means another program has
// it.
bool PortForbidden(const QString &)
{
    return false;
}

QString PortAccessGroup(const QString &)
{
    return QString();
}
