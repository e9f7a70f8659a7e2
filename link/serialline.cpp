#include "serialline.h"

#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/file.h>
#endif

namespace {

LineOpening Refused(QSerialPort &port)
{
    const LineOpening failure{port.error() == QSerialPort::NoError ? QSerialPort::UnknownError : port.error(),
                              port.errorString()};
    port.close();
    return failure;
}

// Whether another job has the device open. QSerialPort's own guards do
// not tell: TIOCEXCL does not stop root, and its lock file is named after
// the name the port was opened by, not the device. An advisory lock on the
// open file does: every name of a device leads to one inode, and the lock
// goes with the job's last descriptor, so a job that dies leaves none.
// Windows opens a COM port for one handle, with no sharing, and refuses a
// second opener by itself.
bool InUseElsewhere(QSerialPort &port)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    return false;
#else
    return ::flock(int(port.handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
#endif
}

} // namespace

LineOpening OpenSerialLine(QSerialPort &port, const QString &name, qint32 baud)
{
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite))
        return Refused(port);
    if (InUseElsewhere(port)) {
        port.close();
        return {QSerialPort::PermissionError, QStringLiteral("%1 is in use by another job").arg(SerialDevice(name))};
    }
    if (!port.setBaudRate(baud) || !port.setDataBits(QSerialPort::Data8) || !port.setParity(QSerialPort::NoParity)
        || !port.setStopBits(QSerialPort::OneStop))
        return Refused(port);
    port.setDataTerminalReady(true);
    port.setRequestToSend(true);
    port.setDataTerminalReady(false);
    // The error of a pulse refused, or of a port lost before, must not
    // pass for a new loss.
    port.clearError();
    return LineOpening();
}

QString SerialDevice(const QString &name)
{
#ifdef Q_OS_WIN
    QString device = name.toUpper();
    return device.startsWith(QLatin1String("\\\\.\\")) ? device.mid(4) : device;
#else
    const QFileInfo file(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
    const QString device = file.canonicalFilePath();
    return device.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : device;
#endif
}

QString StablePortName(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return QString();
#else
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    const QDir byPath(QStringLiteral("/dev/serial/by-path"));
    for (const QFileInfo &entry : byPath.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.canonicalFilePath() == device)
            return entry.absoluteFilePath();
    }
    return QString();
#endif
}
