#include "fingerprint.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <zlib.h>

namespace {

// The CRC of length bytes of 0xFF, built by doubling with crc32_combine:
// a sparse image may leave gigabytes between its pieces, which a loop over
// the bytes would take seconds to cover.
uLong ErasedCrc(uLong crc, quint64 length)
{
    const Bytef erased[2] = {0xFF, 0xFF};
    uLong run = crc32(0L, erased, 1);   // the CRC of 2^bit bytes of 0xFF
    quint64 runLength = 1;
    for (; length != 0; length >>= 1) {
        if (length & 1)
            crc = crc32_combine(crc, run, z_off_t(runLength));
        run = crc32_combine(run, run, z_off_t(runLength));
        runLength *= 2;
    }
    return crc;
}

} // namespace

QString Crc32Text(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
}

QString Fingerprint::Crc32Text() const
{
    return ::Crc32Text(crc32);
}

QByteArray Sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

quint32 FlashCrc32(const FirmwareImage &image)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    quint64 next = image.LowestAddress();
    for (const ImageSegment &segment : image.Segments()) {
        crc = ErasedCrc(crc, segment.address - next);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(segment.bytes.constData()), uInt(segment.bytes.size()));
        next = quint64(segment.address) + quint64(segment.bytes.size());
    }
    return quint32(crc);
}

Fingerprint MakeFingerprint(const QByteArray &fileBytes, const FirmwareImage &image)
{
    Fingerprint print;
    print.sha256 = Sha256Hex(fileBytes);
    print.crc32 = FlashCrc32(image);
    print.from = image.LowestAddress();
    print.to = image.HighestAddress();
    return print;
}

bool IsSha256Text(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    return hex.match(text).hasMatch();
}
