#ifndef SERIALNUMBER_H
#define SERIALNUMBER_H

#include "firmwareimage.h"

#include <QByteArray>
#include <QString>

#include <optional>

// How a serial number is laid out in the flash: a 32-bit word, little- or
// big-endian, or a fixed number of ASCII decimal digits with leading zeros.
struct SerialFormat
{
    enum Kind { Le32, Be32, Decimal };
    Kind kind = Le32;
    int digits = 0;                 // Decimal only

    int Bytes() const { return kind == Decimal ? digits : 4; }
    // The largest number the layout holds and can tell from erased flash:
    // a word of all ones is what an erased cell reads.
    qint64 Largest() const;
};

// "le32", "be32" or "decN" (N from 1 to 18 digits); false for anything else.
bool ParseSerialFormat(const QString &text, SerialFormat *format);
QString SerialFormatName(const SerialFormat &format);

// The bytes the number puts in the flash; empty when it does not fit.
QByteArray EncodeSerial(qint64 number, const SerialFormat &format);
// The number the flash holds there, if it holds one at all (erased
// flash, or text that is not all digits, holds none).
std::optional<qint64> DecodeSerial(const QByteArray &bytes, const SerialFormat &format);

// Whether every byte of the number lies in a page the image programs
// anyway: a number must never make the job erase a page the image does
// not own.
bool SerialInImagePages(const FirmwareImage &image, quint32 start, quint32 pageSize, quint32 address,
                        const SerialFormat &format);

#endif // SERIALNUMBER_H
