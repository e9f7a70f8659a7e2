#include "firmwareimage.h"

#include <algorithm>
#include <cstring>

quint32 FirmwareImage::LowestAddress() const
{
    return segments.isEmpty() ? 0 : segments.first().address;
}

quint32 FirmwareImage::HighestAddress() const
{
    return segments.isEmpty() ? 0 : segments.last().LastAddress();
}

qint64 FirmwareImage::ByteCount() const
{
    qint64 count = 0;
    for (const ImageSegment &segment : segments)
        count += segment.bytes.size();
    return count;
}

QByteArray FirmwareImage::Bytes(quint32 start, int length, char fill) const
{
    QByteArray out(qMax(length, 0), fill);
    const quint64 end = quint64(start) + quint64(out.size());
    // Segments are sorted: skip those that end before the range.
    auto segment = std::lower_bound(segments.cbegin(), segments.cend(), start,
                                    [](const ImageSegment &s, quint32 a) { return s.LastAddress() < a; });
    for (; segment != segments.cend() && segment->address < end; ++segment) {
        const quint64 from = qMax<quint64>(start, segment->address);
        const quint64 to = qMin<quint64>(end, quint64(segment->LastAddress()) + 1);
        std::memcpy(out.data() + (from - start), segment->bytes.constData() + (from - segment->address),
                    size_t(to - from));
    }
    return out;
}
