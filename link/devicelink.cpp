#include "devicelink.h"

#include <QTextStream>

namespace {

QTextStream &StandardOutput()
{
    static QTextStream out(stdout);
    return out;
}

} // namespace

DeviceLink::DeviceLink()
    : trace(&StandardOutput())
{
    FrameFormat installed;
    installed.hexAlphabet = "0123456789ABCDEF";
    installed.requestStart = '#';
    installed.replyStart = '^';
    installed.lineEnd = '\r';
    SetFrameFormat(installed);
}

void DeviceLink::SetFrameFormat(const FrameFormat &newFormat)
{
    format = newFormat;
}

void DeviceLink::SetPort(QSerialPort *newPort)
{
    port = newPort;
}

void DeviceLink::SetTrace(QTextStream *stream)
{
    trace = stream;
}
