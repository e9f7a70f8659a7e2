// Motorola S-records: "S", type digit, count, address, data, checksum.
// The count covers address, data and checksum.

#include "textrecords.h"

namespace {

struct SRecord
{
    int type = 0;
    quint32 address = 0;
    QByteArray data;
};

// Address bytes by record type; 0 where the type is not one we know.
const int addressBytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

QString ParseRecord(const QByteArray &line, SRecord *record)
{
    if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || addressBytes[line[1] - '0'] == 0)
        return QStringLiteral("not an S0-S3 or S5-S9 record");
    record->type = line[1] - '0';
    QByteArray raw;
    const QString fault = DecodeHex(line, 2, &raw);
    if (!fault.isEmpty())
        return fault;
    const int width = addressBytes[record->type];
    if (raw.isEmpty() || quint8(raw[0]) != raw.size() - 1)
        return QStringLiteral("byte count %1, but %2 bytes follow it").arg(Hex(raw.isEmpty() ? 0 : quint8(raw[0]), 2)).arg(qMax(0, raw.size() - 1));
    if (raw.size() < width + 2)
        return QStringLiteral("record too short for its %1-byte address").arg(width);
    const quint8 expected = quint8(~ByteSum(raw, raw.size() - 1));
    if (quint8(raw.back()) != expected)
        return QStringLiteral("checksum %1, expected %2").arg(Hex(quint8(raw.back()), 2), Hex(expected, 2));
    record->address = 0;
    for (int i = 1; i <= width; ++i)
        record->address = record->address << 8 | quint8(raw[i]);
    record->data = raw.mid(1 + width, raw.size() - width - 2);
    return QString();
}

// S1-S3 place data, S5/S6 count them, S7-S9 end the file.
QString Apply(const SRecord &record, int line, int *dataRecords, const RecordSink &sink, bool *stop)
{
    if (record.type >= 1 && record.type <= 3) {
        if (quint64(record.address) + record.data.size() > (quint64(1) << 32))
            return QStringLiteral("record at %1 runs past 0xFFFFFFFF").arg(Hex(record.address, 8));
        ++*dataRecords;
        if (!record.data.isEmpty())
            *stop = !sink({line, record.address, record.data});
    } else if ((record.type == 5 || record.type == 6) && record.address != quint32(*dataRecords)) {
        return QStringLiteral("S%1 counts %2 data records, but %3 came before it")
            .arg(record.type).arg(record.address).arg(*dataRecords);
    }
    return QString();
}

// The last record decides whether the file is whole: S7-S9, or an S5/S6
// count, which Apply has already matched against the data records. srec_cat
// writes a termination record only when given an execution address, and
// otherwise ends its files in the count; data after a count is not counted,
// so a file that ends in it is as truncated as one without a count.
QString WalkSRecord(const QByteArray &text, const RecordSink &sink, int *line)
{
    TextLines lines(text);
    QByteArray textLine;
    int dataRecords = 0;
    int last = -1;
    bool stop = false;
    while (!stop && lines.Next(&textLine)) {
        *line = lines.Number();
        if (textLine.isEmpty())
            continue;
        if (last >= 7)
            return QStringLiteral("text after the termination record");
        SRecord record;
        QString fault = ParseRecord(textLine, &record);
        if (fault.isEmpty())
            fault = Apply(record, *line, &dataRecords, sink, &stop);
        if (!fault.isEmpty())
            return fault;
        last = record.type;
    }
    if (!stop && last < 5) {
        *line = 0;
        return QStringLiteral("no S7, S8 or S9 termination record and no S5/S6 count at its end: the file is truncated");
    }
    return QString();
}

} // namespace

ImageResult ReadSRecord(const QByteArray &bytes, const QString &fileName)
{
    return CollectRecords(bytes, fileName, WalkSRecord);
}
