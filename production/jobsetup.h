#ifndef JOBSETUP_H
#define JOBSETUP_H

#include "firmwareimage.h"
#include "imageformat.h"
#include "programmingjob.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The flash a job works on, as the command line gave it or the device told.
struct Geometry
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 pageSize = 0;
};

// The firmware file as read once, before any device is touched: every
// device gets these very bytes, and a file that cannot be used stops the
// run before anything is sent.
struct ImageSource
{
    QByteArray bytes;
    ImageFormat format = ImageFormat::Raw;
    FirmwareImage placed;           // formats that carry their addresses; a raw file waits for the start
    QByteArray sha256;
    quint32 crc32 = 0;              // of the flash the image fills, lowest to highest address
};

// Empty when the file can be written or verified, else why not. format
// unset: by the file's name, then its content; expectSha256 (lower case),
// when given, is the SHA-256 the file must have.
QString LoadImageSource(const QString &path, std::optional<ImageFormat> format, const QString &expectSha256,
                        ImageSource *source);

// Why the settings cannot take the image, in words; empty when they can.
// A raw file is judged by its length (rawSize), the other formats by
// where their data lie (rawSize -1).
QString RangeMisfit(RangeCheck check, const Geometry &geometry, const FirmwareImage &image, qint64 rawSize,
                    const QString &file);

// An address as every message shows it: 0x and lower-case hex digits.
QString Hex(quint32 value);

#endif // JOBSETUP_H
