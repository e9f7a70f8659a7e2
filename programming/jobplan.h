#ifndef JOBPLAN_H
#define JOBPLAN_H

#include "blockplan.h"
#include "firmwareimage.h"

#include <QVector>
#include <QtGlobal>

// What a write job will send: the pages it erases, the blocks it writes
// and the blocks it reads back, and the reads its comparison took.
struct JobPlan
{
    QVector<quint32> pages;         // every page holding image bytes
    QVector<quint32> erase;         // of them, the pages the job erases and writes
    int pagesSkipped = 0;           // found holding what the job would leave there
    int firstPagesKept = 0;         // unchanged, but rewritten so the first block can go in last
    FirmwareImage target;           // the image's bytes in the pages erased
    QVector<int> writeFrames;       // the length of each block written
    QVector<int> verifyFrames;      // ... and of each block read back (blank blocks too)
    QVector<QVector<int>> verifyReads;  // the length of each read of each verify pass
    int blocksBlank = 0;            // all 0xFF: left to the erase
    qint64 bytesToWrite = 0;        // image bytes in the blocks written
    QVector<int> compareReads;      // the length of each read the comparison took
    bool compareConfirmed = false;  // a quiet wait closed the comparison
};

// The image cut down to the given pages, each pageSize bytes from its address.
FirmwareImage ImageInPages(const FirmwareImage &image, const QVector<quint32> &pages, quint32 pageSize);

// The pages to erase once the comparison has found which differ. Where the
// first block goes in last, a job that rewrites anything also rewrites the
// page of the first block: erased first, that block last, so a job cut
// short leaves an application that cannot start rather than one that
// starts half old and half new. With nothing to rewrite, it is kept.
QVector<quint32> PagesToErase(const QVector<quint32> &pages, const QVector<quint32> &differ,
                              quint32 start, quint32 pageSize, int blockSize, bool firstBlockLast);

// Fills in the blocks of a plan whose pages and erase list are known.
// Where the first block goes in last, it is verified in a pass of its own.
void PlanBlocks(JobPlan *plan, const FirmwareImage &image, quint32 start, quint32 pageSize, int blockSize,
                bool firstBlockLast);

// How long the plan takes on the wire at baud (8N1), with turnaroundMs
// between each request and its reply besides the characters themselves
// (the loader's and the line's own time), and a comparison closed by
// waiting for the line to fall quiet; in ms, rounded to the nearest.
qint64 EstimateMs(const JobPlan &plan, qint32 baud, double turnaroundMs);

#endif // JOBPLAN_H
