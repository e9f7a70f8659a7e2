#ifndef BOOTCHECK_H
#define BOOTCHECK_H

#include "flashmodel.h"

#include <QByteArray>
#include <QString>

// The loader starts the application whenever the application's first
// word (the initial stack pointer on Cortex-M) is not all 0xFF, whatever
// follows it; after an interrupted job that is a half-written image.
bool AppFirstWordErased(const FlashModel &flash);

// Given the image meant for the application start: the first address in
// its range where the flash differs while the first word is programmed,
// that is where a half-written application would start; -1 if none would.
qint64 BootMismatch(const FlashModel &flash, const QByteArray &image);

// Reads such an image: it must be there, not empty, and fit the
// application area.
bool ReadBootImage(const QString &file, const FlashModel &flash, QByteArray *image, QString *error);

#endif
