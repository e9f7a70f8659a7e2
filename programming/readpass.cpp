#include "readpass.h"

#include "devicelink.h"

ReadPass::ReadPass(DeviceLink &link, int maxChunk) : link(link), maxChunk(qMax(1, maxChunk))
{
}

int ReadPass::Read(quint32 address, int length, int firstChunk, const Sink &goOn)
{
    settled = false;
    spans.append(Span{address, QByteArray()});
    spans.last().bytes.reserve(qMax(length, 0));
    return ReadInto(spans.size() - 1, 0, length, firstChunk, &chunks, goOn);
}

// Reads from offset on in the span, appending to or overwriting its bytes.
// A read whose length could not be kept apart from the last requests'
// (a few bytes left with every short length taken) starts in doubt.
int ReadPass::ReadInto(int span, int offset, int length, int limit, QVector<Chunk> *reads, const Sink &goOn)
{
    int done = 0;
    while (done < length) {
        const int most = qMin(done == 0 ? qMax(1, limit) : maxChunk, maxChunk);
        const quint32 at = spans.at(span).address + quint32(offset + done);
        int chunk = link.FreshReadLength(at, length - done, most);
        const bool guarded = chunk > 0;
        if (!guarded)
            chunk = qMin(length - done, most);
        const quint32 straysBefore = link.Strays();
        QByteArray bytes;
        lengths.append(chunk);
        const int result = ReadChunk(at, chunk, &bytes);
        if (result != LinkOk)
            return result;
        reads->append(Chunk{span, offset + done, chunk});
        doubtful.append(false);
        if (!guarded || link.Strays() != straysBefore)
            Doubt(reads->size() - 1);
        QByteArray &kept = spans[span].bytes;
        if (offset + done == kept.size())
            kept.append(bytes);
        else
            kept.replace(offset + done, bytes.size(), bytes);
        done += chunk;
        if (goOn && !goOn(at, bytes))
            break;
    }
    return LinkOk;
}

// A reply to a resent frame may be the late answer to the frame before it;
// the block is then read again, once the link has waited for the line to
// fall quiet. Two such readings that agree show what the flash holds: the
// length rule leaves this request the only one whose reply they can be. A
// read that failed outright is tried once more too.
int ReadPass::ReadChunk(quint32 address, int length, QByteArray *out)
{
    int result = LinkNoReply;
    int failures = 0;
    QByteArray doubted;
    for (int round = 0; round < ChunkRounds; ++round) {
        result = link.ReadBlock(out, address, length);
        if (result == LinkOk && (link.InStep() || *out == doubted))
            return out->size() == length ? LinkOk : LinkBadReply;
        if (result == LinkOk)
            doubted = *out;
        else if (result == LinkPortLost || result == LinkOutOfTurn || result == LinkRefused || ++failures > 1)
            return result;
    }
    return result == LinkOk ? LinkBadReply : result;
}

void ReadPass::Doubt(int chunk)
{
    for (int i = qMax(0, chunk - DoubtBehind); i <= chunk; ++i)
        doubtful[i] = true;
}

int ReadPass::Settle()
{
    for (int round = 0; round < SettleRounds; ++round) {
        if (!chunks.isEmpty()) {
            const int quiet = link.ConfirmQuiet(chunks.last().length);
            if (quiet == LinkPortLost)
                return quiet;
            // A reply too many: the last reads may have taken copies.
            if (quiet != LinkOk)
                Doubt(chunks.size() - 1);
        }
        if (!doubtful.contains(true)) {
            settled = true;
            return LinkOk;
        }
        if (round + 1 == SettleRounds)
            break;
        const int result = ReadAgain();
        if (result != LinkOk)
            return result;
    }
    return LinkOutOfTurn;
}

// Reads again every run of reads in doubt, each run as one range: the
// reads of this round become the ones the next round judges.
int ReadPass::ReadAgain()
{
    const QVector<Chunk> before = chunks;
    const QVector<bool> doubtBefore = doubtful;
    chunks.clear();
    doubtful.clear();
    for (int i = 0; i < before.size(); ++i) {
        if (!doubtBefore.at(i))
            continue;
        int end = i;
        while (end + 1 < before.size() && doubtBefore.at(end + 1) && before.at(end + 1).span == before.at(i).span
               && before.at(end + 1).offset == before.at(end).offset + before.at(end).length)
            ++end;
        const int offset = before.at(i).offset;
        const int length = before.at(end).offset + before.at(end).length - offset;
        const int result = ReadInto(before.at(i).span, offset, length, maxChunk, &chunks, Sink());
        if (result != LinkOk)
            return result;
        i = end;
    }
    return LinkOk;
}

QByteArray ReadPass::Bytes(quint32 address, int length) const
{
    if (!settled)
        return QByteArray();
    for (const Span &span : spans) {
        if (address >= span.address && quint64(address) < quint64(span.address) + quint64(span.bytes.size()))
            return span.bytes.mid(int(address - span.address), length);
    }
    return QByteArray();
}

QVector<int> PlanReadLengths(int length, int maxChunk, QVector<int> *recentReplyLengths)
{
    QVector<int> planned;
    for (int done = 0; done < length;) {
        int chunk = DeviceLink::DistinctReadLength(length - done, maxChunk, *recentReplyLengths);
        if (chunk <= 0)
            chunk = qMin(length - done, maxChunk);
        planned.append(chunk);
        recentReplyLengths->append(DeviceLink::ReadReplyLength(chunk));
        while (recentReplyLengths->size() > DeviceLink::ReplyWindow)
            recentReplyLengths->removeFirst();
        done += chunk;
    }
    return planned;
}
