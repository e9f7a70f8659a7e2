#ifndef IMAGECHECK_H
#define IMAGECHECK_H

// What every reader's answer must satisfy, whatever the input: a refusal
// carries a message and no data; an image keeps its segments sorted,
// apart, inside the address space and the limits, and comes back the same
// through our Intel HEX and S-record writers and readers.

#include "imagebuilder.h"
#include "imagereaders.h"
#include "imagewriters.h"

#include <cstdlib>

inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}

inline void CheckImage(const ImageResult &result)
{
    if (!result.Ok()) {
        Require(result.image.IsEmpty() && result.line >= 0);
        return;
    }
    const QVector<ImageSegment> &segments = result.image.Segments();
    qint64 count = 0;
    for (int i = 0; i < segments.size(); ++i) {
        Require(!segments[i].bytes.isEmpty());
        Require(quint64(segments[i].address) + quint64(segments[i].bytes.size()) <= (quint64(1) << 32));
        Require(i == 0 || quint64(segments[i - 1].LastAddress()) + 1 < segments[i].address);
        count += segments[i].bytes.size();
    }
    Require(count == result.image.ByteCount() && count <= ImageBuilder::MaxBytes);
    const ImageResult hex = ReadIntelHex(WriteIntelHex(result.image, 32), QStringLiteral("ours.hex"));
    Require(hex.Ok() && hex.image == result.image);
    const ImageResult srec = ReadSRecord(WriteSRecord(result.image), QStringLiteral("ours.s37"));
    Require(srec.Ok() && srec.image == result.image);
}

inline QByteArray Input(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

#endif // IMAGECHECK_H
