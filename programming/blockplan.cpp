#include "blockplan.h"

namespace {

constexpr char Erased = char(0xFF);

// A part [first, last] of a segment, widened to half-words.
FlashBlock WidenedBlock(const ImageSegment &segment, quint32 first, quint32 last)
{
    FlashBlock block;
    block.dataBytes = int(last - first + 1);
    block.bytes = segment.bytes.mid(int(first - segment.address), block.dataBytes);
    if (first % 2 != 0) {
        block.bytes.prepend(Erased);
        --first;
    }
    if (last % 2 == 0)
        block.bytes.append(Erased);
    block.address = first;
    block.length = block.bytes.size();
    return block;
}

} // namespace

bool FlashBlock::Blank() const
{
    for (char byte : bytes) {
        if (byte != Erased)
            return false;
    }
    return true;
}

QVector<FlashBlock> PlanReadBlocks(quint32 start, int size, int blockSize)
{
    QVector<FlashBlock> blocks;
    if (blockSize <= 0)
        return blocks;
    blocks.reserve(size / blockSize + 1);
    for (int offset = 0; offset < size; offset += blockSize) {
        FlashBlock block;
        block.address = start + quint32(offset);
        block.length = qMin(blockSize, size - offset);
        blocks.append(block);
    }
    return blocks;
}

QVector<FlashBlock> PlanImageBlocks(const FirmwareImage &image, quint32 start, int blockSize)
{
    QVector<FlashBlock> blocks;
    if (blockSize <= 0)
        return blocks;
    for (const ImageSegment &segment : image.Segments()) {
        if (segment.LastAddress() < start)
            continue;
        // In 64 bits: the last window may end past 0xFFFFFFFF.
        quint64 first = qMax(segment.address, start);
        while (first <= segment.LastAddress()) {
            const quint64 windowEnd = start + (first - start) / quint64(blockSize) * blockSize + blockSize;
            const quint64 last = qMin<quint64>(windowEnd - 1, segment.LastAddress());
            blocks.append(WidenedBlock(segment, quint32(first), quint32(last)));
            first = last + 1;
        }
    }
    return blocks;
}

QVector<quint32> PlanPages(const FirmwareImage &image, quint32 start, quint32 pageSize)
{
    QVector<quint32> pages;
    if (pageSize == 0)
        return pages;
    for (const ImageSegment &segment : image.Segments()) {
        if (segment.LastAddress() < start)
            continue;
        const quint32 from = (qMax(segment.address, start) - start) / pageSize;
        const quint32 to = (segment.LastAddress() - start) / pageSize;
        for (quint64 page = from; page <= to; ++page) {
            const quint32 address = start + quint32(page) * pageSize;
            if (pages.isEmpty() || pages.last() != address)
                pages.append(address);
        }
    }
    return pages;
}

void AppendDifferences(QVector<FlashDifference> *differences, quint32 address, const QByteArray &expected,
                       const QByteArray &held)
{
    int i = 0;
    while (i < expected.size()) {
        if (i < held.size() && held.at(i) == expected.at(i)) {
            ++i;
            continue;
        }
        const int from = i;
        while (i < expected.size() && (i >= held.size() || held.at(i) != expected.at(i)))
            ++i;
        const quint32 at = address + quint32(from);
        FlashDifference *last = differences->isEmpty() ? nullptr : &differences->last();
        if (!last || quint64(last->address) + quint64(last->expected.size()) != at)
            last = &*differences->insert(differences->end(), FlashDifference{at, {}, {}});
        last->expected += expected.mid(from, i - from);
        last->held += held.mid(from, qMax(0, qMin(i, int(held.size())) - from));
    }
}

int RunEnd(const QVector<FlashBlock> &blocks, int first)
{
    int last = first;
    while (last + 1 < blocks.size()
           && quint64(blocks.at(last + 1).address) == quint64(blocks.at(last).address) + blocks.at(last).length)
        ++last;
    return last;
}
