#include "imagebuilder.h"

#include <algorithm>

namespace {

using Piece = std::pair<const quint32, QByteArray>;

constexpr quint64 AddressSpace = quint64(1) << 32;
// A piece this small is copied onto the one before it when they come to
// touch, so that data given from high addresses down does not stay one
// piece per record, while no Add copies more than this.
constexpr int SmallPiece = 4096;

quint64 EndOf(const Piece &piece)
{
    return quint64(piece.first) + quint64(piece.second.size());
}

} // namespace

ImageBuilder::Status ImageBuilder::Add(quint32 address, const QByteArray &bytes, quint32 *at)
{
    if (quint64(address) + quint64(bytes.size()) > AddressSpace)
        return PastEnd;
    auto first = pieces.upper_bound(address);
    if (first != pieces.begin() && EndOf(*std::prev(first)) > address)
        --first;
    qint64 covered = 0;
    if (!Agrees(first, address, bytes, &covered, at))
        return Disagrees;
    const qint64 fresh = bytes.size() - covered;
    if (byteCount + fresh > MaxBytes)
        return TooManyBytes;
    if (fresh > 0 && StartsPiece(first, address) && pieces.size() >= size_t(MaxPieces))
        return TooManyPieces;
    FillGaps(first, address, bytes);
    byteCount += fresh;
    return Added;
}

bool ImageBuilder::Agrees(Pieces::iterator first, quint32 address, const QByteArray &bytes, qint64 *covered,
                          quint32 *at) const
{
    const quint64 end = quint64(address) + quint64(bytes.size());
    for (auto piece = first; piece != pieces.end() && piece->first < end; ++piece) {
        const quint64 from = std::max<quint64>(address, piece->first);
        const quint64 to = std::min(end, EndOf(*piece));
        const char *mine = bytes.constData() + (from - address);
        const char *theirs = piece->second.constData() + (from - piece->first);
        const char *differs = std::mismatch(mine, mine + (to - from), theirs).first;
        if (differs != mine + (to - from)) {
            if (at)
                *at = quint32(from + quint64(differs - mine));
            return false;
        }
        *covered += qint64(to - from);
    }
    return true;
}

// Only a gap at address itself can start a new piece: later gaps follow a
// piece, and so does one where a piece ends.
bool ImageBuilder::StartsPiece(Pieces::iterator first, quint32 address) const
{
    return (first == pieces.end() || first->first > address)
        && (first == pieces.begin() || EndOf(*std::prev(first)) != address);
}

void ImageBuilder::FillGaps(Pieces::iterator first, quint32 address, const QByteArray &bytes)
{
    const quint64 end = quint64(address) + quint64(bytes.size());
    quint64 cursor = address;
    for (auto piece = first; cursor < end;) {
        if (piece != pieces.end() && piece->first <= cursor) {
            cursor = std::max(cursor, EndOf(*piece));
            ++piece;
            continue;
        }
        const quint64 gapEnd = piece == pieces.end() ? end : std::min<quint64>(end, piece->first);
        const auto placed = Place(quint32(cursor), bytes.mid(int(cursor - address), int(gapEnd - cursor)));
        cursor = EndOf(*placed);
        piece = std::next(placed);
    }
}

ImageBuilder::Pieces::iterator ImageBuilder::Place(quint32 address, const QByteArray &bytes)
{
    const auto next = pieces.lower_bound(address);
    Pieces::iterator piece;
    if (next != pieces.begin() && EndOf(*std::prev(next)) == address) {
        piece = std::prev(next);
        piece->second.append(bytes);
    } else {
        piece = pieces.emplace_hint(next, address, bytes);
    }
    if (next != pieces.end() && EndOf(*piece) == next->first && next->second.size() <= SmallPiece) {
        piece->second.append(next->second);
        pieces.erase(next);
    }
    return piece;
}

FirmwareImage ImageBuilder::Finish()
{
    FirmwareImage image;
    for (auto &piece : pieces) {
        if (!image.segments.isEmpty() && quint64(image.segments.last().LastAddress()) + 1 == piece.first)
            image.segments.last().bytes.append(piece.second);
        else
            image.segments.append({piece.first, piece.second});
    }
    for (ImageSegment &segment : image.segments)
        segment.bytes.squeeze();
    pieces.clear();
    byteCount = 0;
    return image;
}

QString ImageBuilder::Describe(Status status)
{
    switch (status) {
    case PastEnd:
        return QStringLiteral("data runs past address 0xFFFFFFFF");
    case TooManyBytes:
        return QStringLiteral("more than %1 MiB of data").arg(MaxBytes >> 20);
    case TooManyPieces:
        return QStringLiteral("data scattered over more than %1 separate pieces").arg(MaxPieces);
    case Disagrees:
        return QStringLiteral("data disagrees with data already placed");
    case Added:
        break;
    }
    return QString();
}

FirmwareImage Overlay(const FirmwareImage &image, quint32 address, const QByteArray &bytes)
{
    ImageBuilder builder;
    builder.Add(address, bytes);
    const quint64 last = quint64(address) + quint64(bytes.size());
    for (ImageSegment segment : image.Segments()) {
        // Where the segment and the overlay meet, the segment takes the
        // overlay's bytes, so that the builder finds them in agreement.
        for (quint64 at = qMax<quint64>(segment.address, address);
             at < qMin<quint64>(quint64(segment.LastAddress()) + 1, last); ++at)
            segment.bytes[int(at - segment.address)] = bytes.at(int(at - address));
        builder.Add(segment.address, segment.bytes);
    }
    return builder.Finish();
}
