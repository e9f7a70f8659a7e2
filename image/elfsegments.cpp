#include "elfsegments.h"

#include "imagebuilder.h"
#include "textrecords.h"

namespace {

constexpr quint32 LoadType = 1;  // PT_LOAD
constexpr int Class32 = 1, LittleEndian = 1, Arm = 40;

} // namespace

QString ElfFault::NotElf()
{
    return QStringLiteral("not an ELF file, or its header is cut short");
}

QString ElfFault::Ident(int elfClass, int byteOrder)
{
    if (elfClass != Class32)
        return QStringLiteral("not a 32-bit ELF file (class %1): only 32-bit ARM images can be flashed").arg(elfClass);
    if (byteOrder != LittleEndian)
        return QStringLiteral("not a little-endian ELF file: only little-endian ARM images can be flashed");
    return QString();
}

QString ElfFault::Machine(int machine)
{
    if (machine != Arm)
        return QStringLiteral("ELF file for machine %1, not ARM (%2)").arg(machine).arg(Arm);
    return QString();
}

QString LoadSegments::Add(int index, quint32 type, quint64 offset, quint64 fileSize, quint64 address)
{
    if (type != LoadType || fileSize == 0)
        return QString();
    if (offset > quint64(file.size()) || fileSize > quint64(file.size()) - offset)
        return QStringLiteral("segment %1 runs past the end of the file: the file is truncated").arg(index);
    if (address + fileSize > (quint64(1) << 32))
        return QStringLiteral("segment %1 runs past 0xFFFFFFFF").arg(index);
    // Counted before copying: segments may all point at the same bytes.
    total += fileSize;
    if (total > quint64(ImageBuilder::MaxBytes))
        return ImageBuilder::Describe(ImageBuilder::TooManyBytes);
    segments.append({index, quint32(address), file.mid(int(offset), int(fileSize))});
    return QString();
}

int LoadSegments::EarlierSegment(int i, quint32 address) const
{
    for (int j = 0; j < i; ++j) {
        if (address >= segments[j].address && address - segments[j].address < quint32(segments[j].bytes.size()))
            return segments[j].index;
    }
    return -1;
}

ImageResult LoadSegments::Image(const QString &fileName) const
{
    if (segments.isEmpty())
        return ImageFailure(fileName, 0, QStringLiteral("no loadable bytes: no PT_LOAD segment holds file data"));
    ImageBuilder builder;
    for (int i = 0; i < segments.size(); ++i) {
        quint32 at = 0;
        const ImageBuilder::Status status = builder.Add(segments[i].address, segments[i].bytes, &at);
        if (status == ImageBuilder::Disagrees)
            return ImageFailure(fileName, 0, QStringLiteral("segment %1 disagrees with segment %2 at %3")
                                                 .arg(segments[i].index).arg(EarlierSegment(i, at)).arg(Hex(at, 8)));
        if (status != ImageBuilder::Added)
            return ImageFailure(fileName, 0, ImageBuilder::Describe(status));
    }
    return {builder.Finish(), QString(), 0};
}
