#ifndef BLOCKPLAN_H
#define BLOCKPLAN_H

#include "firmwareimage.h"

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// One frame's worth of flash: where it goes and, for a write or a verify,
// the bytes the flash must hold there.
struct FlashBlock
{
    quint32 address = 0;
    int length = 0;         // bytes on the wire
    int dataBytes = 0;      // of them, the bytes the image holds; the rest pad half-words
    QByteArray bytes;       // empty for a read

    // All 0xFF: the erase has left the flash holding it already.
    bool Blank() const;
};

// A run of bytes where the flash differs from the image: what the image
// holds there and what the flash gave back (shorter when the read-back
// was short).
struct FlashDifference
{
    quint32 address = 0;
    QByteArray expected;
    QByteArray held;
};

// Adds the runs where held differs from expected (a block at address) to
// differences, joining a run to the last one when they touch. Bytes past
// the end of a short read-back differ.
void AppendDifferences(QVector<FlashDifference> *differences, quint32 address, const QByteArray &expected,
                       const QByteArray &held);

// A read of size bytes from start, blockSize bytes a frame.
QVector<FlashBlock> PlanReadBlocks(quint32 start, int size, int blockSize);

// The blocks that put an image into flash. The flash from start on is cut
// into windows of blockSize bytes; each segment's part in a window is one
// block, so gaps are never written and a raw image goes out exactly as
// consecutive windows. A part that starts or ends on an odd address is
// widened to whole half-words with the erased value 0xFF, as the flash is
// programmed a half-word at a time. Bytes below start are not planned.
QVector<FlashBlock> PlanImageBlocks(const FirmwareImage &image, quint32 start, int blockSize);

// The last of the blocks from first on that follow each other without a
// gap: a run that can be read in one go, whatever the reads' lengths.
int RunEnd(const QVector<FlashBlock> &blocks, int first);

// The pages from start (pageSize bytes each) that hold image bytes, in order.
QVector<quint32> PlanPages(const FirmwareImage &image, quint32 start, quint32 pageSize);

#endif // BLOCKPLAN_H
