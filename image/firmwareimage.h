#ifndef FIRMWAREIMAGE_H
#define FIRMWAREIMAGE_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// A run of bytes at consecutive flash addresses.
struct ImageSegment
{
    quint32 address = 0;
    QByteArray bytes;

    // Address of the last byte; a segment never runs past 0xFFFFFFFF.
    quint32 LastAddress() const { return address + quint32(bytes.size()) - 1; }
    bool operator==(const ImageSegment &other) const { return address == other.address && bytes == other.bytes; }
};

// What a firmware file puts into flash: data at addresses, with gaps that
// it leaves alone. Segments are sorted, never empty, and neither overlap
// nor touch: touching pieces are joined. Built by ImageBuilder.
class FirmwareImage
{
public:
    bool IsEmpty() const { return segments.isEmpty(); }
    const QVector<ImageSegment> &Segments() const { return segments; }

    // First and last address holding data; 0 for an empty image.
    quint32 LowestAddress() const;
    quint32 HighestAddress() const;
    // Bytes of data, gaps not counted.
    qint64 ByteCount() const;

    // length bytes from start, with fill where the image holds no data
    // (gaps, and anything past 0xFFFFFFFF).
    QByteArray Bytes(quint32 start, int length, char fill) const;

    bool operator==(const FirmwareImage &other) const { return segments == other.segments; }
    bool operator!=(const FirmwareImage &other) const { return segments != other.segments; }

private:
    friend class ImageBuilder;
    QVector<ImageSegment> segments;
};

#endif // FIRMWAREIMAGE_H
