// Arbitrary text through the Intel HEX reader.

#include "imagecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckImage(ReadIntelHex(Input(data, size), QStringLiteral("fuzz.hex")));
    return 0;
}
