// ReadElf where the system has no libelf (MinGW): our own header reader.

#include "elf32reader.h"

ImageResult ReadElf(const QByteArray &bytes, const QString &fileName)
{
    return ReadElf32(bytes, fileName);
}
