#include "serialnumber.h"

#include "blockplan.h"

#include <QtEndian>

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
    if (text == QLatin1String("le32") || text == QLatin1String("be32")) {
        *format = SerialFormat{text == QLatin1String("le32") ? SerialFormat::Le32 : SerialFormat::Be32, 0};
        return true;
    }
    bool ok = false;
    const int digits = text.startsWith(QLatin1String("dec")) ? text.mid(3).toInt(&ok) : 0;
    // 18 digits keep every number inside a signed 64-bit value.
    if (!ok || digits < 1 || digits > 18 || text.mid(3) != QString::number(digits))
        return false;
    *format = SerialFormat{SerialFormat::Decimal, digits};
    return true;
}

QString SerialFormatName(const SerialFormat &format)
{
    switch (format.kind) {
    case SerialFormat::Le32: return QStringLiteral("le32");
    case SerialFormat::Be32: return QStringLiteral("be32");
    case SerialFormat::Decimal: break;
    }
    return QStringLiteral("dec%1").arg(format.digits);
}

QByteArray EncodeSerial(qint64 number, const SerialFormat &format)
{
    if (number < 0 || number > format.Largest())
        return QByteArray();
    if (format.kind == SerialFormat::Decimal)
        return QByteArray::number(number).rightJustified(format.digits, '0');
    QByteArray bytes(4, '\0');
    if (format.kind == SerialFormat::Le32)
        qToLittleEndian(quint32(number), bytes.data());
    else
        qToBigEndian(quint32(number), bytes.data());
    return bytes;
}

std::optional<qint64> DecodeSerial(const QByteArray &bytes, const SerialFormat &format)
{
    if (bytes.size() != format.Bytes())
        return std::nullopt;
    if (format.kind == SerialFormat::Decimal) {
        for (char c : bytes) {
            if (c < '0' || c > '9')
                return std::nullopt;
        }
        return bytes.toLongLong();
    }
    const quint32 word = format.kind == SerialFormat::Le32 ? qFromLittleEndian<quint32>(bytes.constData())
                                                             : qFromBigEndian<quint32>(bytes.constData());
    if (word == 0xFFFFFFFFu)
        return std::nullopt;
    return qint64(word);
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
