#include "serialnumber.h"

#include "blockplan.h"

#include <QtEndian>

#include <algorithm>

namespace {

bool AllDigits(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The Luhn sum of digits, modulo 10: every second digit from the right is
// doubled, starting with the rightmost when a check digit is still to
// follow it.
int LuhnSum(const QByteArray &digits, bool checkToFollow)
{
    int sum = 0;
    for (int i = digits.size() - 1, position = checkToFollow ? 1 : 0; i >= 0; --i, ++position) {
        int digit = digits.at(i) - '0';
        if (position % 2 == 1)
            digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
    }
    return sum % 10;
}

bool LuhnHolds(const QByteArray &digitsAndCheck)
{
    return AllDigits(digitsAndCheck) && LuhnSum(digitsAndCheck, false) == 0;
}

quint32 Word(const char *bytes, SerialFormat::Kind kind)
{
    return kind == SerialFormat::Le32 ? qFromLittleEndian<quint32>(bytes) : qFromBigEndian<quint32>(bytes);
}

QByteArray WordBytes(quint32 word, SerialFormat::Kind kind)
{
    QByteArray bytes(4, '\0');
    if (kind == SerialFormat::Le32)
        qToLittleEndian(word, bytes.data());
    else
        qToBigEndian(word, bytes.data());
    return bytes;
}

void AddCandidate(SerialReading *reading, qint64 number)
{
    if (!reading->candidates.contains(number))
        reading->candidates.append(number);
}

SerialReading DecodeWord(const QByteArray &bytes, const SerialFormat &format)
{
    const quint32 number = Word(bytes.constData(), format.kind);
    if (!format.checked)
        return SerialReading{SerialReading::Plain, qint64(number), {}};
    const quint32 complement = Word(bytes.constData() + 4, format.kind);
    if (number == quint32(~complement) && number <= format.Largest())
        return SerialReading{SerialReading::Valid, qint64(number), {}};
    // One half was damaged or never finished; the other may be whole.
    SerialReading reading{SerialReading::Damaged, -1, {}};
    if (number != 0xFFFFFFFFu)
        AddCandidate(&reading, number);
    if (complement != 0xFFFFFFFFu && complement != 0)
        AddCandidate(&reading, qint64(quint32(~complement)));
    return reading;
}

SerialReading DecodeDigits(const QByteArray &bytes, const SerialFormat &format)
{
    const QByteArray number = bytes.left(format.digits);
    if (!format.checked)
        return AllDigits(bytes) ? SerialReading{SerialReading::Plain, bytes.toLongLong(), {}}
                                : SerialReading{SerialReading::Damaged, -1, {}};
    if (LuhnHolds(bytes))
        return SerialReading{SerialReading::Valid, number.toLongLong(), {}};
    SerialReading reading{SerialReading::Damaged, -1, {}};
    // The check digit may be the byte that was lost.
    if (AllDigits(number))
        AddCandidate(&reading, number.toLongLong());
    // Or one of the others: Luhn tells which digit would mend each place,
    // and only one erased or one bit off from what was read counts.
    for (int i = 0; i < bytes.size(); ++i) {
        for (char digit = '0'; digit <= '9'; ++digit) {
            const char read = bytes.at(i);
            if (digit == read || (read != '\xFF' && qPopulationCount(quint8(read ^ digit)) != 1))
                continue;
            QByteArray mended = bytes;
            mended[i] = digit;
            if (LuhnHolds(mended))
                AddCandidate(&reading, mended.left(format.digits).toLongLong());
        }
    }
    return reading;
}

} // namespace

int SerialFormat::Bytes() const
{
    if (kind == Decimal)
        return digits + (checked ? 1 : 0);
    return checked ? 8 : 4;
}

qint64 SerialFormat::Largest() const
{
    if (kind != Decimal)
        return 0xFFFFFFFELL;
    qint64 largest = 1;
    for (int i = 0; i < digits; ++i)
        largest *= 10;
    return largest - 1;
}

bool ParseSerialFormat(const QString &text, SerialFormat *format)
{
    const bool checked = text.endsWith(QLatin1Char('c'));
    const QString base = checked ? text.chopped(1) : text;
    if (base == QLatin1String("le32") || base == QLatin1String("be32")) {
        *format = SerialFormat{base == QLatin1String("le32") ? SerialFormat::Le32 : SerialFormat::Be32, 0, checked};
        return true;
    }
    bool ok = false;
    const int digits = base.startsWith(QLatin1String("dec")) ? base.mid(3).toInt(&ok) : 0;
    // 18 digits keep every number inside a signed 64-bit value; with the
    // check digit, 17 keep the place within 18 bytes.
    if (!ok || digits < 1 || digits > (checked ? 17 : 18) || base.mid(3) != QString::number(digits))
        return false;
    *format = SerialFormat{SerialFormat::Decimal, digits, checked};
    return true;
}

QString SerialFormatName(const SerialFormat &format)
{
    const QString check = format.checked ? QStringLiteral("c") : QString();
    switch (format.kind) {
    case SerialFormat::Le32: return QStringLiteral("le32") + check;
    case SerialFormat::Be32: return QStringLiteral("be32") + check;
    case SerialFormat::Decimal: break;
    }
    return QStringLiteral("dec%1").arg(format.digits) + check;
}

QByteArray EncodeSerial(qint64 number, const SerialFormat &format)
{
    if (number < 0 || number > format.Largest())
        return QByteArray();
    if (format.kind == SerialFormat::Decimal) {
        QByteArray digits = QByteArray::number(number).rightJustified(format.digits, '0');
        if (format.checked)
            digits += char('0' + (10 - LuhnSum(digits, true)) % 10);
        return digits;
    }
    const QByteArray bytes = WordBytes(quint32(number), format.kind);
    return format.checked ? bytes + WordBytes(~quint32(number), format.kind) : bytes;
}

QVector<qint64> SerialReading::Numbers() const
{
    if (kind == Valid || kind == Plain)
        return {number};
    return candidates;
}

SerialReading DecodeSerial(const QByteArray &bytes, const SerialFormat &format)
{
    if (bytes.size() != format.Bytes())
        return SerialReading{SerialReading::Damaged, -1, {}};
    if (bytes.count('\xFF') == bytes.size())
        return SerialReading();
    return format.kind == SerialFormat::Decimal ? DecodeDigits(bytes, format) : DecodeWord(bytes, format);
}

bool SerialInImagePages(const FirmwareImage &image, quint32 start, quint32 pageSize, quint32 address,
                        const SerialFormat &format)
{
    const quint64 last = quint64(address) + quint64(format.Bytes()) - 1;
    if (address < start || pageSize == 0 || last > 0xFFFFFFFFu)
        return false;
    const QVector<quint32> pages = PlanPages(image, start, pageSize);
    for (quint64 at = address; at <= last; ++at) {
        const quint32 page = start + quint32((at - start) / pageSize * pageSize);
        if (!pages.contains(page))
            return false;
    }
    return true;
}

QString SerialPlaceMisfit(const FirmwareImage &image, quint32 address, const SerialFormat &format,
                          const QString &file)
{
    const QByteArray bytes = image.Bytes(address, format.Bytes(), '\xFF');
    if (bytes.count('\xFF') == bytes.size())
        return QString();
    return QStringLiteral("--serial-at 0x%1: %2 holds %3 there, where the serial number's %4 bytes go; the image must "
                          "leave them erased (0xFF), or a board could keep them as its number")
        .arg(address, 8, 16, QLatin1Char('0')).arg(file, QString::fromLatin1(bytes.toHex(' '))).arg(format.Bytes());
}
