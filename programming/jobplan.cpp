#include "jobplan.h"

#include "readpass.h"

#include "devicelink.h"
#include "imagebuilder.h"

#include <algorithm>

FirmwareImage ImageInPages(const FirmwareImage &image, const QVector<quint32> &pages, quint32 pageSize)
{
    ImageBuilder builder;
    for (const ImageSegment &segment : image.Segments()) {
        for (quint32 page : pages) {
            const quint64 pageEnd = quint64(page) + pageSize;   // one past the page
            const quint64 from = qMax<quint64>(segment.address, page);
            const quint64 to = qMin<quint64>(quint64(segment.LastAddress()) + 1, pageEnd);
            if (from < to)
                builder.Add(quint32(from), segment.bytes.mid(int(from - segment.address), int(to - from)));
        }
    }
    return builder.Finish();
}

QVector<quint32> PagesToErase(const QVector<quint32> &pages, const QVector<quint32> &differ,
                              quint32 start, quint32 pageSize, int blockSize, bool firstBlockLast)
{
    QVector<quint32> erase = differ;
    if (!firstBlockLast || differ.isEmpty())
        return erase;
    // Pages holding part of the first window from the start address.
    for (quint32 page : pages) {
        if (quint64(page) >= quint64(start) + quint64(blockSize) || quint64(page) + pageSize <= start)
            continue;
        if (!erase.contains(page))
            erase.append(page);
    }
    std::sort(erase.begin(), erase.end());
    return erase;
}

namespace {

// The reads a verify of the blocks takes: runs of neighbours, each read
// in lengths that differ from the requests' just before.
QVector<int> VerifyReads(const QVector<FlashBlock> &blocks, int blockSize, QVector<int> *recent)
{
    QVector<int> reads;
    for (int first = 0; first < blocks.size();) {
        const int last = RunEnd(blocks, first);
        const int length = int(blocks.at(last).address - blocks.at(first).address) + blocks.at(last).length;
        reads += PlanReadLengths(length, blockSize, recent);
        first = last + 1;
    }
    return reads;
}

} // namespace

void PlanBlocks(JobPlan *plan, const FirmwareImage &image, quint32 start, quint32 pageSize, int blockSize,
                bool firstBlockLast)
{
    plan->target = plan->erase.size() == plan->pages.size() ? image : ImageInPages(image, plan->erase, pageSize);
    plan->writeFrames.clear();
    plan->verifyFrames.clear();
    plan->blocksBlank = 0;
    plan->bytesToWrite = 0;
    for (const FlashBlock &block : PlanImageBlocks(plan->target, start, blockSize)) {
        plan->verifyFrames.append(block.length);
        if (block.Blank()) {
            ++plan->blocksBlank;
            continue;
        }
        plan->writeFrames.append(block.length);
        plan->bytesToWrite += block.dataBytes;
    }
    QVector<FlashBlock> blocks = PlanImageBlocks(plan->target, start, blockSize);
    QVector<FlashBlock> first;
    while (firstBlockLast && !blocks.isEmpty() && blocks.first().address - start < quint32(blockSize))
        first.append(blocks.takeFirst());
    QVector<int> recent;
    plan->verifyReads.clear();
    for (const QVector<FlashBlock> &pass : {blocks, first}) {
        if (!pass.isEmpty())
            plan->verifyReads.append(VerifyReads(pass, blockSize, &recent));
    }
}

qint64 EstimateMs(const JobPlan &plan, qint32 baud, double turnaroundMs)
{
    if (baud <= 0)
        return 0;
    qint64 chars = qint64(plan.erase.size()) * DeviceLink::EraseChars();
    int frames = plan.erase.size() + plan.writeFrames.size() + plan.compareReads.size();
    for (int length : plan.writeFrames)
        chars += DeviceLink::WriteChars(length);
    for (int length : plan.compareReads)
        chars += DeviceLink::ReadChars(length);
    double quietMs = 0;
    for (const QVector<int> &pass : plan.verifyReads) {
        frames += pass.size();
        for (int length : pass)
            chars += DeviceLink::ReadChars(length);
        if (!pass.isEmpty())
            quietMs += DeviceLink::ConfirmQuietMs(pass.last(), baud);
    }
    double ms = double(chars) * DeviceLink::BitsPerChar * 1000.0 / baud + frames * turnaroundMs + quietMs;
    // Every pass that reads ends by listening for a reply too many, for as
    // long as a read's attempt lasts.
    if (plan.compareConfirmed && !plan.compareReads.isEmpty())
        ms += DeviceLink::ConfirmQuietMs(plan.compareReads.last(), baud);
    return qRound64(ms);
}
