#ifndef ELFSEGMENTS_H
#define ELFSEGMENTS_H

// What the two ELF readers (libelf's and our own header reader) share:
// the words for the faults both can find, and how the loadable segments
// become an image. They differ only in how they read the headers, so a
// file gets the same image, or the same reason, from either.

#include "imagereaders.h"

#include <QVector>

namespace ElfFault {
QString NotElf();
// Empty when the identification bytes name 32-bit little-endian ELF.
QString Ident(int elfClass, int byteOrder);
// Empty for ARM.
QString Machine(int machine);
} // namespace ElfFault

// The file bytes of every PT_LOAD segment go to its physical (load)
// address, so initialised data that runs in RAM lands in flash after the
// code, where the startup code copies it from.
class LoadSegments
{
public:
    // file must outlive this object.
    explicit LoadSegments(const QByteArray &file) : file(file) {}

    // One program header, index as in the file; segments other than
    // PT_LOAD with file bytes are passed over. Returns why the file is
    // refused, or an empty string.
    QString Add(int index, quint32 type, quint64 offset, quint64 fileSize, quint64 address);
    // The segments added, placed in program header order.
    ImageResult Image(const QString &fileName) const;

private:
    struct Segment
    {
        int index = 0;
        quint32 address = 0;
        QByteArray bytes;
    };

    // The segment before the one at i that placed the byte at address.
    int EarlierSegment(int i, quint32 address) const;

    const QByteArray &file;
    QVector<Segment> segments;
    quint64 total = 0;
};

#endif // ELFSEGMENTS_H
