#ifndef SIMFRAMES_H
#define SIMFRAMES_H

// Request frames built by the tests themselves, with a bit-by-bit CRC
// unlike the simulator's table, so that the two must agree.

#include <QByteArray>

inline quint16 Crc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

inline QByteArray Le(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i)));
    return out;
}

inline QByteArray Frame(quint8 command, quint8 argument, const QByteArray &data = QByteArray())
{
    QByteArray bytes = QByteArray(1, char(command)) + char(argument) + data;
    const quint16 crc = Crc(bytes);
    bytes += char(crc >> 8);
    bytes += char(crc & 0xFF);
    return '#' + bytes.toHex().toUpper() + '\r';
}

inline QByteArray EraseFrame(quint32 address, int count)
{
    return Frame(0x21, 0x12, Le(address, 4) + Le(quint32(count), 2));
}

inline QByteArray ReadFrame(quint32 address, int length)
{
    return Frame(0x64, 0x02, Le(address, 4) + Le(quint32(length), 2));
}

inline QByteArray WriteFrame(quint32 address, const QByteArray &data)
{
    return Frame(0x64, 0x12, Le(address, 4) + Le(quint32(data.size()), 2) + data);
}

#endif
