// Intel HEX: ":" count, 16-bit offset, type, data, checksum, in hex.

#include "textrecords.h"

namespace {

enum RecordType { Data = 0, EndOfFile = 1, SegmentBase = 2, SegmentStart = 3, LinearBase = 4, LinearStart = 5 };

struct HexRecord
{
    int type = 0;
    quint32 offset = 0;
    QByteArray data;
};

quint32 BigEndian16(const QByteArray &data)
{
    return quint32(quint8(data[0])) << 8 | quint8(data[1]);
}

// Framing, byte count and checksum of one record; returns the fault.
QString ParseRecord(const QByteArray &line, HexRecord *record)
{
    if (!line.startsWith(':'))
        return QStringLiteral("a record must start with ':'");
    QByteArray raw;
    const QString fault = DecodeHex(line, 1, &raw);
    if (!fault.isEmpty())
        return fault;
    if (raw.size() < 5)
        return QStringLiteral("record too short");
    const int count = quint8(raw[0]);
    if (count != raw.size() - 5)
        return QStringLiteral("byte count %1, but the record holds %2 data bytes").arg(Hex(count, 2)).arg(raw.size() - 5);
    const quint8 expected = quint8(0x100 - ByteSum(raw, raw.size() - 1));
    if (quint8(raw.back()) != expected)
        return QStringLiteral("checksum %1, expected %2").arg(Hex(quint8(raw.back()), 2), Hex(expected, 2));
    record->offset = BigEndian16(raw.mid(1, 2));
    record->type = quint8(raw[3]);
    record->data = raw.mid(4, count);
    return QString();
}

// Every record but a data record has a fixed length.
QString CheckLength(const HexRecord &record)
{
    static const int lengths[] = {-1, 0, 2, 4, 2, 4};
    if (record.type > LinearStart)
        return QStringLiteral("unknown record type %1").arg(Hex(quint32(record.type), 2));
    const int length = lengths[record.type];
    if (length >= 0 && record.data.size() != length)
        return QStringLiteral("a type %1 record holds %2 data bytes, not %3")
            .arg(Hex(quint32(record.type), 2)).arg(record.data.size()).arg(length);
    return QString();
}

// Sends a data record on: a linear address runs straight on, a segmented
// one wraps inside its 64 KiB segment.
QString SendData(const HexRecord &record, quint32 base, bool segmented, int line, const RecordSink &sink, bool *stop)
{
    const int size = record.data.size();
    if (!segmented && quint64(base) + record.offset + size > (quint64(1) << 32))
        return QStringLiteral("record at %1 runs past 0xFFFFFFFF").arg(Hex(base + record.offset, 8));
    const int first = segmented ? qMin(size, int(0x10000 - record.offset)) : size;
    if (first > 0)
        *stop = !sink({line, base + record.offset, record.data.left(first)});
    if (!*stop && first < size)
        *stop = !sink({line, base, record.data.mid(first)});
    return QString();
}

QString WalkIntelHex(const QByteArray &text, const RecordSink &sink, int *line)
{
    TextLines lines(text);
    QByteArray textLine;
    quint32 base = 0;
    bool segmented = false;
    bool ended = false;
    bool stop = false;
    while (!stop && lines.Next(&textLine)) {
        *line = lines.Number();
        if (textLine.isEmpty())
            continue;
        if (ended)
            return QStringLiteral("text after the end-of-file record");
        HexRecord record;
        QString fault = ParseRecord(textLine, &record);
        if (fault.isEmpty())
            fault = CheckLength(record);
        if (fault.isEmpty() && record.type == Data)
            fault = SendData(record, base, segmented, *line, sink, &stop);
        if (!fault.isEmpty())
            return fault;
        ended = record.type == EndOfFile;
        if (record.type == SegmentBase || record.type == LinearBase) {
            segmented = record.type == SegmentBase;
            base = BigEndian16(record.data) << (segmented ? 4 : 16);
        }
    }
    if (!stop && !ended) {
        *line = 0;
        return QStringLiteral("no end-of-file record: the file is truncated");
    }
    return QString();
}

} // namespace

ImageResult ReadIntelHex(const QByteArray &bytes, const QString &fileName)
{
    return CollectRecords(bytes, fileName, WalkIntelHex);
}
