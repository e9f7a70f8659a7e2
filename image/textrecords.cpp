#include "textrecords.h"

#include "imagebuilder.h"

namespace {

int Nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString NotHexDigit(char c)
{
    if (c > ' ' && c < 127)
        return QStringLiteral("'%1' is not a hex digit").arg(QLatin1Char(c));
    return QStringLiteral("byte %1 is not a hex digit").arg(Hex(quint8(c), 2));
}

bool Covers(const DataRecord &record, quint32 address)
{
    return address >= record.address && address - record.address < quint32(record.bytes.size());
}

quint8 ByteAt(const DataRecord &record, quint32 address)
{
    return quint8(record.bytes[int(address - record.address)]);
}

// Walks the file again up to the refused record to find the earlier one
// that placed the byte at address: only this error needs it, so the
// builder keeps no record of where each byte came from.
QString Disagreement(const QByteArray &text, RecordWalker walk, const DataRecord &refused, quint32 address)
{
    DataRecord earlier;
    int line = 0;
    walk(text, [&](const DataRecord &record) {
        if (record.line >= refused.line)
            return false;
        if (!Covers(record, address))
            return true;
        earlier = record;
        return false;
    }, &line);
    if (earlier.line == 0)
        return ImageBuilder::Describe(ImageBuilder::Disagrees);
    return QStringLiteral("data at %1 is %2 here but %3 on line %4")
        .arg(Hex(address, 8), Hex(ByteAt(refused, address), 2), Hex(ByteAt(earlier, address), 2))
        .arg(earlier.line);
}

} // namespace

bool TextLines::Next(QByteArray *line)
{
    if (position >= text.size())
        return false;
    int end = text.indexOf('\n', position);
    if (end < 0)
        end = text.size();
    *line = text.mid(position, end - position).trimmed();
    position = end + 1;
    ++number;
    return true;
}

QString DecodeHex(const QByteArray &text, int from, QByteArray *bytes)
{
    if ((text.size() - from) % 2 != 0)
        return QStringLiteral("odd number of hex digits");
    bytes->resize((text.size() - from) / 2);
    for (int i = 0; i < bytes->size(); ++i) {
        const int high = Nibble(text[from + 2 * i]);
        const int low = Nibble(text[from + 2 * i + 1]);
        if (high < 0 || low < 0)
            return NotHexDigit(text[from + 2 * i + (high < 0 ? 0 : 1)]);
        (*bytes)[i] = char(high << 4 | low);
    }
    return QString();
}

QString Hex(quint32 value, int digits)
{
    return QLatin1String("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

quint8 ByteSum(const QByteArray &bytes, int count)
{
    quint8 sum = 0;
    for (int i = 0; i < count; ++i)
        sum += quint8(bytes[i]);
    return sum;
}

ImageResult CollectRecords(const QByteArray &text, const QString &fileName, RecordWalker walk)
{
    ImageBuilder builder;
    ImageBuilder::Status status = ImageBuilder::Added;
    DataRecord refused;
    quint32 at = 0;
    int line = 0;
    QString fault = walk(text, [&](const DataRecord &record) {
        status = builder.Add(record.address, record.bytes, &at);
        if (status == ImageBuilder::Added)
            return true;
        refused = record;
        return false;
    }, &line);
    if (status == ImageBuilder::Disagrees)
        fault = Disagreement(text, walk, refused, at);
    else if (status != ImageBuilder::Added)
        fault = ImageBuilder::Describe(status);
    if (!fault.isEmpty())
        return ImageFailure(fileName, line, fault);
    return {builder.Finish(), QString(), 0};
}
