#ifndef SIMCRC_H
#define SIMCRC_H

#include <QByteArray>
#include <QtGlobal>

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, MSB first, no xorout),
// table-driven: the simulator keeps its own implementation so that it
// checks the tool's link instead of sharing its mistakes.
quint16 SimCrc16(const QByteArray &bytes, quint16 crc = 0xFFFF);

#endif
