#pragma once

// Request frames built with a bit-by-bit CRC, unlike the simulator's table.

#include <QByteArray>

constexpr quint32 App = 0x08003000;

inline quint16 Crc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes)
        for (int bit = 7; bit >= 0; --bit)
            crc = ((crc >> 15) ^ (quint8(c) >> bit)) & 1 ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    return crc;
}

inline QByteArray Le(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i));
    return out;
}

inline QByteArray Frame(quint8 command, quint8 argument, const QByteArray &data = QByteArray())
{
    const QByteArray bytes = QByteArray(1, char(command)) + char(argument) + data;
    return '#' + (bytes + char(Crc(bytes) >> 8) + char(Crc(bytes) & 0xFF)).toHex().toUpper() + '\r';
}

inline QByteArray EraseFrame(quint32 at, int pages) { return Frame(0x21, 0x12, Le(at, 4) + Le(pages, 2)); }
inline QByteArray ReadFrame(quint32 at, int length) { return Frame(0x64, 0x02, Le(at, 4) + Le(length, 2)); }
inline QByteArray WriteFrame(quint32 at, const QByteArray &data) { return Frame(0x64, 0x12, Le(at, 4) + Le(data.size(), 2) + data); }

