#include "serialline.h"

#include "ports.h"

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
    port.setPortName(PortNameToOpen(name));
    if (!port.open(QIODevice::ReadWrite))
        return Refused(port);
    if (!LockDevice(qintptr(port.handle()))) {
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
