#ifndef BLOCKPLAN_H
#define BLOCKPLAN_H

#include <QVector>
#include <QtGlobal>

// One frame's worth of an image: where it goes in flash and which bytes of
// the image it carries.
struct FlashBlock
{
    quint32 address = 0;
    int offset = 0;
    int length = 0;
};

// The blocks of an image of size bytes placed at start, blockSize bytes
// each from the start on, the last one shorter if need be.
QVector<FlashBlock> PlanBlocks(quint32 start, int size, int blockSize);

#endif // BLOCKPLAN_H
