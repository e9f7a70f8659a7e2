// Arbitrary bytes through our own ELF header reader, which must give what
// ReadElf gives (libelf, where the build has it): the same image, or a
// refusal from both.

#include "elf32reader.h"
#include "imagecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Input(data, size);
    const ImageResult ours = ReadElf32(bytes, QStringLiteral("fuzz.elf"));
    CheckImage(ours);
    const ImageResult theirs = ReadElf(bytes, QStringLiteral("fuzz.elf"));
    Require(ours.Ok() == theirs.Ok() && ours.image == theirs.image);
    return 0;
}
