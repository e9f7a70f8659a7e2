#ifndef IMAGEREADERS_H
#define IMAGEREADERS_H

#include "firmwareimage.h"
#include "imageformat.h"

#include <QString>

#include <optional>

// What reading a firmware file gave: the image, or why the file was
// refused, in a message that names the file and, for text formats, the
// line ("firmware.hex line 12: checksum 0x3C, expected 0x3D").
struct ImageResult
{
    FirmwareImage image;
    QString error;  // empty when the file was read
    int line = 0;   // line of the fault in a text file, else 0

    bool Ok() const { return error.isEmpty(); }
};

ImageResult ImageFailure(const QString &fileName, int line, const QString &reason);

// Each reader takes the whole file; fileName only goes into messages.
ImageResult ReadRawImage(const QByteArray &bytes, const QString &fileName, quint32 start);
ImageResult ReadIntelHex(const QByteArray &bytes, const QString &fileName);
ImageResult ReadSRecord(const QByteArray &bytes, const QString &fileName);
// 32-bit little-endian ARM only; PT_LOAD file bytes at their load address.
ImageResult ReadElf(const QByteArray &bytes, const QString &fileName);

// rawStart places a raw binary; the other formats carry their addresses.
ImageResult ReadImage(const QByteArray &bytes, const QString &fileName, ImageFormat format, quint32 rawStart);

// Larger files are refused unread: no image we take needs more.
constexpr qint64 MaxImageFileBytes = 64 * 1024 * 1024;

// Reads a file from disk in the given format, or in the one DetectFormat
// picks when none is given.
ImageResult LoadImageFile(const QString &path, quint32 rawStart, std::optional<ImageFormat> format = std::nullopt);

#endif // IMAGEREADERS_H
