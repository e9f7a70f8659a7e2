#include "devicelink.h"

#include <QtEndian>

namespace {

enum : quint8 {
    CommandParams = 0xA3,
    ArgumentParams = 0x01,
    CommandErase = 0x21,
    CommandBlock = 0x64,
    ArgumentChange = 0x12,
    ArgumentRead = 0x02
};

constexpr quint8 ParamsTimeoutMs = 200;
constexpr quint8 FlashTimeoutMs = 208;
// Leading byte, status, start, end, page size and CRC: the whole reply,
// so that no CRC byte is ever read as part of a value.
constexpr quint8 ParamsReplyLength = 14;
// Leading byte and status before the data, the CRC after them.
constexpr int ReadFraming = 4;

// Address and count, little-endian, as every flash command begins.
QByteArray Header(quint32 address, quint16 count)
{
    QByteArray header(6, '\0');
    qToLittleEndian<quint32>(address, header.data());
    qToLittleEndian<quint16>(count, header.data() + 4);
    return header;
}

// A command runs its transaction once more when the first did not succeed,
// whatever the failure, and takes the second result as it is.
template <typename Transaction>
int RunTwice(Transaction transaction)
{
    const int result = transaction();
    return result == LinkOk ? result : transaction();
}

} // namespace

int DeviceLink::ReadFlashParams(quint32 *startAddr, quint32 *endAddr, quint32 *sizePage)
{
    QByteArray reply;
    const int result = RunTwice([&] {
        return ExecQuery(QByteArray(), &reply, CommandParams, ParamsReplyLength,
                         ParamsTimeoutMs, ArgumentParams);
    });
    if (result != LinkOk)
        return result;
    const char *values = reply.constData() + 2;
    if (startAddr)
        *startAddr = qFromLittleEndian<quint32>(values);
    if (endAddr)
        *endAddr = qFromLittleEndian<quint32>(values + 4);
    if (sizePage)
        *sizePage = qFromLittleEndian<quint16>(values + 8);
    return LinkOk;
}

int DeviceLink::ErasePage(quint32 address, quint16 count)
{
    const QByteArray request = Header(address, count);
    return RunTwice([&] {
        return ExecCommand(CommandErase, request, FlashTimeoutMs, ArgumentChange);
    });
}

// Lengths that cannot fit one frame are refused like a length beyond the
// data: nothing is sent, so the loader never sees a clipped block.
int DeviceLink::WriteBlock(const QByteArray &data, quint32 address, int length)
{
    if (length < 0 || length > MaxWriteBlock || length > data.size())
        return LinkBadReply;
    const QByteArray request = Header(address, quint16(length)) + data.left(length);
    return RunTwice([&] {
        return ExecCommand(CommandBlock, request, FlashTimeoutMs, ArgumentChange);
    });
}

// The reply must hold the CRC after the requested bytes, so the CRC is
// never handed out as data and the output has exactly length bytes.
int DeviceLink::ReadBlock(QByteArray *out, quint32 address, int length)
{
    if (length < 0 || length > MaxReadBlock)
        return LinkBadReply;
    const QByteArray request = Header(address, quint16(length));
    QByteArray reply;
    const int result = RunTwice([&] {
        return ExecQuery(request, &reply, CommandBlock, quint8(length + ReadFraming),
                         FlashTimeoutMs, ArgumentRead);
    });
    if (result != LinkOk)
        return result;
    if (out)
        *out = reply.mid(2, length);
    return LinkOk;
}
