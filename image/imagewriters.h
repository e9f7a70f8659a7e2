#ifndef IMAGEWRITERS_H
#define IMAGEWRITERS_H

#include "firmwareimage.h"
#include "imageformat.h"

#include <QString>

// Text formats keep each segment at its flash address, so a backup can be
// written back where it came from. Lines end in LF.

// 04 records as the upper address half changes, bytesPerLine (1-255, 16
// or 32 as usual) data bytes a line, never across a 64 KiB boundary.
QByteArray WriteIntelHex(const FirmwareImage &image, int bytesPerLine = 16);

// S0 with header, S3 data with 32-bit addresses (bytesPerLine 1-250), an
// S5 or S6 count while the count fits, S7 at the end.
QByteArray WriteSRecord(const FirmwareImage &image, const QByteArray &header = "tamrivo", int bytesPerLine = 16);

// What writing gave: the whole file, or why there is none. An empty
// image makes an empty raw file, so empty bytes alone say nothing.
struct WriteResult
{
    QByteArray bytes;
    QString error;  // empty when bytes hold the file

    bool Ok() const { return error.isEmpty(); }
};

// Raw: from the lowest to the highest address, gaps filled with fill;
// refused when that spans more than MaxRawSpan bytes. ELF is never
// written: it comes out raw.
constexpr qint64 MaxRawSpan = 256 * 1024 * 1024;
WriteResult WriteImage(const FirmwareImage &image, ImageFormat format, char fill = char(0xFF));

// Bytes read from the flash at start, saved as a backup: raw as they
// are, Intel HEX or S-record at their flash addresses, so the backup can
// go back where it came from. Refused when the raw reader would refuse
// them (past 0xFFFFFFFF, over its limit): the backup could not go back.
WriteResult WriteFlashBytes(const QByteArray &bytes, quint32 start, ImageFormat format);

#endif // IMAGEWRITERS_H
