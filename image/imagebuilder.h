#ifndef IMAGEBUILDER_H
#define IMAGEBUILDER_H

#include "firmwareimage.h"

#include <QString>

#include <map>

// Gathers the data records of a file into a FirmwareImage. Data may come
// in any order and may repeat bytes already placed, as long as it agrees
// with them. Limits keep a hostile file from taking gigabytes.
class ImageBuilder
{
public:
    static constexpr qint64 MaxBytes = 16 * 1024 * 1024;
    static constexpr int MaxPieces = 65536;

    enum Status { Added, Disagrees, PastEnd, TooManyBytes, TooManyPieces };

    // Places bytes from address on. On Disagrees *at gets the first
    // address whose byte differs from the one already there. A refused
    // Add leaves the builder as it was.
    Status Add(quint32 address, const QByteArray &bytes, quint32 *at = nullptr);
    // Hands out the image gathered so far and starts afresh.
    FirmwareImage Finish();

    // Why data was refused, for the limits and PastEnd.
    static QString Describe(Status status);

private:
    using Pieces = std::map<quint32, QByteArray>;

    // first: the piece holding address, else the first one after it.
    bool Agrees(Pieces::iterator first, quint32 address, const QByteArray &bytes, qint64 *covered, quint32 *at) const;
    bool StartsPiece(Pieces::iterator first, quint32 address) const;
    void FillGaps(Pieces::iterator first, quint32 address, const QByteArray &bytes);
    Pieces::iterator Place(quint32 address, const QByteArray &bytes);

    // Disjoint, but may touch until Finish joins them.
    Pieces pieces;
    qint64 byteCount = 0;
};

// The image with bytes put at address over whatever it held there, gaps
// included (per-device data such as a serial number). The bytes must not
// run past 0xFFFFFFFF.
FirmwareImage Overlay(const FirmwareImage &image, quint32 address, const QByteArray &bytes);

#endif // IMAGEBUILDER_H
