#ifndef TEXTRECORDS_H
#define TEXTRECORDS_H

// What the Intel HEX and S-record readers share: lines, hex digits, and
// turning a walk over a file's data records into an image.

#include "imagereaders.h"

#include <functional>

// One data record's bytes at their absolute address.
struct DataRecord
{
    int line = 0;
    quint32 address = 0;
    QByteArray bytes;
};

// Gets every data record in file order; false stops the walk.
using RecordSink = std::function<bool(const DataRecord &)>;
// Walks a whole text file. Returns why the file is refused, with *line at
// the fault, or an empty string when the file is fine or the sink stopped.
using RecordWalker = QString (*)(const QByteArray &text, const RecordSink &sink, int *line);

// Hands out a file's lines, numbered from 1, trimmed of blanks and of the
// line end (LF or CR LF).
class TextLines
{
public:
    explicit TextLines(const QByteArray &text) : text(text) {}
    bool Next(QByteArray *line);
    int Number() const { return number; }

private:
    const QByteArray &text;
    int position = 0;
    int number = 0;
};

// Decodes the hex digit pairs of text from index from on; returns the
// fault, or an empty string.
QString DecodeHex(const QByteArray &text, int from, QByteArray *bytes);
// "0x3C", "0x08000010": value with at least digits hex digits.
QString Hex(quint32 value, int digits);
// Sum of the bytes, modulo 256.
quint8 ByteSum(const QByteArray &bytes, int count);

ImageResult CollectRecords(const QByteArray &text, const QString &fileName, RecordWalker walk);

#endif // TEXTRECORDS_H
