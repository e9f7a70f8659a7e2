#include "blockplan.h"

QVector<FlashBlock> PlanBlocks(quint32 start, int size, int blockSize)
{
    QVector<FlashBlock> blocks;
    if (blockSize <= 0)
        return blocks;
    blocks.reserve(size / blockSize + 1);
    for (int offset = 0; offset < size; offset += blockSize)
        blocks.append(FlashBlock{start + quint32(offset), offset, qMin(blockSize, size - offset)});
    return blocks;
}
