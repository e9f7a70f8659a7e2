#include "differences.h"

#include <QColor>

QString AddressText(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

qint64 DifferingBytes(const QVector<FlashDifference> &differences)
{
    qint64 bytes = 0;
    for (const FlashDifference &difference : differences)
        bytes += difference.expected.size();
    return bytes;
}

void DifferenceRanges::SetDifferences(const QVector<FlashDifference> &newDifferences)
{
    beginResetModel();
    differences = newDifferences;
    endResetModel();
}

int DifferenceRanges::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : differences.size();
}

int DifferenceRanges::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DifferenceRanges::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const FlashDifference &difference = differences.at(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == Length)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    return index.column() == Address ? QVariant(AddressText(difference.address))
                                     : QVariant(int(difference.expected.size()));
}

QVariant DifferenceRanges::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return section == Address ? tr("Адрес") : tr("Длина");
}

// Outside every range but inside the image the device holds the file's
// bytes: the verify compared them. Widened blocks may differ in bytes of
// no segment, so the ranges' own expected bytes stand for the file there.
void DifferenceBytes::SetRange(const FirmwareImage &image, const QVector<FlashDifference> &differences, int index)
{
    beginResetModel();
    const FlashDifference &range = differences.at(index);
    base = range.address - range.address % RowBytes;
    // In 64 bits: a range may end at 0xFFFFFFFF.
    const quint64 end = quint64(range.address) + quint64(range.expected.size());
    const quint64 rowsEnd = (end + RowBytes - 1) / RowBytes * RowBytes;
    const quint64 shownEnd = qMin(rowsEnd, quint64(base) + quint64(MaxRows) * RowBytes);
    leftOut = qMax<qint64>(0, qint64(end - qMin(end, shownEnd)));
    const int size = int(shownEnd - base);
    fileBytes = QByteArray(size, '\0');
    flags = QVector<quint8>(size, 0);
    for (const ImageSegment &segment : image.Segments()) {
        const quint64 to = qMin(quint64(segment.LastAddress()) + 1, shownEnd);
        for (quint64 at = qMax<quint64>(segment.address, base); at < to; ++at) {
            fileBytes[int(at - base)] = segment.bytes.at(int(at - segment.address));
            flags[int(at - base)] = InFile | FromDevice;
        }
    }
    deviceBytes = fileBytes;
    for (const FlashDifference &difference : differences) {
        const quint64 to = qMin(quint64(difference.address) + quint64(difference.expected.size()), shownEnd);
        for (quint64 at = qMax<quint64>(difference.address, base); at < to; ++at) {
            const int shown = int(at - base), offset = int(at - difference.address);
            const bool held = offset < difference.held.size();
            fileBytes[shown] = difference.expected.at(offset);
            deviceBytes[shown] = held ? difference.held.at(offset) : '\0';
            flags[shown] = InFile | Differs | (held ? FromDevice : 0);
        }
    }
    endResetModel();
}

int DifferenceBytes::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : fileBytes.size() / RowBytes;
}

int DifferenceBytes::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2 * RowBytes;
}

QVariant DifferenceBytes::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const int at = index.row() * RowBytes + index.column() % RowBytes;
    const bool device = index.column() >= RowBytes;
    const quint8 flag = flags.at(at);
    // Both colours, so that a dark theme's light text stays readable.
    if (role == Qt::BackgroundRole && (flag & Differs))
        return QColor(255, 200, 200);
    if (role == Qt::ForegroundRole && (flag & Differs))
        return QColor(Qt::black);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole || !(flag & InFile))
        return QVariant();
    if (device && !(flag & FromDevice))
        return QStringLiteral("--");
    const char byte = (device ? deviceBytes : fileBytes).at(at);
    return QStringLiteral("%1").arg(quint8(byte), 2, 16, QLatin1Char('0'));
}

QVariant DifferenceBytes::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical)
        return AddressText(base + quint32(section * RowBytes));
    return QString::number(section % RowBytes, 16);
}
