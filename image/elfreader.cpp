// ELF through libelf: the file bytes of every loadable segment go to its
// physical (load) address, so initialised data that runs in RAM lands in
// flash after the code, where the startup code copies it from.

#include "imagebuilder.h"
#include "imagereaders.h"
#include "textrecords.h"

#include <QVector>

#include <gelf.h>
#include <libelf.h>

namespace {

struct LoadSegment
{
    int index = 0;
    quint32 address = 0;
    QByteArray bytes;
};

// libelf refuses every call until the version is set once per process;
// a function-local static makes that once, and thread-safe.
bool LibelfReady()
{
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    return ready;
}

QString LibelfFault(const char *what)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(what), QString::fromUtf8(elf_errmsg(-1)));
}

QString NotElf()
{
    return QStringLiteral("not an ELF file, or its header is cut short");
}

QString CheckHeader(Elf *elf)
{
    size_t identSize = 0;
    const char *ident = elf_getident(elf, &identSize);
    if (elf_kind(elf) != ELF_K_ELF || !ident || identSize < EI_NIDENT)
        return NotElf();
    if (ident[EI_CLASS] != ELFCLASS32)
        return QStringLiteral("not a 32-bit ELF file (class %1): only 32-bit ARM images can be flashed").arg(int(ident[EI_CLASS]));
    if (ident[EI_DATA] != ELFDATA2LSB)
        return QStringLiteral("not a little-endian ELF file: only little-endian ARM images can be flashed");
    GElf_Ehdr header;
    if (!gelf_getehdr(elf, &header))
        return LibelfFault("unreadable ELF header");
    if (header.e_machine != EM_ARM)
        return QStringLiteral("ELF file for machine %1, not ARM (%2)").arg(header.e_machine).arg(EM_ARM);
    return QString();
}

// The loadable segments with bytes in the file, in program header order.
QString LoadSegments(Elf *elf, const QByteArray &file, QVector<LoadSegment> *segments)
{
    size_t count = 0;
    quint64 total = 0;
    if (elf_getphdrnum(elf, &count) != 0)
        return LibelfFault("unreadable program headers");
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (!gelf_getphdr(elf, int(i), &header))
            return LibelfFault("unreadable program header");
        if (header.p_type != PT_LOAD || header.p_filesz == 0)
            continue;
        if (header.p_offset > quint64(file.size()) || header.p_filesz > quint64(file.size()) - header.p_offset)
            return QStringLiteral("segment %1 runs past the end of the file: the file is truncated").arg(i);
        if (header.p_paddr + header.p_filesz > (quint64(1) << 32))
            return QStringLiteral("segment %1 runs past 0xFFFFFFFF").arg(i);
        // Counted before copying: segments may all point at the same bytes.
        total += header.p_filesz;
        if (total > quint64(ImageBuilder::MaxBytes))
            return ImageBuilder::Describe(ImageBuilder::TooManyBytes);
        segments->append({int(i), quint32(header.p_paddr), file.mid(int(header.p_offset), int(header.p_filesz))});
    }
    if (segments->isEmpty())
        return QStringLiteral("no loadable bytes: no PT_LOAD segment holds file data");
    return QString();
}

// The segment before the one at index that placed the byte at address.
int EarlierSegment(const QVector<LoadSegment> &segments, int index, quint32 address)
{
    for (int i = 0; i < index; ++i) {
        if (address >= segments[i].address && address - segments[i].address < quint32(segments[i].bytes.size()))
            return segments[i].index;
    }
    return -1;
}

QString Place(const QVector<LoadSegment> &segments, ImageBuilder *builder)
{
    for (int i = 0; i < segments.size(); ++i) {
        quint32 at = 0;
        const ImageBuilder::Status status = builder->Add(segments[i].address, segments[i].bytes, &at);
        if (status == ImageBuilder::Disagrees)
            return QStringLiteral("segment %1 disagrees with segment %2 at %3")
                .arg(segments[i].index).arg(EarlierSegment(segments, i, at)).arg(Hex(at, 8));
        if (status != ImageBuilder::Added)
            return ImageBuilder::Describe(status);
    }
    return QString();
}

} // namespace

ImageResult ReadElf(const QByteArray &bytes, const QString &fileName)
{
    if (!LibelfReady())
        return ImageFailure(fileName, 0, LibelfFault("libelf unusable"));
    // libelf takes a writable image; reading leaves it as it is.
    QByteArray image(bytes);
    Elf *elf = elf_memory(image.data(), size_t(image.size()));
    if (!elf)
        return ImageFailure(fileName, 0, NotElf());
    QVector<LoadSegment> segments;
    QString fault = CheckHeader(elf);
    if (fault.isEmpty())
        fault = LoadSegments(elf, bytes, &segments);
    elf_end(elf);
    ImageBuilder builder;
    if (fault.isEmpty())
        fault = Place(segments, &builder);
    if (!fault.isEmpty())
        return ImageFailure(fileName, 0, fault);
    return {builder.Finish(), QString(), 0};
}
