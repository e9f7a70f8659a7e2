#ifndef FINGERPRINT_H
#define FINGERPRINT_H

#include "firmwareimage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What tells one image from another at a glance: the SHA-256 of the file
// as it lies on disk, and a CRC-32 of what the flash holds once it is
// written, so that the same firmware in HEX, S-record, ELF or binary form
// shows one CRC. The CRC runs over every byte from the image's lowest to
// its highest address, gaps counted as erased flash (0xFF): the CRC a
// programmer or a device computes over that range of flash.
struct Fingerprint
{
    QByteArray sha256;      // hex, lower case
    quint32 crc32 = 0;      // zlib's CRC-32 (the one of zip, PNG and Ethernet)
    quint32 from = 0;       // the range the CRC covers, both ends included
    quint32 to = 0;

    // "1a2b3c4d": eight hex digits, as crc32 tools print it.
    QString Crc32Text() const;
};

// "1a2b3c4d".
QString Crc32Text(quint32 crc);
QByteArray Sha256Hex(const QByteArray &bytes);
quint32 FlashCrc32(const FirmwareImage &image);
Fingerprint MakeFingerprint(const QByteArray &fileBytes, const FirmwareImage &image);

// Whether text is a SHA-256 as 64 hex digits, either case.
bool IsSha256Text(const QString &text);

#endif // FINGERPRINT_H
