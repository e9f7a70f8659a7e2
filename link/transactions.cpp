#include "devicelink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int WriteWaitMs = 200;
constexpr int ChunkLimit = 100;
constexpr int CommandAttempts = 2;
constexpr int QueryAttempts = 3;
constexpr int AckLength = 4;
constexpr quint8 StatusDone = 0x1F;

bool IsOpen(const QSerialPort *port)
{
    return port && port->isOpen();
}

bool CrcHolds(const QByteArray &reply)
{
    quint16 crc = 0xFFFF;
    for (char byte : reply)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return crc == 0;
}

// Sleeps in the event loop until some event arrives (the port's read
// notifier, the caller's own events) or the deadline timer fires, so the
// wait neither spins nor oversleeps. The timer is armed once and armed
// again only if it fired before the stopwatch passed the time-out.
void WaitForEvents(QTimer &deadline, qint64 remainingMs)
{
    if (!deadline.isActive())
        deadline.start(int(qMax<qint64>(remainingMs, 1)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

void DeviceLink::WriteRaw(const QByteArray &bytes)
{
    if (!IsOpen(port))
        return;
    port->waitForBytesWritten(WriteWaitMs);
    port->write(bytes);
    port->waitForBytesWritten(WriteWaitMs);
}

void DeviceLink::SendHexByte(quint8 byte)
{
    QByteArray pair;
    pair.append(format.hexAlphabet.at(byte >> 4));
    pair.append(format.hexAlphabet.at(byte & 0x0F));
    WriteRaw(pair);
}

// Data that do not fit in one frame are not sent at all: a truncated
// frame would carry a CRC the loader accepts for a request nobody made.
void DeviceLink::SendFrame(quint8 command, quint8 argument, const QByteArray &data)
{
    const QByteArray frame = EncodeFrame(command, argument, data);
    if (!frame.isEmpty())
        WriteRaw(frame);
}

bool DeviceLink::ReadPort(QByteArray &line)
{
    if (!IsOpen(port) || port->atEnd())
        return false;
    return AppendChunk(line, port->read(ChunkLimit));
}

bool DeviceLink::AppendChunk(QByteArray &line, const QByteArray &chunk)
{
    if (line.contains(format.replyStart)) {
        line.append(chunk);
        TraceLine("line+" + chunk);
    } else {
        const int start = chunk.indexOf(format.replyStart);
        if (start >= 0) {
            line = chunk.mid(start);
            TraceLine("line=" + line);
        }
    }
    if (!line.contains(format.lineEnd))
        return false;
    TraceLine(QByteArray());
    TraceLine("LineCode = " + line);
    return true;
}

bool DeviceLink::GetLine(QByteArray &line, int timeoutMs)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    TraceLine("Call GetLine");
    line.clear();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (stopwatch.elapsed() > timeoutMs)
            return false;
        if (ReadPort(line))
            return true;
        // Bytes already buffered are taken by the next poll without
        // waiting; a longer reply needs several polls of ChunkLimit.
        if (!IsOpen(port) || port->bytesAvailable() == 0)
            WaitForEvents(deadline, timeoutMs - stopwatch.elapsed() + 1);
    }
}

int DeviceLink::ExecCommand(quint8 command, const QByteArray &data, quint8 timeoutMs,
                            quint8 argument)
{
    if (data.size() > MaxFrameBytes)
        return LinkBadReply;
    QByteArray line;
    if (!Exchange(command, argument, data, timeoutMs, CommandAttempts, line))
        return LinkNoReply;
    QByteArray reply;
    if (DecodeLine(line, &reply) < AckLength || !CrcHolds(reply))
        return LinkBadReply;
    return quint8(reply.at(1)) == StatusDone ? LinkOk : LinkBadReply;
}

// The reply is handed out only with LinkOk; a refused or failed query
// leaves it as it was.
int DeviceLink::ExecQuery(const QByteArray &data, QByteArray *reply, quint8 command,
                          quint8 minimum, quint8 timeoutMs, quint8 argument)
{
    if (data.size() > MaxFrameBytes)
        return LinkBadReply;
    QByteArray line;
    if (!Exchange(command, argument, data, timeoutMs, QueryAttempts, line))
        return LinkNoReply;
    QByteArray decoded;
    const int count = DecodeLine(line, &decoded);
    if (count < 1 || count < minimum || !CrcHolds(decoded))
        return LinkBadReply;
    if (reply)
        *reply = decoded;
    return LinkOk;
}

// Only a missing line earns another attempt; a complete line, good or bad,
// ends the exchange.
bool DeviceLink::Exchange(quint8 command, quint8 argument, const QByteArray &data,
                          int timeoutMs, int attempts, QByteArray &line)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        DiscardInput();
        SendFrame(command, argument, data);
        if (GetLine(line, timeoutMs))
            return true;
    }
    return false;
}

// Replies carry no sequence number, so a reply that came too late for an
// earlier request would otherwise pass as the answer to this one.
// clear() drops both what QSerialPort buffered and what the driver holds.
void DeviceLink::DiscardInput()
{
    if (IsOpen(port))
        port->clear(QSerialPort::Input);
}

void DeviceLink::TraceLine(const QByteArray &text)
{
    if (trace)
        *trace << text << Qt::endl;
}
