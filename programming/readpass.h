#ifndef READPASS_H
#define READPASS_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <functional>

class DeviceLink;

// The reads of one pass whose bytes a job keeps or judges: a verify, a
// comparison, a backup. Replies carry neither sequence number nor address,
// so a reply the device sends twice shifts the answers after it by one,
// and a reply lost later can put the line back in step unseen. Three
// things keep a stale reply out:
// - every read asks for a length that none of the requests just before it
//   drew, so a copy of their replies has the wrong length and is refused;
// - a reply nobody asked for, heard during a read, puts that read and the
//   two before it in doubt (the copy a read took shows as the reply it
//   displaced, one read later);
// - the bytes are handed on only by Settle, which listens for a reply too
//   many after the last read and reads again whatever is in doubt, until
//   nothing is, a bounded number of times.
class ReadPass
{
public:
    // Rounds of listening and reading again before the pass gives up on
    // the line as talking out of turn. A late reply drained is a stray
    // too, so on a line that often answers late each round may find a
    // little more to read again.
    static constexpr int SettleRounds = 5;
    // Readings of one chunk before a read that keeps failing, or whose
    // replies never prove themselves in step, ends the pass.
    static constexpr int ChunkRounds = 3;
    // Reads before the one that heard a stray that it puts in doubt too.
    static constexpr int DoubtBehind = 2;

    ReadPass(DeviceLink &link, int maxChunk);

    // Called after each read of a Read with where it read and what came;
    // false ends the Read there.
    using Sink = std::function<bool(quint32 address, const QByteArray &bytes)>;

    // Reads length bytes from address, in chunks of at most maxChunk
    // bytes (the first at most firstChunk). LinkOk, or the result of the
    // read that failed.
    int Read(quint32 address, int length, int firstChunk, const Sink &goOn);

    // Listens for a reply too many and reads again what is in doubt.
    // LinkOk once every byte kept answered its own read; LinkOutOfTurn when
    // doubt remains after every round; a failed read's result.
    int Settle();

    // After Settle gave LinkOk: the bytes read from address on, at most
    // length (fewer where a Read ended early). Empty before.
    QByteArray Bytes(quint32 address, int length) const;

    // The length of every read sent, in order, re-reads included.
    const QVector<int> &ReadLengths() const { return lengths; }
    // The length of the last read, whether it succeeded or not.
    int LastLength() const { return lengths.isEmpty() ? 0 : lengths.last(); }

private:
    struct Span
    {
        quint32 address;
        QByteArray bytes;
    };
    struct Chunk
    {
        int span;
        int offset;
        int length;
    };

    int ReadChunk(quint32 address, int length, QByteArray *out);
    int ReadInto(int span, int offset, int length, int limit, QVector<Chunk> *chunks, const Sink &goOn);
    void Doubt(int chunk);
    int ReadAgain();

    DeviceLink &link;
    int maxChunk;
    QVector<Span> spans;
    QVector<Chunk> chunks;      // the reads of the round in progress
    QVector<bool> doubtful;     // for each of them
    QVector<int> lengths;
    bool settled = false;
};

// The lengths a ReadPass would ask for, reading length bytes in chunks of
// at most maxChunk after requests whose replies had the given lengths,
// which are brought up to date: for the estimate of a job.
QVector<int> PlanReadLengths(int length, int maxChunk, QVector<int> *recentReplyLengths);

#endif // READPASS_H
