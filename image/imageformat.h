#ifndef IMAGEFORMAT_H
#define IMAGEFORMAT_H

#include <QByteArray>
#include <QString>

enum class ImageFormat { Raw, IntelHex, SRecord, Elf };

// "raw", "ihex", "srec" or "elf", as a user names a format; false for
// anything else.
bool ParseFormatName(const QString &name, ImageFormat *format);
QString FormatName(ImageFormat format);

// The format a file name's extension stands for; false when it names none.
bool FormatFromExtension(const QString &fileName, ImageFormat *format);
// ':' first: Intel HEX; 'S' and a digit: S-record; the ELF magic: ELF;
// anything else is a raw binary.
ImageFormat FormatFromContent(const QByteArray &bytes);
// By extension, and by content when the extension tells nothing.
ImageFormat DetectFormat(const QString &fileName, const QByteArray &bytes);

// What a file saved under this name holds: Intel HEX or S-record by its
// extension, a raw binary for anything else.
ImageFormat OutputFormat(const QString &fileName);

#endif // IMAGEFORMAT_H
