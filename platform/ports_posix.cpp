#include "ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/file.h>
#include <unistd.h>

namespace {

// A bare name lives in /dev, as the serial port takes it; anything with a
// slash is a path.
QString DevicePath(const QString &name)
{
    return name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

} // namespace

QString SerialDevice(const QString &name)
{
    const QFileInfo file(DevicePath(name));
    const QString device = file.canonicalFilePath();
    return device.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : device;
}

QString PortNameToOpen(const QString &name)
{
    return name;
}

QString StablePortName(const QString &name)
{
    const QString device = QFileInfo(DevicePath(name)).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    const QDir byPath(QStringLiteral("/dev/serial/by-path"));
    for (const QFileInfo &entry : byPath.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.canonicalFilePath() == device)
            return entry.absoluteFilePath();
    }
    return QString();
}

bool PortPresent(const QString &name)
{
    return QFileInfo::exists(DevicePath(name));
}

// The serial port's own guards do not do this: TIOCEXCL does not stop
// root, and its lock file is named after the name the port was opened by,
// not the device. An advisory lock on the open file does: every name of a
// device leads to one inode.
bool LockDevice(qintptr handle)
{
    return ::flock(int(handle), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

bool PortForbidden(const QString &name)
{
    const QByteArray path = QFile::encodeName(DevicePath(name));
    return ::access(path.constData(), R_OK | W_OK) != 0;
}

QString PortAccessGroup(const QString &name)
{
    const QString group = QFileInfo(DevicePath(name)).group();
    return group.isEmpty() || group == QLatin1String("root") ? QStringLiteral("dialout") : group;
}
