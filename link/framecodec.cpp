#include "devicelink.h"

namespace {

constexpr quint16 CrcPolynomial = 0x1021;
constexpr quint16 CrcStart = 0xFFFF;

// Position of a character among the first 16 of the alphabet, or -1.
int NibbleOf(const QByteArray &alphabet, char c)
{
    const int digits = qMin(alphabet.size(), 16);
    for (int i = 0; i < digits; ++i) {
        if (alphabet.at(i) == c)
            return i;
    }
    return -1;
}

} // namespace

// Bit by bit on purpose: the loader computes it the same way, and a table
// would buy nothing at 9600 baud.
quint16 DeviceLink::UpdateCrc16(quint16 crc, quint8 byte)
{
    crc ^= quint16(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
        if (crc & 0x8000)
            crc = quint16((crc << 1) ^ CrcPolynomial);
        else
            crc = quint16(crc << 1);
    }
    return crc;
}

bool DeviceLink::HexPairToByte(const char *pair, quint8 *out) const
{
    const int high = NibbleOf(format.hexAlphabet, pair[0]);
    const int low = NibbleOf(format.hexAlphabet, pair[1]);
    if (high < 0 || low < 0)
        return false;
    *out = quint8(high * 16 + low);
    return true;
}

// Decodes the text between the first reply start and the first line end
// after it. More than MaxFrameBytes decoded bytes cannot come from a
// loader that counts in one byte, so such a line fails like any other
// malformed one; the output then holds the first MaxFrameBytes bytes.
int DeviceLink::DecodeLine(const QByteArray &line, QByteArray *out) const
{
    const int start = line.indexOf(format.replyStart);
    if (start < 0)
        return DecodeFailed;
    const int end = line.indexOf(format.lineEnd, start + 1);
    out->clear();
    if (end <= start + 1)
        return 0;
    // An odd count of digits pairs the last digit with the line end,
    // which is no digit, so such a line fails here too.
    for (int i = start + 1; i < end; i += 2) {
        quint8 byte = 0;
        if (out->size() == MaxFrameBytes || !HexPairToByte(line.constData() + i, &byte))
            return DecodeFailed;
        out->append(char(byte));
    }
    return out->size();
}

// The whole request frame, or an empty array when the data do not fit in
// one frame.
QByteArray DeviceLink::EncodeFrame(quint8 command, quint8 argument, const QByteArray &data) const
{
    if (data.size() > MaxFrameBytes)
        return QByteArray();
    QByteArray frame;
    frame.reserve(2 * data.size() + 10);
    quint16 crc = CrcStart;
    auto put = [&](quint8 byte) {
        frame.append(format.hexAlphabet.at(byte >> 4));
        frame.append(format.hexAlphabet.at(byte & 0x0F));
    };
    auto putCovered = [&](quint8 byte) {
        put(byte);
        crc = UpdateCrc16(crc, byte);
    };
    frame.append(format.requestStart);
    putCovered(command);
    putCovered(argument);
    for (char byte : data)
        putCovered(quint8(byte));
    put(quint8(crc >> 8));
    put(quint8(crc & 0xFF));
    frame.append(format.lineEnd);
    return frame;
}
