// Arbitrary bytes through the ELF loading path: libelf and our placing of
// the loadable segments.

#include "imagecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckImage(ReadElf(Input(data, size), QStringLiteral("fuzz.elf")));
    return 0;
}
