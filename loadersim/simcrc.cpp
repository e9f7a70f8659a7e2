#include "simcrc.h"

#include <array>

namespace {

std::array<quint16, 256> BuildTable()
{
    std::array<quint16, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        quint16 value = quint16(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 0x8000) ? quint16((value << 1) ^ 0x1021) : quint16(value << 1);
        table[size_t(byte)] = value;
    }
    return table;
}

} // namespace

quint16 SimCrc16(const QByteArray &bytes, quint16 crc)
{
    static const std::array<quint16, 256> table = BuildTable();
    for (char c : bytes) {
        const quint8 index = quint8((crc >> 8) ^ quint8(c));
        crc = quint16((crc << 8) ^ table[index]);
    }
    return crc;
}
