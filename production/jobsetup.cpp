#include "jobsetup.h"

#include "fingerprint.h"
#include "imagereaders.h"

#include <QFile>

// The job works on this one snapshot: a file changed meanwhile cannot make
// the verify compare against bytes that were never written. Formats that
// place their data are read at once; a raw file waits for the start
// address, which the device may have to tell.
QString LoadImageSource(const QString &path, std::optional<ImageFormat> format, const QString &expectSha256,
                        ImageSource *source)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    if (file.size() > MaxImageFileBytes)
        return QStringLiteral("%1 is larger than any image this tool writes (%2 bytes)")
            .arg(path).arg(MaxImageFileBytes);
    source->bytes = file.readAll();
    if (source->bytes.size() != file.size())
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    // An empty image would end in a "success" that put nothing on the device.
    if (source->bytes.isEmpty())
        return QStringLiteral("%1 is empty").arg(path);
    source->sha256 = Sha256Hex(source->bytes);
    if (!expectSha256.isEmpty() && source->sha256 != expectSha256.toLatin1())
        return QStringLiteral("%1 has SHA-256 %2, not %3 as --expect-sha256 requires")
            .arg(path, QString::fromLatin1(source->sha256), expectSha256);
    source->format = format ? *format : DetectFormat(path, source->bytes);
    // A raw file fills the flash from its first byte to its last wherever
    // it is placed, so its CRC is the CRC of the file.
    if (source->format == ImageFormat::Raw) {
        source->crc32 = FlashCrc32(ReadRawImage(source->bytes, path, 0).image);
        return QString();
    }
    const ImageResult result = ReadImage(source->bytes, path, source->format, 0);
    if (!result.Ok())
        return result.error;
    if (result.image.IsEmpty())
        return QStringLiteral("%1 holds no data").arg(path);
    source->placed = result.image;
    source->crc32 = FlashCrc32(source->placed);
    return QString();
}

// Why the settings cannot take the image, in words; empty when they can.
// A raw file is judged by its length, the other formats by where their
// data lie.
QString RangeMisfit(RangeCheck check, const Geometry &geometry, const FirmwareImage &image, qint64 rawSize,
               const QString &file)
{
    switch (check) {
    case RangeCheck::Fits:
        break;
    case RangeCheck::BelowStart:
        return QStringLiteral("%1 has data at %2, below the start address %3")
            .arg(file, Hex(image.LowestAddress()), Hex(geometry.start));
    case RangeCheck::TooLarge:
        if (rawSize < 0)
            return QStringLiteral("%1 has data up to %2, past the range from start %3 to end %4")
                .arg(file, Hex(image.HighestAddress()), Hex(geometry.start), Hex(geometry.end));
        return QStringLiteral("%1 is %2 bytes, more than the %3 bytes from start %4 to end %5 (end included)")
            .arg(file).arg(rawSize).arg(AvailableBytes(geometry.start, geometry.end))
            .arg(Hex(geometry.start), Hex(geometry.end));
    case RangeCheck::OddStart:
        return QStringLiteral("start %1 is odd: the flash is programmed in half-words from an even address")
            .arg(Hex(geometry.start));
    case RangeCheck::OddPageSize:
        return QStringLiteral("a page size of %1 bytes is odd: the flash is programmed in half-words")
            .arg(geometry.pageSize);
    case RangeCheck::Unaligned:
        return QStringLiteral("start %1 is not a whole number of pages of %2 bytes")
            .arg(Hex(geometry.start)).arg(geometry.pageSize);
    }
    return QString();
}

QString Hex(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}
