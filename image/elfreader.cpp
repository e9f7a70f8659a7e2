// ELF through libelf, where the system has it (elf32reader.cpp reads the
// headers itself elsewhere); the segments are placed in elfsegments.cpp.

#include "elfsegments.h"
#include "imagereaders.h"

#include <gelf.h>
#include <libelf.h>

namespace {

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

QString CheckHeader(Elf *elf)
{
    size_t identSize = 0;
    const char *ident = elf_getident(elf, &identSize);
    if (elf_kind(elf) != ELF_K_ELF || !ident || identSize < EI_NIDENT)
        return ElfFault::NotElf();
    const QString fault = ElfFault::Ident(uchar(ident[EI_CLASS]), uchar(ident[EI_DATA]));
    if (!fault.isEmpty())
        return fault;
    GElf_Ehdr header;
    if (!gelf_getehdr(elf, &header))
        return LibelfFault("unreadable ELF header");
    return ElfFault::Machine(header.e_machine);
}

QString ReadSegments(Elf *elf, LoadSegments *segments)
{
    size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0)
        return LibelfFault("unreadable program headers");
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (!gelf_getphdr(elf, int(i), &header))
            return LibelfFault("unreadable program header");
        const QString fault = segments->Add(int(i), header.p_type, header.p_offset, header.p_filesz, header.p_paddr);
        if (!fault.isEmpty())
            return fault;
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
        return ImageFailure(fileName, 0, ElfFault::NotElf());
    LoadSegments segments(bytes);
    QString fault = CheckHeader(elf);
    if (fault.isEmpty())
        fault = ReadSegments(elf, &segments);
    elf_end(elf);
    if (!fault.isEmpty())
        return ImageFailure(fileName, 0, fault);
    return segments.Image(fileName);
}
