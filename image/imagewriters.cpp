#include "imagewriters.h"

#include "imagereaders.h"
#include "textrecords.h"

namespace {

QByteArray BigEndian(quint32 value, int width)
{
    QByteArray bytes;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        bytes.append(char(value >> shift));
    return bytes;
}

quint8 Sum(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum += quint8(byte);
    return sum;
}

QByteArray HexLine(int type, quint32 offset, const QByteArray &data)
{
    QByteArray raw = char(data.size()) + BigEndian(offset, 2) + char(type) + data;
    raw.append(char(0x100 - Sum(raw)));
    return ':' + raw.toHex().toUpper() + '\n';
}

QByteArray SRecordLine(int type, quint32 address, int width, const QByteArray &data)
{
    QByteArray raw = char(width + data.size() + 1) + BigEndian(address, width) + data;
    raw.append(char(~Sum(raw)));
    return 'S' + QByteArray::number(type) + raw.toHex().toUpper() + '\n';
}

} // namespace

QByteArray WriteIntelHex(const FirmwareImage &image, int bytesPerLine)
{
    bytesPerLine = qBound(1, bytesPerLine, 255);
    QByteArray out;
    qint64 upper = -1;
    for (const ImageSegment &segment : image.Segments()) {
        for (int at = 0; at < segment.bytes.size();) {
            const quint32 address = segment.address + quint32(at);
            if (address >> 16 != upper) {
                upper = address >> 16;
                out += HexLine(4, 0, BigEndian(quint32(upper), 2));
            }
            const int room = int(0x10000 - (address & 0xFFFF));
            const int length = qMin(qMin(bytesPerLine, segment.bytes.size() - at), room);
            out += HexLine(0, address & 0xFFFF, segment.bytes.mid(at, length));
            at += length;
        }
    }
    return out + HexLine(1, 0, QByteArray());
}

QByteArray WriteSRecord(const FirmwareImage &image, const QByteArray &header, int bytesPerLine)
{
    bytesPerLine = qBound(1, bytesPerLine, 250);
    QByteArray out = SRecordLine(0, 0, 2, header.left(252));
    int records = 0;
    for (const ImageSegment &segment : image.Segments()) {
        for (int at = 0; at < segment.bytes.size(); at += bytesPerLine, ++records)
            out += SRecordLine(3, segment.address + quint32(at), 4, segment.bytes.mid(at, bytesPerLine));
    }
    if (records <= 0xFFFF)
        out += SRecordLine(5, quint32(records), 2, QByteArray());
    else if (records <= 0xFFFFFF)
        out += SRecordLine(6, quint32(records), 3, QByteArray());
    return out + SRecordLine(7, 0, 4, QByteArray());
}

WriteResult WriteImage(const FirmwareImage &image, ImageFormat format, char fill)
{
    if (format == ImageFormat::IntelHex)
        return {WriteIntelHex(image), QString()};
    if (format == ImageFormat::SRecord)
        return {WriteSRecord(image), QString()};
    if (image.IsEmpty())
        return {QByteArray(), QString()};
    const qint64 span = qint64(image.HighestAddress()) - image.LowestAddress() + 1;
    if (span > MaxRawSpan)
        return {QByteArray(), QStringLiteral("%1 to %2 is %3 bytes, more than a raw file of %4 MiB holds")
                                  .arg(Hex(image.LowestAddress(), 8), Hex(image.HighestAddress(), 8))
                                  .arg(span).arg(MaxRawSpan >> 20)};
    return {image.Bytes(image.LowestAddress(), int(span), fill), QString()};
}

WriteResult WriteFlashBytes(const QByteArray &bytes, quint32 start, ImageFormat format)
{
    const QString what = QStringLiteral("%1 bytes read at %2").arg(bytes.size()).arg(Hex(start, 8));
    const ImageResult read = ReadRawImage(bytes, what, start);
    if (!read.Ok())
        return {QByteArray(), read.error};
    if (format == ImageFormat::Raw)
        return {bytes, QString()};
    return WriteImage(read.image, format);
}
