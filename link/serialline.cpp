#include "serialline.h"

#include <QDir>
#include <QFileInfo>

namespace {

LineOpening Refused(QSerialPort &port)
{
    const LineOpening failure{port.error() == QSerialPort::NoError ? QSerialPort::UnknownError : port.error(),
                              port.errorString()};
    port.close();
    return failure;
}

} // namespace

LineOpening OpenSerialLine(QSerialPort &port, const QString &name, qint32 baud)
{
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite))
        return Refused(port);
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
