#ifndef ELF32READER_H
#define ELF32READER_H

#include "imagereaders.h"

// ReadElf without libelf: reads the ELF32 little-endian headers itself,
// every offset and count checked against the file. ReadElf is this reader
// where the system has no libelf (Windows); elsewhere the tests hold it
// to libelf's answers.
ImageResult ReadElf32(const QByteArray &bytes, const QString &fileName);

#endif // ELF32READER_H
