#ifndef SERIALNUMBER_H
#define SERIALNUMBER_H

#include "firmwareimage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// How a serial number is laid out in the flash: a 32-bit word, little- or
// big-endian, or a fixed number of ASCII decimal digits with leading zeros.
// A checked layout follows the number with its check: the word's ones'
// complement in the same byte order, or one Luhn check digit. Programming
// only clears bits, so no number can be left half-programmed or lose a bit
// and still pass its check as another number.
struct SerialFormat
{
    enum Kind { Le32, Be32, Decimal };
    Kind kind = Le32;
    int digits = 0;                 // Decimal only: the number's digits, the check digit not counted
    bool checked = false;

    int Bytes() const;
    // The largest number the layout holds and can tell from erased flash:
    // a word of all ones is what an erased cell reads.
    qint64 Largest() const;
};

// "le32", "be32", "decN" (N from 1 to 18 digits), or with a check
// "le32c", "be32c", "decNc" (N from 1 to 17); false for anything else.
bool ParseSerialFormat(const QString &text, SerialFormat *format);
QString SerialFormatName(const SerialFormat &format);

// The bytes the number puts in the flash; empty when it does not fit.
QByteArray EncodeSerial(qint64 number, const SerialFormat &format);

// What the bytes at a serial number's place are. Blank: erased flash.
// Valid: a number whose check holds (checked layouts only). Plain: a
// number of a layout without a check, which may as well be damaged or a
// constant of some firmware. Damaged: anything else, with the numbers the
// bytes may have been meant to be.
struct SerialReading
{
    enum Kind { Blank, Valid, Plain, Damaged };
    Kind kind = Blank;
    qint64 number = -1;             // Valid and Plain
    QVector<qint64> candidates;     // Damaged

    // The numbers the board may carry: its number, or the candidates.
    QVector<qint64> Numbers() const;
};

// A checked 32-bit number is its number half or its complement half,
// whichever survived; a half that reads erased tells nothing. Checked
// digits may have lost one byte: erased, or one bit off.
SerialReading DecodeSerial(const QByteArray &bytes, const SerialFormat &format);

// Whether every byte of the number lies in a page the image programs
// anyway: a number must never make the job erase a page the image does
// not own.
bool SerialInImagePages(const FirmwareImage &image, quint32 start, quint32 pageSize, quint32 address,
                        const SerialFormat &format);

// Why the image cannot take a number at address, in words naming file;
// empty when it leaves the number's bytes erased (0xFF) or holds no data
// there. Bytes of its own there would be written, or kept, as a number.
QString SerialPlaceMisfit(const FirmwareImage &image, quint32 address, const SerialFormat &format,
                          const QString &file);

#endif // SERIALNUMBER_H
