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

} // namespace

// A command runs its transaction once more when the first did not succeed
// and takes the second result as it is; not when the port is gone or the
// device would not stop talking, nor when a resent frame was refused,
// which a third frame will not change.
template <typename Transaction>
int DeviceLink::Repeat(Transaction transaction)
{
    resending = false;
    commandFrames = 0;
    int result = transaction();
    if (result != LinkOk && result != LinkPortLost && result != LinkOutOfTurn && !resentRefused) {
        resending = true;
        result = transaction();
        resending = false;
    }
    return result;
}

int DeviceLink::ReadFlashParams(quint32 *startAddr, quint32 *endAddr, quint32 *sizePage)
{
    QByteArray reply;
    const int result = Repeat([&] {
        return ExecQuery(QByteArray(), &reply, CommandParams, ParamsReplyLength,
                         ParamsTimeoutMs, ArgumentParams);
    });
    if (result != LinkOk)
        return result;
    // Only a reply that can answer nothing but this query may later prove
    // the link in step.
    if (inStep)
        proof.SetKnownReply(reply);
    const char *values = reply.constData() + 2;
    if (startAddr)
        *startAddr = qFromLittleEndian<quint32>(values);
    if (endAddr)
        *endAddr = qFromLittleEndian<quint32>(values + 4);
    if (sizePage)
        *sizePage = qFromLittleEndian<quint16>(values + 8);
    return LinkOk;
}

// The probe of a resync: the parameter query, whose reply the link knows
// byte for byte and no block request in a job draws.
void DeviceLink::SendProbe()
{
    SendFrame(CommandParams, ArgumentParams, QByteArray());
}

int DeviceLink::ErasePage(quint32 address, quint16 count)
{
    const QByteArray request = Header(address, count);
    return Repeat([&] {
        return ExecCommand(CommandErase, request, FlashTimeoutMs, ArgumentChange);
    });
}

// Lengths that cannot fit one frame are refused like a length beyond the
// data: nothing is sent, so the loader never sees a clipped block.
int DeviceLink::WriteBlock(const QByteArray &data, quint32 address, int length)
{
    if (length < 0 || length > MaxWriteBlock || length > data.size())
        return LinkBadReply;
    const QByteArray block = data.left(length);
    const QByteArray request = Header(address, quint16(length)) + block;
    const int result = Repeat([&] {
        return ExecCommand(CommandBlock, request, FlashTimeoutMs, ArgumentChange);
    });
    // A frame sent again after a lost or garbled acknowledgement may find
    // its first copy already written, and flash that cannot program a cell
    // twice refuses it. Whether the block is in, only the flash can tell.
    if ((result == LinkRefused || result == LinkBadReply) && commandFrames > 1
        && FlashHolds(block, address))
        return LinkOk;
    return result;
}

bool DeviceLink::FlashHolds(const QByteArray &block, quint32 address)
{
    QByteArray stored;
    return ReadBlock(&stored, address, block.size()) == LinkOk && stored == block;
}

// The reply must hold exactly the requested bytes between status and CRC:
// a reply of any other length answers some other request.
int DeviceLink::ReadBlock(QByteArray *out, quint32 address, int length)
{
    if (length < 0 || length > MaxReadBlock)
        return LinkBadReply;
    const QByteArray request = Header(address, quint16(length));
    QByteArray reply;
    const int result = Repeat([&] {
        return ExecQuery(request, &reply, CommandBlock, quint8(length + ReadFraming),
                         FlashTimeoutMs, ArgumentRead);
    });
    if (result != LinkOk)
        return result;
    if (out)
        *out = reply.mid(2, length);
    return LinkOk;
}

int DeviceLink::EraseChars()
{
    return WireChars(Header(0, 1).size(), 4);
}

int DeviceLink::WriteChars(int length)
{
    return WireChars(Header(0, 0).size() + length, 4);
}

int DeviceLink::ReadChars(int length)
{
    return WireChars(Header(0, 0).size(), length + ReadFraming);
}

int DeviceLink::ParamsChars()
{
    return WireChars(0, ParamsReplyLength);
}

int DeviceLink::ConfirmQuietMs(int readLength, qint32 baud)
{
    return AttemptMs(Header(0, 0).size(), readLength + ReadFraming, FlashTimeoutMs, baud);
}

int DeviceLink::ConfirmQuiet(int readLength)
{
    const Request read{CommandBlock, ArgumentRead, Header(0, quint16(readLength)), FlashTimeoutMs, 1,
                       readLength + ReadFraming, false};
    if (!Heard(AttemptMs(read)))
        return PortGone() ? LinkPortLost : LinkOk;
    Stray();
    TraceLine("Stray reply");
    inStep = false;
    const int result = Resync(read);
    return result == LinkPortLost ? LinkPortLost : LinkOutOfTurn;
}

int DeviceLink::ReadReplyLength(int length)
{
    return length + ReadFraming;
}

int DeviceLink::FreshReadLength(quint32 address, int room, int maxLength) const
{
    QVector<int> others;
    for (const Sent &sent : recentRequests) {
        const int length = sent.replyLength - ReadFraming;
        const bool same = length >= 0
                          && sent.request == RequestKey(CommandBlock, ArgumentRead, Header(address, quint16(length)));
        if (!same)
            others.append(sent.replyLength);
    }
    return DistinctReadLength(room, maxLength, others);
}

namespace {

// Depth-first over the lengths, longest even ones first: the first read
// whose rest can be read likewise within a few more reads. A rest of two
// whole reads or more always can.
int Distinct(int room, int maxLength, const QVector<int> &recent, int depth)
{
    const int most = qMin(room, maxLength);
    for (int parity = 0; parity < 2; ++parity) {
        for (int length = most; length >= 1; --length) {
            if ((length % 2 != 0) != (parity == 1))
                continue;
            const int reply = length + ReadFraming;
            if (reply == ParamsReplyLength || recent.contains(reply))
                continue;
            const int rest = room - length;
            if (rest == 0 || rest >= 2 * maxLength)
                return length;
            if (depth == 0)
                continue;
            QVector<int> after = recent;
            after.append(reply);
            while (after.size() > DeviceLink::ReplyWindow)
                after.removeFirst();
            if (Distinct(rest, maxLength, after, depth - 1) > 0)
                return length;
        }
    }
    return 0;
}

} // namespace

int DeviceLink::DistinctReadLength(int room, int maxLength, const QVector<int> &recentReplyLengths)
{
    if (room <= 0 || maxLength <= 0)
        return 0;
    return Distinct(room, qMin(maxLength, int(MaxReadBlock)), recentReplyLengths, 3);
}
