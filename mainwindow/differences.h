#ifndef DIFFERENCES_H
#define DIFFERENCES_H

#include "blockplan.h"
#include "firmwareimage.h"

#include <QAbstractTableModel>
#include <QVector>

// An address as the window's texts show it: 0x08003000.
QString AddressText(quint32 address);
qint64 DifferingBytes(const QVector<FlashDifference> &differences);

// The ranges a verify found differing: their address and length.
class DifferenceRanges : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Address, Length, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void SetDifferences(const QVector<FlashDifference> &newDifferences);
    const FlashDifference &At(int row) const { return differences.at(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVector<FlashDifference> differences;
};

// The rows of 16 bytes around one range, the file's bytes in columns
// 0-15 and the device's in 16-31, the row's address in the vertical
// header. The range's neighbours in its first and last row are shown too,
// so that what differs stands out from what does not: there the device
// holds the file's bytes, which the verify found equal. Bytes that differ
// carry a background on both sides; bytes the device never gave back (a
// short read) show as "--". A range longer than MaxRows rows is shown from
// its start only: nobody reads a megabyte of hex, and the table keeps a
// header section for every row.
class DifferenceBytes : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum class Side { File, Device };
    static constexpr int RowBytes = 16;
    static constexpr int MaxRows = 4096;
    static int Column(Side side, int offset) { return side == Side::File ? offset : RowBytes + offset; }

    using QAbstractTableModel::QAbstractTableModel;

    // The range at index among the differences that a verify of image found.
    void SetRange(const FirmwareImage &image, const QVector<FlashDifference> &differences, int index);
    // The range's bytes that the rows leave out.
    qint64 BytesLeftOut() const { return leftOut; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    enum Flag : quint8 { InFile = 1, FromDevice = 2, Differs = 4 };

    quint32 base = 0;               // the first row's address
    QByteArray fileBytes, deviceBytes;
    QVector<quint8> flags;          // a Flag set for each byte shown
    qint64 leftOut = 0;
};

#endif // DIFFERENCES_H
