#include "elf32reader.h"

#include "elfsegments.h"

namespace {

// Sizes and field offsets of the ELF32 file header, program header and
// section header. Program headers are read as 32 bytes apart whatever
// e_phentsize says, as libelf reads them: a file gives the same image on
// every system.
constexpr int IdentSize = 16, HeaderSize = 52, ProgramHeaderSize = 32, SectionHeaderSize = 40;
constexpr int ClassAt = 4, ByteOrderAt = 5, VersionAt = 6;
constexpr int MachineAt = 18, PhoffAt = 28, ShoffAt = 32, PhnumAt = 44, ShnumAt = 48;
constexpr int TypeAt = 0, OffsetAt = 4, PaddrAt = 12, FileSizeAt = 16;
constexpr int SectionSizeAt = 20, SectionInfoAt = 28;
// e_phnum when the count is in section 0's sh_info instead.
constexpr quint32 CountInSection0 = 0xFFFF;

// Readers of one field; the caller has checked that it lies in the file.
quint32 Le16(const QByteArray &bytes, quint64 at)
{
    return uchar(bytes[int(at)]) | quint32(uchar(bytes[int(at) + 1])) << 8;
}

quint32 Le32(const QByteArray &bytes, quint64 at)
{
    return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

// count tables of entrySize bytes from offset on lie inside the file.
// 64-bit sums of 32-bit fields cannot wrap.
bool Inside(const QByteArray &bytes, quint64 offset, quint64 count, quint64 entrySize)
{
    return offset <= quint64(bytes.size()) && count * entrySize <= quint64(bytes.size()) - offset;
}

// Identification bytes no ELF reader knows make a file that is not ELF, as
// for libelf; known but other than ours, the fault names them.
QString CheckIdent(const QByteArray &bytes)
{
    if (bytes.size() < IdentSize || !bytes.startsWith("\x7F" "ELF"))
        return ElfFault::NotElf();
    const int elfClass = uchar(bytes[ClassAt]), byteOrder = uchar(bytes[ByteOrderAt]);
    if (elfClass < 1 || elfClass > 2 || byteOrder < 1 || byteOrder > 2 || bytes[VersionAt] != 1)
        return ElfFault::NotElf();
    QString fault = ElfFault::Ident(elfClass, byteOrder);
    if (fault.isEmpty() && bytes.size() < HeaderSize)
        fault = ElfFault::NotElf();
    return fault.isEmpty() ? ElfFault::Machine(int(Le16(bytes, MachineAt))) : fault;
}

// Read only where the program header count overflows e_phnum: libelf
// leaves the section headers unread too, so a file cut short after its
// loadable bytes is flashed by either reader.
QString ExtendedCount(const QByteArray &bytes, quint64 *count)
{
    const quint64 offset = Le32(bytes, ShoffAt);
    if (offset == 0 || !Inside(bytes, offset, 1, SectionHeaderSize))
        return QStringLiteral("the program header count is in section 0, but the file holds no section 0");
    // libelf reads section 0 as part of the whole table, so the whole
    // table must be there; e_shnum 0: its count is in section 0 as well.
    quint64 sections = Le16(bytes, ShnumAt);
    if (sections == 0)
        sections = Le32(bytes, offset + SectionSizeAt);
    if (sections == 0 || !Inside(bytes, offset, sections, SectionHeaderSize))
        return QStringLiteral("the program header count is in section 0, but %1 section headers at %2 run past the "
                              "end of the file").arg(sections).arg(offset);
    *count = Le32(bytes, offset + SectionInfoAt);
    return QString();
}

QString ReadSegments(const QByteArray &bytes, LoadSegments *segments)
{
    const quint64 offset = Le32(bytes, PhoffAt);
    quint64 count = Le16(bytes, PhnumAt);
    if (count == CountInSection0) {
        const QString fault = ExtendedCount(bytes, &count);
        if (!fault.isEmpty())
            return fault;
    }
    if (offset == 0 || count == 0)
        return QString();
    if (!Inside(bytes, offset, count, ProgramHeaderSize))
        return QStringLiteral("%1 program headers at %2 run past the end of the file: the file is truncated")
            .arg(count).arg(offset);
    for (quint64 i = 0; i < count; ++i) {
        const quint64 at = offset + i * ProgramHeaderSize;
        const QString fault = segments->Add(int(i), Le32(bytes, at + TypeAt), Le32(bytes, at + OffsetAt),
                                            Le32(bytes, at + FileSizeAt), Le32(bytes, at + PaddrAt));
        if (!fault.isEmpty())
            return fault;
    }
    return QString();
}

} // namespace

ImageResult ReadElf32(const QByteArray &bytes, const QString &fileName)
{
    LoadSegments segments(bytes);
    QString fault = CheckIdent(bytes);
    if (fault.isEmpty())
        fault = ReadSegments(bytes, &segments);
    if (!fault.isEmpty())
        return ImageFailure(fileName, 0, fault);
    return segments.Image(fileName);
}
